import json
from pathlib import Path

from agents.tessera.dialect_detect import detect_dialect_file

ROOT = Path(__file__).resolve().parents[2]


def test_json_gives_each_verdict_with_its_path_and_an_error_row_for_an_unreadable_file(run_cli, tmp_path):
    bad = tmp_path / "latin1.sql"
    bad.write_bytes(b"SELECT '\xe9'")
    empty = tmp_path / "empty.sql"
    empty.write_text("")
    run = run_cli("dialect", "examples/03_usp_reconcile_payments.sql", str(empty), str(bad), "--format", "json")
    assert run.returncode == 1
    rows = json.loads(run.stdout)
    assert [r["path"] for r in rows] == ["examples/03_usp_reconcile_payments.sql", empty.as_posix(), bad.as_posix()]

    verdict = detect_dialect_file(ROOT / "examples/03_usp_reconcile_payments.sql")
    first = rows[0]
    assert list(first) == ["path", "platform", "confidence", "runner_up", "scores", "evidence", "error"]
    assert (first["platform"], first["confidence"], first["runner_up"]) == (
        verdict.platform, verdict.confidence, verdict.runner_up)
    assert first["scores"] == verdict.scores
    assert [(e["id"], e["line"], e["text"], e["weight"]) for e in first["evidence"]] == [
        (e.id, e.line, e.text, e.weight) for e in verdict.evidence]

    # No evidence at all is an answer, not an error.
    assert (rows[1]["platform"], rows[1]["evidence"], rows[1]["error"]) == (None, [], None)
    assert rows[2]["platform"] is None and rows[2]["error"].startswith("not valid UTF-8")
    assert "latin1.sql: not valid UTF-8" in run.stderr


def test_the_table_shows_the_verdict_top_scores_and_evidence_lines(run_cli):
    run = run_cli("dialect", "examples/03_usp_reconcile_payments.sql", "--format", "table")
    assert (run.returncode, run.stderr) == (0, "")
    lines = run.stdout.splitlines()
    assert lines[0].startswith("examples/03_usp_reconcile_payments.sql: sqlserver (confidence ")
    assert lines[1].startswith("  scores: sqlserver ") and lines[1].count(",") == 2
    assert any("sqlserver.set_nocount" in line and "line    17" in line for line in lines)


def test_assess_has_a_dialect_column_and_the_mix(run_cli):
    run = run_cli("assess", "examples/", "--format", "table", env={"COLUMNS": "220"})
    assert run.returncode == 0
    assert "Dialect" in run.stdout and "Dialect mix" in run.stdout
    report = json.loads(run_cli("assess", "examples/", "--format", "json").stdout)
    assert {r["dialect"] for r in report["files"]} <= {"sqlserver", "undecided"}
    assert sum(d["files"] for d in report["summary"]["dialects"]) == len(report["files"])
