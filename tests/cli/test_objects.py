"""The inventory in the command: tessera objects, assess --objects in each format, plan --by-object."""

import csv
import io
import json

from .conftest import _run_cli

SCRIPT = """\
CREATE TABLE dbo.t (a int)
GO
CREATE PROCEDURE dbo.small AS SELECT 1
GO
CREATE PROCEDURE dbo.big AS
BEGIN
  MERGE dbo.t AS d USING dbo.s AS s ON d.a = s.a WHEN MATCHED THEN UPDATE SET a = 1;
END
GO
"""


class Run:
    def __init__(self, done):
        self.output = done.stdout
        self.errors = done.stderr
        self.exit_code = done.returncode


def run(*args):
    return Run(_run_cli(*args))


def estate(tmp_path):
    (tmp_path / "a.sql").write_text(SCRIPT, encoding="utf-8")
    (tmp_path / "b.sql").write_text("SELECT 1;\n", encoding="utf-8")
    (tmp_path / "bad.sql").write_bytes(b"\xff")
    return tmp_path


def test_objects_command(tmp_path):
    path = estate(tmp_path) / "a.sql"
    result = run("objects", str(path), "-f", "json")
    document = json.loads(result.output)
    assert [(o["kind"], o["name"], o["first_line"], o["last_line"], o["grade"]) for o in document["objects"]] == [
        ("table", "dbo.t", 1, 1, "simple"),
        ("procedure", "dbo.small", 3, 3, "moderate"),
        ("procedure", "dbo.big", 5, 8, "complex"),
    ]
    summary = document["summary"]
    assert summary["by_kind"] == {"procedure": 2, "table": 1}
    assert summary["by_grade"] == {"simple": 1, "moderate": 1, "complex": 1}
    assert summary["hardest"][0]["name"] == "dbo.big"
    assert summary["turns"]["conversion"] == sum(o["conversion_turns"] for o in document["objects"])
    table = run("objects", str(path), "-f", "table")
    assert "dbo.big" in table.output and "Hardest objects" in table.output
    failed = run("objects", str(tmp_path / "bad.sql"), "-f", "json")
    assert failed.exit_code == 1 and "not valid UTF-8" in failed.errors


def test_assess_objects_in_every_format(tmp_path):
    root = str(estate(tmp_path))
    document = json.loads(run("assess", root, "--objects", "-f", "json").output)
    assert [o["path"].rsplit("/", 1)[-1] for o in document["objects"]] == ["a.sql"] * 3
    assert document["summary"]["objects"]["objects"] == 3
    assert len(document["files"]) == 3  # the file rows are unchanged

    lines = [json.loads(line) for line in run("assess", root, "--objects", "-f", "jsonl").output.splitlines()]
    rows = [line.get("row") for line in lines if line.get("row") != "summary"]
    # Each file's objects follow its own row.
    first_object = rows.index("object")
    assert lines[first_object - 1]["path"].endswith("a.sql") and rows[first_object : first_object + 3] == ["object"] * 3

    table = list(csv.DictReader(io.StringIO(run("assess", root, "--objects", "-f", "csv").output)))
    assert [row["name"] for row in table] == ["dbo.t", "dbo.small", "dbo.big"]
    assert {row["row"] for row in table} == {"object"}

    plain = json.loads(run("assess", root, "-f", "json").output)
    assert "objects" not in plain and "objects" not in plain["summary"]


def test_plan_by_object(tmp_path):
    path = tmp_path / "long.sql"
    path.write_text("CREATE PROCEDURE dbo.p AS\n" + "SELECT 1;\n" * 700, encoding="utf-8")
    text = run("plan", "--by-object", "--max-section-lines", "300", str(path)).output
    assert "   - Lines 151-426: procedure dbo.p, continued, part 1 of 2: SELECT 1;" in text.splitlines()
    assert run("plan", str(path)).output != text
    assert run("plan", "--by-object", "--max-section-lines", "10", str(path)).exit_code == 2
