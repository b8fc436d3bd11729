"""The verdict and evidence records, the arguments, the log event and file reading."""

import dataclasses
from pathlib import Path

import pytest

from agents.tessera import dialect_probe
from agents.tessera.dialect_detect import DialectVerdict, Evidence, detect_dialect, detect_dialect_file, find_markers

PLATFORMS = [getattr(dialect_probe, n) for n in dir(dialect_probe) if n.startswith("PLATFORM_")]

TSQL = """SET NOCOUNT ON;
GO
DECLARE @n INT = 0;
SELECT TOP 10 [Order Date], ISNULL(amount, 0) FROM dbo.orders WITH (NOLOCK);
GO
"""


def test_records_are_frozen_dataclasses_with_fields_in_order():
    assert [f.name for f in dataclasses.fields(DialectVerdict)] == [
        "platform", "confidence", "runner_up", "scores", "evidence"]
    assert [f.name for f in dataclasses.fields(Evidence)] == ["source", "id", "platforms", "line", "text", "weight"]
    verdict = detect_dialect(TSQL)
    with pytest.raises(dataclasses.FrozenInstanceError):
        verdict.platform = None
    with pytest.raises(dataclasses.FrozenInstanceError):
        verdict.evidence[0].weight = 0.0
    assert verdict == detect_dialect(TSQL)


def test_a_tsql_script_is_named_with_its_evidence_strongest_first():
    verdict = detect_dialect(TSQL)
    assert verdict.platform == dialect_probe.PLATFORM_SQLSERVER
    assert 0.0 < verdict.confidence <= 1.0
    assert set(verdict.scores) == set(PLATFORMS) and len(verdict.scores) == 10
    assert max(verdict.scores, key=verdict.scores.get) == verdict.platform
    weights = [e.weight for e in verdict.evidence]
    assert weights == sorted(weights, reverse=True)
    by_id = {e.id: e for e in verdict.evidence}
    go = by_id["sqlserver.go_batch_separator"]
    assert (go.source, go.platforms, go.line, go.text) == ("marker", (dialect_probe.PLATFORM_SQLSERVER,), 2, "GO")
    assert by_id["sqlserver.declare_at_variable"].source == "lexicon"


def test_no_evidence_is_undecided_never_an_error():
    for text in ("", "SELECT a FROM b", "\n\n", "é" * 10):
        verdict = detect_dialect(text)
        assert verdict.platform is None and verdict.runner_up is None and verdict.evidence == ()
        assert all(v == 0.0 for v in verdict.scores.values())


def test_a_single_weak_entry_does_not_decide():
    verdict = detect_dialect("SELECT a FROM b LIMIT 10")
    assert verdict.platform is None


def test_lines_follow_splitlines_and_text_is_cut_to_80_characters():
    long_name = "x" * 200
    text = f"SELECT 1\r\nSELECT 2\u2028SELECT 3\x0cSELECT ISNULL({long_name}\n"
    by_id = {e.id: e for e in detect_dialect(text).evidence}
    isnull = by_id["sqlserver.isnull_function"]
    assert isnull.line == 4
    assert isnull.text == "ISNULL("
    bracket = "SELECT [" + "a b " * 40 + "]\n"
    cut = {e.id: e for e in detect_dialect(bracket).evidence}["sqlserver.bracket_identifier"]
    assert len(cut.text) == 80 and bracket[7:87] == cut.text


def test_one_debug_event_per_detection(quiet_logs):
    verdict = detect_dialect(TSQL)
    assert quiet_logs == [
        {"platform": verdict.platform, "confidence": verdict.confidence, "event": "dialect_detected",
         "log_level": "debug"}]
    assert list(quiet_logs[0])[:2] == ["platform", "confidence"]


@pytest.mark.parametrize("function", [find_markers, detect_dialect])
def test_arguments_are_checked_as_the_host_checks_them(function):
    name = function.__name__
    with pytest.raises(TypeError, match=r"^Argument 'text' has incorrect type \(expected str, got bytes\)$"):
        function(b"SELECT 1")

    class Sub(str):
        pass

    with pytest.raises(TypeError, match=r"expected str, got Sub\)$"):
        function(Sub("SELECT 1"))
    with pytest.raises(TypeError, match=r"expected str, got NoneType\)$"):
        function(None)
    with pytest.raises(TypeError, match=rf"^{name}\(\) takes exactly 1 positional argument \(0 given\)$"):
        function()
    with pytest.raises(TypeError, match=rf"^{name}\(\) takes exactly 1 positional argument \(2 given\)$"):
        function("a", "b")
    with pytest.raises(TypeError, match=rf"^{name}\(\) got an unexpected keyword argument 'sql'$"):
        function(sql="a")
    assert function(text="SELECT 1") is not None


def test_files_are_read_as_utf8_and_read_errors_reach_the_caller(tmp_path: Path):
    script = tmp_path / "a.sql"
    script.write_text(TSQL, encoding="utf-8")
    assert detect_dialect_file(script) == detect_dialect(TSQL)
    assert detect_dialect_file(path=script).platform == dialect_probe.PLATFORM_SQLSERVER
    with pytest.raises(FileNotFoundError):
        detect_dialect_file(tmp_path / "missing.sql")
    (tmp_path / "latin1.sql").write_bytes(b"SELECT '\xe9'")
    with pytest.raises(UnicodeDecodeError):
        detect_dialect_file(tmp_path / "latin1.sql")
    with pytest.raises(IsADirectoryError):
        detect_dialect_file(tmp_path)
    with pytest.raises(AttributeError, match="'str' object has no attribute 'read_text'"):
        detect_dialect_file(str(script))


def test_find_markers_lists_first_spans_in_catalogue_order():
    text = "SELECT x::int\nGO\nSELECT y::text FROM t WITH (NOLOCK)\n"
    found = find_markers(text)
    assert list(found) == ["sqlserver.go_batch_separator", "sqlserver.table_hints", "shared.cast_operator"]
    assert found["shared.cast_operator"] == (8, 11)
    assert text[slice(*found["sqlserver.go_batch_separator"])] == "GO"
