import csv
import io
import json
import os
import re
from collections import Counter
from pathlib import Path

import pytest


def _typed_csv(text: str) -> list[dict]:
    rows = []
    for row in csv.DictReader(io.StringIO(text, newline="")):
        typed: dict[str, object] = {}
        for key, cell in row.items():
            if key in ("path", "grade", "dialect", "error"):
                typed[key] = cell or None
            elif key in ("empty", "chunked"):
                typed[key] = {"true": True, "false": False, "": None}[cell]
            elif key == "categories":
                typed[key] = cell.split(";") if cell else ([] if row["grade"] else None)
            else:
                typed[key] = int(cell) if cell else None
        rows.append(typed)
    return rows


@pytest.mark.parametrize("given", ["examples/", "../shared/corpus/"])
def test_every_format_carries_the_modules_answers_whatever_the_jobs(given, estates, run_cli):
    if given not in estates:
        pytest.skip(f"{given} is not present")
    expected = estates[given]
    done = {
        (fmt, jobs): run_cli("assess", given, "--format", fmt, "--jobs", str(jobs))
        for fmt, jobs in [("json", 2), ("json", 1), ("jsonl", 2), ("csv", 2)]
    }
    for run in done.values():
        assert (run.returncode, run.stderr) == (0, "")
    report = json.loads(done["json", 2].stdout)
    assert report["files"] == expected
    assert json.loads(done["json", 1].stdout) == report
    # A stream says where it ends: a row per file, then the summary the JSON report has.
    lines = [json.loads(line) for line in done["jsonl", 2].stdout.splitlines()]
    assert [line.pop("row") for line in lines] == ["file"] * len(expected) + ["summary"]
    assert lines[:-1] == expected
    assert lines[-1] == json.loads(done["json", 2].stdout)["summary"]
    assert _typed_csv(done["csv", 2].stdout) == expected

    summary = report["summary"]
    assert (summary["files"], summary["assessed"], summary["failed"]) == (len(expected), len(expected), 0)
    assert summary["grades"] == {g: sum(r["grade"] == g for r in expected) for g in ("simple", "moderate", "complex")}
    assert summary["turns"] == {
        phase: sum(r[f"{phase}_turns"] for r in expected) for phase in ("analysis", "conversion", "audit")
    }
    assert [c["path"] for c in summary["chunked"]] == [r["path"] for r in expected if r["chunked"]]
    used = Counter(c for r in expected for c in r["categories"])
    assert {c["category"]: c["files"] for c in summary["categories"]} == used
    assert {d["dialect"]: d["files"] for d in summary["dialects"]} == Counter(r["dialect"] for r in expected)
    counts = [c["files"] for c in summary["categories"]]
    assert counts == sorted(counts, reverse=True)


def _bad_estate(tmp_path: Path) -> Path:
    estate = tmp_path / "estate"
    (estate / "nested").mkdir(parents=True)
    (estate / "good.sql").write_text("MERGE INTO t USING s ON t.id = s.id\r\nWHEN MATCHED THEN DELETE;\r\n")
    (estate / "nested" / "empty.sql").write_bytes(b"")
    # Past the first read of a text stream, and after CR LF line ends: the offset is the file's own.
    (estate / "nested" / "latin1.sql").write_bytes(b"SELECT 1;\r\n" * 1000 + b"SELECT 'caf\xe9' FROM t;\n")
    (estate / "folder.sql").mkdir()
    (estate / "dangling.sql").symlink_to(estate / "gone.sql")
    (estate / "notes.txt").write_text("CURSOR")  # not a script: never listed
    return estate


def test_bad_files_are_reported_and_the_rest_still_assessed(tmp_path, run_cli):
    estate = _bad_estate(tmp_path)
    done = run_cli("assess", str(estate), str(tmp_path / "missing.sql"), "--format", "json", cwd=tmp_path)
    assert done.returncode == 1
    assert "Traceback" not in done.stderr
    report = json.loads(done.stdout)
    rows = {Path(r["path"]).name: r for r in report["files"]}
    assert list(rows) == ["dangling.sql", "folder.sql", "good.sql", "empty.sql", "latin1.sql", "missing.sql"]

    reasons = {name: row["error"] for name, row in rows.items() if row["error"]}
    assert reasons == {
        "dangling.sql": "no such file or directory",
        "folder.sql": "is a directory",
        "latin1.sql": "not valid UTF-8 (byte 0xe9 at offset 11011)",
        "missing.sql": "no such file or directory",
    }
    assert all(row["grade"] is None for name, row in rows.items() if name in reasons)
    assert {(Path(f["path"]).name, f["reason"]) for f in report["summary"]["failures"]} == set(reasons.items())

    # The CRLF line ends are read as the modules read them: two lines, one complex construct.
    good = rows["good.sql"]
    assert (good["grade"], good["total_lines"], good["effective_lines"], good["empty"]) == ("complex", 2, 2, False)
    empty = rows["empty.sql"]
    assert (empty["grade"], empty["total_lines"], empty["empty"], empty["error"]) == ("simple", 0, True, None)
    assert report["summary"]["empty"] == 1

    # The failures are data: every format still carries them, and the table names them too.
    as_csv = run_cli("assess", str(estate), "--format", "csv", cwd=tmp_path)
    assert as_csv.returncode == 1
    assert {Path(r["path"]).name: r["error"] for r in _typed_csv(as_csv.stdout) if r["error"]} == {
        k: v for k, v in reasons.items() if k != "missing.sql"
    }
    table = run_cli("assess", str(estate), "--format", "table", cwd=tmp_path)
    assert table.returncode == 1
    assert "not valid UTF-8 (byte 0xe9 at offset 11011)" in table.stdout


def test_files_that_cannot_be_opened_or_read_are_reported(tmp_path, run_cli):
    locked = tmp_path / "locked.sql"
    locked.write_text("SELECT 1")
    locked.chmod(0)
    # Root opens any file whatever its mode; a file that fails while being read stands in.
    unreadable, reason = (str(locked), "permission denied")
    if os.geteuid() == 0:
        if not Path("/proc/self/mem").exists():
            pytest.skip("no file here that root cannot read")
        unreadable, reason = ("/proc/self/mem", "input/output error")
    done = run_cli("assess", unreadable, "--format", "jsonl")
    assert done.returncode == 1
    assert json.loads(done.stdout.splitlines()[0])["error"] == reason


@pytest.mark.parametrize(
    "args",
    [
        ["assess"],
        ["assess", "examples/", "--jobs", "0"],
        ["assess", "examples/", "--format", "xml"],
        ["classify"],
        ["knowledge", "examples/01_daily_orders_query.sql", "--gotchas", "examples/knowledge/gotchas.md"],
        ["frobnicate"],
    ],
)
def test_usage_errors_exit_with_2(args, run_cli):
    done = run_cli(*args)
    assert done.returncode == 2
    assert done.stdout == ""
    assert "Usage:" in done.stderr and "Traceback" not in done.stderr


def test_output_file_glob_and_format_default(tmp_path, run_cli):
    target = tmp_path / "report.json"
    done = run_cli("assess", "examples/", "--output", str(target))
    assert done.returncode == 0 and done.stdout == ""
    written = json.loads(target.read_text())  # off a terminal the default is JSON
    assert {r["path"] for r in written["files"]} >= {"examples/01_daily_orders_query.sql"}

    only = run_cli("assess", "examples/", "--glob", "0[12]_*.sql", "--format", "jsonl")
    assert [json.loads(line)["path"] for line in only.stdout.splitlines()[:-1]] == [
        "examples/01_daily_orders_query.sql",
        "examples/02_customer_rollup.sql",
    ]


def test_table_colours_and_debug_events_stay_off_unless_asked(run_cli):
    coloured = run_cli("assess", "examples/", "--format", "table", env={"FORCE_COLOR": "1"})
    plain = run_cli("assess", "examples/", "--format", "table", env={"FORCE_COLOR": "1", "NO_COLOR": "1"})
    # NO_COLOR takes the colours away and leaves bold and dim, as that convention asks.
    colour = re.compile(r"\x1b\[(?:\d+;)*(?:3[0-9]|9[0-7])(?:;\d+)*m")
    assert colour.search(coloured.stdout)
    assert not colour.search(plain.stdout)
    for heading in ("Files per grade", "Turn budgets", "Read in chunks", "Construct categories"):
        assert heading in plain.stdout
    assert plain.stderr == ""

    verbose = run_cli("assess", "examples/", "--format", "jsonl", "--verbose")
    assert "sql_classified" in verbose.stderr
    assert "sql_classified" not in verbose.stdout
