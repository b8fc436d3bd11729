import json
import subprocess
import sys
from pathlib import Path

import pytest

from agents.tessera.complexity import plan_reading_strategy
from agents.tessera.reference_curator import detect_construct_categories, select_knowledge


ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = sorted(p.relative_to(ROOT).as_posix() for p in (ROOT / "examples").glob("*.sql"))
KNOWLEDGE = ROOT / "examples" / "knowledge"
CLASSIFY_KEYS = [
    "path", "grade", "effective_lines", "stored_proc_count", "complex_construct_count",
    "moderate_construct_count", "temp_table_count", "cte_count", "analysis_turns",
    "conversion_turns", "audit_turns", "error",
]


def test_classify_gives_the_grade_counts_and_budgets_of_each_file(estates, tmp_path, run_cli):
    broken = tmp_path / "broken.sql"
    broken.write_bytes(b"SELECT 1;\n\x80")
    done = run_cli("classify", *EXAMPLES, str(broken), "--format", "json")
    assert done.returncode == 1
    rows = json.loads(done.stdout)
    expected = [{key: row[key] for key in CLASSIFY_KEYS} for row in estates["examples/"]]
    assert rows[:-1] == expected
    assert rows[-1]["error"] == "not valid UTF-8 (byte 0x80 at offset 10)"
    assert f"{broken.as_posix()}: not valid UTF-8" in done.stderr

    table = run_cli("classify", EXAMPLES[0], "--format", "table")
    assert table.returncode == 0 and EXAMPLES[0] in table.stdout


@pytest.mark.parametrize("name", EXAMPLES)
def test_plan_prints_the_modules_instructions(name, run_cli):
    done = run_cli("plan", name)
    assert done.returncode == 0, done.stderr
    assert done.stdout == plan_reading_strategy(ROOT / name).format_reading_instructions(name) + "\n"


def test_plan_of_an_unreadable_file_says_why(tmp_path, run_cli):
    done = run_cli("plan", str(tmp_path))
    assert done.returncode == 1
    assert done.stdout == ""
    assert done.stderr.strip() == f"tessera: {tmp_path.as_posix()}: is a directory"


@pytest.fixture(scope="module")
def documents():
    names = ("mapping", "gotchas", "limitations")
    if not all((KNOWLEDGE / f"{n}.md").is_file() for n in names):
        pytest.skip("the sample knowledge documents are not there")
    return {n: (KNOWLEDGE / f"{n}.md").read_text(encoding="utf-8") for n in names}


def test_knowledge_prints_or_writes_the_selected_documents(documents, tmp_path, run_cli):
    script = EXAMPLES[-1]
    args = ["knowledge", script, "--mapping", f"{KNOWLEDGE}/mapping.md", "--gotchas", f"{KNOWLEDGE}/gotchas.md",
            "--limitations", f"{KNOWLEDGE}/limitations.md"]
    written = run_cli(*args, "--out", str(tmp_path))
    printed = run_cli(*args)
    assert (written.returncode, printed.returncode) == (0, 0), written.stderr + printed.stderr

    categories = detect_construct_categories((ROOT / script).read_text(encoding="utf-8"))
    selected = select_knowledge(
        categories,
        full_mapping=documents["mapping"],
        full_gotchas=documents["gotchas"],
        full_limitations=documents["limitations"],
    )
    assert {p.name: p.read_text(encoding="utf-8") for p in tmp_path.iterdir()} == {
        f"{name}.md": text for name, text in selected.items()
    }
    kept = len(selected["mapping"].split()) + len(selected["gotchas"].split())
    whole = len(documents["mapping"].split()) + len(documents["gotchas"].split())
    for done in (written, printed):
        assert done.stdout.splitlines()[0] == f"categories: {', '.join(sorted(categories))}"
        assert f"saved: {whole - kept:,} of {whole:,} words" in done.stdout
    separators = [line.split(":")[0] for line in printed.stdout.splitlines() if line.startswith("=====")]
    assert separators == ["===== mapping", "===== gotchas", "===== limitations"]
    assert selected["mapping"] in printed.stdout


@pytest.mark.parametrize(
    "document, reason",
    [("missing.md", "no such file or directory"), ("folder", "is a directory"), ("bad.md", "not valid UTF-8")],
)
def test_an_unreadable_knowledge_document_is_a_usage_error(document, reason, tmp_path, run_cli):
    (tmp_path / "folder").mkdir()
    (tmp_path / "bad.md").write_bytes(b"## Joins\n\xff\n")
    (tmp_path / "good.md").write_text("## Joins\n")
    done = run_cli(
        "knowledge", str(ROOT / EXAMPLES[0]), "--mapping", str(tmp_path / "good.md"),
        "--gotchas", str(tmp_path / document),
    )
    assert done.returncode == 2
    assert done.stdout == ""
    assert "Traceback" not in done.stderr
    assert f"cannot read {tmp_path / document}: {reason}" in done.stderr


def test_version_and_help(run_cli):
    version = run_cli("--version")
    assert version.returncode == 0 and version.stdout.startswith("tessera, version ")
    for command in ("assess", "classify", "plan", "knowledge"):
        shown = run_cli(command, "--help")
        assert shown.returncode == 0 and shown.stdout.startswith(f"Usage: tessera {command} ")


@pytest.mark.parametrize("missing", ["click", "rich"])
def test_without_the_cli_extra_the_command_says_what_to_install(missing):
    # The modules install without click and rich; the command then explains instead of a traceback.
    code = f"import sys; sys.modules[{missing!r}] = None; import tessera_cli; tessera_cli.main()"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert done.returncode == 2
    assert done.stderr == (
        f"tessera: the command needs the {missing!r} package; install it with pip install 'tessera-native[cli]'\n"
    )
