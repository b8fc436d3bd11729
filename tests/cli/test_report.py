import json
import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path
from types import SimpleNamespace

import pytest

openpyxl = pytest.importorskip("openpyxl")
pytest.importorskip("jinja2")
pytest.importorskip("xlsxwriter")

from tessera_cli.estate import REPORT_FIELDS, discover  # noqa: E402
from tessera_cli.report import data as report_data  # noqa: E402
from tessera_cli.report import html as report_html  # noqa: E402
from tessera_cli.report import xlsx as report_xlsx  # noqa: E402

XSS = "<img src=x onerror=alert(1)>.sql"


def page_data(page: str) -> dict:
    found = re.search(r'<script type="application/json" id="estate-data">(.*?)</script>', page, re.S)
    assert found, "the page embeds no data"
    return json.loads(found.group(1))


def own_markup(page: str) -> str:
    """The page without the charting library's bundle, whose code is not ours to inspect."""
    start = page.index("<script nonce=")
    end = page.index("</script>", start)
    return page[:start] + page[end:]


def hostile_estate(root: Path) -> Path:
    estate = root / "estate"
    (estate / 'quo"te\'s & <b>').mkdir(parents=True)
    (estate / XSS).write_text("SELECT 1;\n")
    (estate / 'quo"te\'s & <b>' / "a&b.sql").write_text("CREATE PROCEDURE p AS BEGIN SELECT 1 END\n")
    (estate / "=HYPERLINK(1).sql").write_text("SELECT 2;\n")
    (estate / os.fsdecode(b"caf\xe9.sql")).write_text("SELECT 3;\n")
    (estate / "bad.sql").write_bytes(b"SELECT '\xff';\n")
    (estate / "folder.sql").mkdir()
    return estate


def test_the_extension_chooses_the_format_and_anything_else_is_a_usage_error(run_cli, tmp_path):
    for args in (["report", "examples/"], ["report", "examples/", "-o", str(tmp_path / "r.pdf")],
                 ["report", "examples/", "-o", str(tmp_path / "r")]):
        run = run_cli(*args)
        assert run.returncode == 2, args
        assert not list(tmp_path.iterdir())
    assert "neither .html nor .xlsx" in run_cli("report", "examples/", "-o", str(tmp_path / "r.pdf")).stderr


def test_without_its_libraries_the_command_says_what_to_install(run_cli, tmp_path):
    for fmt, hidden in (("html", "jinja2"), ("xlsx", "xlsxwriter")):
        script = (
            f"import sys; sys.modules[{hidden!r}] = None; "
            f"sys.argv = ['tessera', 'report', 'examples/', '-o', {str(tmp_path / ('r.' + fmt))!r}]; "
            "from tessera_cli import main; main()"
        )
        run = subprocess.run([sys.executable, "-c", script], cwd=Path(__file__).resolve().parents[2],
                             capture_output=True, text=True, timeout=120)
        assert run.returncode == 2
        assert hidden in run.stderr and "tessera-native[report]" in run.stderr
        assert not (tmp_path / f"r.{fmt}").exists()


def test_page_is_self_contained_and_its_tiles_and_data_are_the_estates(run_cli, tmp_path):
    out = tmp_path / "r.html"
    run = run_cli("report", "examples/", "-o", str(out), "--jobs", "2")
    assert (run.returncode, run.stderr) == (0, "")
    assessed = json.loads(run_cli("assess", "examples/", "--format", "json").stdout)
    summary = assessed["summary"]
    page = out.read_text(encoding="utf-8")
    mine = own_markup(page)

    # Nothing is fetched: no external reference of any kind, and a policy that forbids it.
    assert not re.search(r"\b(src|href)\s*=", mine, re.I)
    assert not re.search(r"https?://|@import|url\(", mine, re.I)
    assert "default-src 'none'" in page
    nonce = re.search(r"'nonce-([^']+)'", page).group(1)
    scripts = re.findall(r"<script([^>]*)>", page)
    assert sorted(scripts) == sorted([' type="application/json" id="estate-data"', f' nonce="{nonce}"', f' nonce="{nonce}"'])

    tiles = dict(re.findall(r'data-tile="(\w+)">\s*<span class="value">([^<]*)</span>', page))
    assert tiles["files"] == str(summary["files"])
    assert tiles["total_lines"] == f"{summary['total_lines']:,}"
    assert tiles["effective_lines"] == f"{summary['effective_lines']:,}"
    for phase in ("analysis", "conversion", "audit"):
        assert tiles[f"{phase}_turns"] == f"{summary['turns'][phase]:,}"
    assert tiles["chunked"] == str(len(summary["chunked"]))
    assert tiles["failed"] == "0"

    data = page_data(page)
    files = data["files"]
    paths = [(data["dirs"][d] + "/" if data["dirs"][d] else "") + n for d, n in zip(files["dir"], files["name"])]
    assert paths == [row["path"] for row in assessed["files"]]
    assert files["tc"] == [row["conversion_turns"] for row in assessed["files"]]
    assert [data["grades"][g] for g in files["grade"]] == [row["grade"] for row in assessed["files"]]
    cats = [[c for b, c in enumerate(data["categories"]) if m >> b & 1] for m in files["cats"]]
    assert [sorted(c) for c in cats] == [row["categories"] for row in assessed["files"]]
    assert data["charts"]["grades"]["files"] == [summary["grades"][g] for g in ("simple", "moderate", "complex")]
    assert sum(data["charts"]["turns"]["conversion"]) == summary["turns"]["conversion"]
    assert sum(data["charts"]["points"]["n"]) == summary["assessed"]
    assert [[paths[i], files["lines"][i], files["sections"][i]] for i in data["chunked"]] == [
        [c["path"], c["total_lines"], c["sections"]] for c in summary["chunked"]
    ]


def test_hostile_names_and_failing_files_stay_text_in_page_and_workbook(run_cli, tmp_path):
    estate = hostile_estate(tmp_path)
    for fmt in ("html", "xlsx"):
        run = run_cli("report", str(estate), "-o", str(tmp_path / f"r.{fmt}"))
        assert run.returncode == 1, run.stderr
        assert "2 of 6 files could not be read" in run.stderr
    # A name that is not UTF-8, given on the command line rather than found in a folder.
    named = subprocess.run(
        [sys.executable, "-m", "tessera_cli", "report", os.fsencode(estate) + b"/caf\xe9.sql", "-o", tmp_path / "one.html"],
        capture_output=True, timeout=120,
    )
    assert named.returncode == 0, named.stderr
    assert page_data((tmp_path / "one.html").read_text(encoding="utf-8"))["files"]["name"] == ["caf\\udce9.sql"]
    assessed = json.loads(run_cli("assess", str(estate), "--format", "json").stdout)
    expected = [row["path"] for row in assessed["files"]]
    assert any(path.endswith("caf\\udce9.sql") for path in expected)

    page = (tmp_path / "r.html").read_text(encoding="utf-8")
    mine = own_markup(page)
    # Tags in names never reach the markup: only the template's own elements are there.
    assert "<img" not in mine.lower() and "<b>" not in mine
    assert "onerror" not in mine.replace("onerror=alert(1)\\u003e", "")
    data = page_data(page)
    shown = [(data["dirs"][d] + "/" if data["dirs"][d] else "") + n for d, n in zip(data["files"]["dir"], data["files"]["name"])]
    assert shown == expected
    assert [(shown[i], data["reasons"][data["files"]["error"][i]]) for i in data["failures"]] == [
        (f["path"], f["reason"]) for f in assessed["summary"]["failures"]
    ]
    assert data["tiles"]["failed"] == 2

    book = openpyxl.load_workbook(tmp_path / "r.xlsx")
    rows = list(book["Files"].iter_rows(min_row=2, values_only=True))
    assert [row[0] for row in rows] == expected
    formula_row = next(row for row in rows if row[0].endswith("=HYPERLINK(1).sql"))
    assert isinstance(formula_row[0], str)
    assert book["Files"]["A2"].data_type == "s"
    assert sorted(book["Failures"].iter_rows(min_row=2, values_only=True)) == sorted(
        (f["path"], f["reason"]) for f in assessed["summary"]["failures"]
    )


@pytest.mark.parametrize("case", ["empty", "all-failing"])
def test_an_estate_with_nothing_assessed_still_gets_both_reports(case, run_cli, tmp_path):
    estate = tmp_path / "estate"
    estate.mkdir()
    if case == "all-failing":
        for i in range(3):
            (estate / f"f{i}.sql").write_bytes(b"\xfe\xff")
    for fmt in ("html", "xlsx"):
        out = tmp_path / f"r.{fmt}"
        run = run_cli("report", str(estate), "-o", str(out))
        assert run.returncode == (1 if case == "all-failing" else 0), run.stderr
        assert out.stat().st_size > 0
    data = page_data((tmp_path / "r.html").read_text(encoding="utf-8"))
    assert data["tiles"]["files"] == data["tiles"]["failed"] == (3 if case == "all-failing" else 0)
    assert data["charts"]["points"]["n"] == [] and data["charts"]["turns"]["folders"] == []
    book = openpyxl.load_workbook(tmp_path / "r.xlsx")
    assert book.sheetnames[:2] == ["Summary", "Files"] and "Failures" in book.sheetnames
    assert book["Failures"].max_row == (4 if case == "all-failing" else 1)


def test_a_failed_write_keeps_the_previous_report(run_cli, tmp_path):
    from tessera_cli.report import write_atomically

    missing = run_cli("report", "examples/", "-o", str(tmp_path / "absent" / "r.html"))
    assert missing.returncode == 3 and "cannot write" in missing.stderr

    out = tmp_path / "r.html"
    out.write_text("previous")

    def interrupted(path):
        path.write_text("half a rep")
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        write_atomically(out, interrupted)
    assert out.read_text() == "previous"
    assert [p.name for p in tmp_path.iterdir()] == ["r.html"]

    # Through a link, the report replaces the link's target and the link stays.
    link = tmp_path / "latest.html"
    link.symlink_to(out)
    write_atomically(link, lambda path: path.write_text("new"))
    assert link.is_symlink() and out.read_text() == "new"


# ---- the optional modules -----------------------------------------------------------------------

@pytest.fixture
def assess_without_dialect(monkeypatch):
    """assess as it was before it named each file's dialect, so that the report asks the module it is
    given (the path a host whose assess rows lack the column takes)."""
    import tessera_cli.rows

    at = REPORT_FIELDS.index("dialect")
    assess_rows = tessera_cli.rows.assess_rows
    monkeypatch.setattr(tessera_cli.rows, "assess_rows", lambda targets, jobs: (
        row[:at] + (None,) + row[at + 1:] for row in assess_rows(targets, jobs)))
    has_field = report_data._has_field
    monkeypatch.setattr(report_data, "_has_field", lambda name: name != "dialect" and has_field(name))


def _fake_modules():
    """Stand-ins with the interfaces the dialect and inventory modules are specified to have."""

    def detect_dialect(text):
        return SimpleNamespace(platform="sqlserver" if "CREATE PROC" in text.upper() else None)

    def grade_objects(text):
        found = []
        for number, line in enumerate(text.splitlines(), 1):
            if line.upper().startswith("CREATE PROC"):
                result = SimpleNamespace(
                    complexity="complex", effective_lines=number * 10, recommended_analysis_turns=2,
                    recommended_conversion_turns=number, recommended_audit_turns=1,
                )
                obj = SimpleNamespace(kind="procedure", name=f"p{number}", statement="create",
                                      first_line=number, last_line=number)
                found.append(SimpleNamespace(object=obj, result=result))
        return found

    return {"dialect_detect": SimpleNamespace(detect_dialect=detect_dialect),
            "inventory": SimpleNamespace(grade_objects=grade_objects)}


def _procedures(root: Path, sizes: list[int]) -> list:
    for i, size in enumerate(sizes):
        lines = ["SELECT 1;"] * size + ["CREATE PROC x AS SELECT 1"]
        (root / f"p{i}.sql").write_text("\n".join(lines) + "\n")
    (root / "plain.sql").write_text("SELECT 1;\n")
    (root / "broken.sql").write_bytes(b"\xff")
    return discover([str(root)], "*.sql")


def test_dialects_and_objects_join_the_report_when_their_modules_are_there(tmp_path, assess_without_dialect):
    targets = _procedures(tmp_path, list(range(25)))
    estate = report_data.collect(targets, 2, modules=_fake_modules())
    data = report_data.columnar(estate)
    assert data["tiles"]["objects"] == 25
    assert data["dialects"] == ["sqlserver", "undecided"]
    assert data["charts"]["dialects"]["files"] == [25, 1]
    assert [data["dialects"][c] if c >= 0 else None for c in data["files"]["dialect"]] == [
        None if r.failed else ("undecided" if r.path.endswith("plain.sql") else "sqlserver") for r in estate.files
    ]
    # Hardest first: most conversion turns, and only twenty of them.
    assert [row[7] for row in data["hardest"]] == list(range(25, 5, -1))
    assert data["charts"]["grades"]["objects"] == [0, 0, 25]

    out = tmp_path / "r.xlsx"
    report_xlsx.write(estate, data, out)
    book = openpyxl.load_workbook(out)
    assert book.sheetnames == ["Summary", "Files", "Objects", "Failures"]
    assert book["Objects"].max_row == 26
    assert [c.value for c in book["Files"][1]][:3] == ["path", "grade", "dialect"]
    with zipfile.ZipFile(out) as archive:
        assert len([n for n in archive.namelist() if n.startswith("xl/charts/chart")]) == 3


def test_a_script_that_breaks_an_optional_module_keeps_its_row(tmp_path, assess_without_dialect):
    targets = _procedures(tmp_path, [1, 2])
    fakes = _fake_modules()
    real_detect, real_grade = fakes["dialect_detect"].detect_dialect, fakes["inventory"].grade_objects

    def fragile(real):
        def call(text):
            if text.startswith("SELECT 1;\nCREATE"):
                raise MemoryError("too much")
            return real(text)
        return call

    modules = {"dialect_detect": SimpleNamespace(detect_dialect=fragile(real_detect)),
               "inventory": SimpleNamespace(grade_objects=fragile(real_grade))}
    estate = report_data.collect(targets, 2, modules=modules)
    assert [r.path.rpartition("/")[2] for r in estate.files] == ["broken.sql", "p0.sql", "p1.sql", "plain.sql"]
    assert estate.dialects == [None, "undecided", "sqlserver", "undecided"]
    assert [o.path.rpartition("/")[2] for o in estate.objects] == ["p1.sql"]


def test_without_those_modules_their_parts_say_not_available(tmp_path, assess_without_dialect):
    targets = _procedures(tmp_path, [1, 2])
    estate = report_data.collect(targets, 1, modules={})
    data = report_data.columnar(estate)
    assert estate.dialects is None and estate.objects is None
    assert data["dialects"] is None and data["hardest"] is None and data["charts"]["dialects"] is None
    page = report_html.render(estate, [str(tmp_path)])
    assert re.search(r'data-tile="objects">\s*<span class="value">not available<', page)
    out = tmp_path / "r.xlsx"
    report_xlsx.write(estate, data, out)
    book = openpyxl.load_workbook(out)
    assert book.sheetnames == ["Summary", "Files", "Failures"]
    summary = {row[0]: row[1] for row in book["Summary"].iter_rows(values_only=True) if row[0]}
    assert summary["objects"] == "not available" and summary["dialects: not available"] is None
    with zipfile.ZipFile(out) as archive:
        assert len([n for n in archive.namelist() if n.startswith("xl/charts/chart")]) == 2


# ---- the workbook ----------------------------------------------------------------------------------

def test_a_sheet_past_the_row_limit_continues_on_the_next(tmp_path, assess_without_dialect):
    estate_dir = tmp_path / "estate"
    estate_dir.mkdir()
    for i in range(7):
        (estate_dir / f"f{i}.sql").write_text("SELECT 1;\n" * (i + 1))
    estate = report_data.collect(discover([str(estate_dir)], "*.sql"), 1, modules={})
    out = tmp_path / "r.xlsx"
    report_xlsx.write(estate, report_data.columnar(estate), out, max_rows=4)
    book = openpyxl.load_workbook(out)
    assert book.sheetnames == ["Summary", "Files", "Files (2)", "Files (3)", "Failures"]
    names = []
    for title in ("Files", "Files (2)", "Files (3)"):
        sheet = book[title]
        assert sheet.max_row <= 4
        assert sheet.freeze_panes == "A2"
        assert sheet.auto_filter.ref.startswith("A1:")
        assert sheet["A1"].value == "path"
        names += [row[0] for row in sheet.iter_rows(min_row=2, values_only=True)]
    assert names == [r.path for r in estate.files]


def test_workbook_summary_and_number_formats(run_cli, tmp_path):
    out = tmp_path / "r.xlsx"
    assert run_cli("report", "examples/", "-o", str(out)).returncode == 0
    assessed = json.loads(run_cli("assess", "examples/", "--format", "json").stdout)
    book = openpyxl.load_workbook(out)
    summary = {row[0]: row[1] for row in book["Summary"].iter_rows(values_only=True) if row[0]}
    assert summary["files"] == assessed["summary"]["files"]
    assert summary["effective lines"] == assessed["summary"]["effective_lines"]
    assert summary["conversion turns"] == assessed["summary"]["turns"]["conversion"]
    files = book["Files"]
    header = [c.value for c in files[1]]
    rows = [dict(zip(header, row)) for row in files.iter_rows(min_row=2, values_only=True)]
    assert [(r["path"], r["grade"], r["effective lines"], r["conversion turns"]) for r in rows] == [
        (f["path"], f["grade"], f["effective_lines"], f["conversion_turns"]) for f in assessed["files"]
    ]
    assert files.cell(2, header.index("bytes") + 1).number_format == "#,##0"
    assert files.column_dimensions["A"].width >= 40
    assert files.freeze_panes == "A2" and files.auto_filter.ref == f"A1:{files.cell(1, len(header)).column_letter}{len(rows) + 1}"


# ---- aggregation ----------------------------------------------------------------------------------

def test_top_folders_are_taken_below_what_all_paths_share():
    assert report_data.top_folder(["a/b/x.sql", "a/b/c/y.sql", "a/b/d/e/z.sql"]) == ["a/b/", "a/b/c/", "a/b/d/"]
    assert report_data.top_folder(["x.sql", "y.sql"]) == ["./", "./"]
    assert report_data.top_folder(["p/x.sql", "q/y.sql"]) == ["./p/", "./q/"]
    assert report_data.top_folder([]) == []


def test_the_scatter_stays_bounded_and_keeps_every_file(monkeypatch):
    monkeypatch.setattr(report_data, "MAX_POINTS", 200)
    files = [
        report_data.FileReport(f"f{i}.sql", grade="simple", effective_lines=i * 7, conversion_turns=i % 5,
                               analysis_turns=1, audit_turns=1)
        for i in range(2000)
    ] + [
        report_data.FileReport("huge.sql", grade="complex", effective_lines=250_000, conversion_turns=30,
                               analysis_turns=7, audit_turns=3),
        report_data.FileReport("broken.sql", error="not valid UTF-8"),
    ]
    estate = report_data.Estate(files, report_data.summarize(files))
    points = report_data.columnar(estate)["charts"]["points"]
    assert len(points["n"]) <= 200
    assert sum(points["n"]) == 2001
    # A point stands where its files are on average, and the outlier exactly where it is.
    assert max(points["e"]) == 250_000
    simple = [(e, n) for g, e, n in zip(points["g"], points["e"], points["n"]) if g == 0]
    assert sum(e * n for e, n in simple) == pytest.approx(sum(i * 7 for i in range(2000)), rel=0.01)
