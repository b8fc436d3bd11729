"""Grading SQL text and files: thresholds, comment removal, line boundaries, letter case, argument and file
errors, the log event, and the record and enumeration types the host sees."""

import ast
import dataclasses
import inspect
import re
import threading
from pathlib import Path

import pytest
import structlog.testing

import agents.tessera.complexity as cx
from agents.tessera.complexity import ComplexityResult, SQLComplexity, classify_sql, classify_sql_file

S, M, C = SQLComplexity.SIMPLE, SQLComplexity.MODERATE, SQLComplexity.COMPLEX


def counts(result):
    """(grade, effective, procs, complex, moderate, temp tables, ctes)"""
    return tuple(getattr(result, f.name) for f in dataclasses.fields(result))


def statements(n, sep="\n"):
    return sep.join(f"SELECT {i} FROM t" for i in range(n))


# ---- grade thresholds ------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "lines, grade", [(0, S), (50, S), (51, M), (300, M), (301, C)]
)
def test_line_count_thresholds(lines, grade):
    result = classify_sql(statements(lines) + "\n\n   \n\t\n")
    assert (result.complexity, result.effective_lines) == (grade, lines)


def test_empty_script_is_simple_with_nothing_counted():
    assert counts(classify_sql("")) == (S, 0, 0, 0, 0, 0, 0)


@pytest.mark.parametrize(
    "sql, grade, moderate",
    [
        ("WHILE @i < 3 IF EXISTS (SELECT 1)", S, 2),
        ("WHILE @i < 3 IF EXISTS (SELECT 1) SELECT CASE WHEN a THEN 1 END", M, 3),
        ("WHILE 1 " * 10 + "IF EXISTS (x)", S, 2),
        ("SELECT ROW_NUMBER() OVER (ORDER BY a) FROM #t PIVOT (x) p", M, 3),
        ("CREATE TABLE t (a int) UNPIVOT (x)", S, 2),  # PIVOT does not match inside UNPIVOT
        ("WITH a AS (SELECT 1) SELECT * FROM ##g", S, 2),
    ],
)
def test_moderate_constructs_count_once_each(sql, grade, moderate):
    result = classify_sql(sql)
    assert (result.complexity, result.moderate_construct_count) == (grade, moderate)


@pytest.mark.parametrize(
    "sql, grade, procs",
    [
        ("CREATE PROCEDURE dbo.p AS SELECT 1", M, 1),
        ("create or alter proc p as select 1", M, 1),
        ("CREATE PROC a AS SELECT 1\nGO\nCREATE OR ALTER PROCEDURE b AS SELECT 2", C, 2),
        ("ALTER PROCEDURE p AS SELECT 1", S, 0),
        ("CREATE FUNCTION f() CREATE PROCESS x CREATE PROCEDURES y", S, 0),
        ("CREATE\n\tOR  ALTER\r\nPROCEDURE p", M, 1),
    ],
)
def test_stored_procedures(sql, grade, procs):
    result = classify_sql(sql)
    assert (result.complexity, result.stored_proc_count) == (grade, procs)


@pytest.mark.parametrize(
    "sql, complex_count",
    [
        ("DECLARE c CURSOR FOR SELECT 1", 2),  # both cursor patterns
        ("EXEC (@sql)", 1),
        ("EXECUTE(@sql)", 1),
        ("EXEC sp_executesql @sql", 1),
        ("SELECT DYNAMIC", 1),
        ("BEGIN\nTRY SELECT 1 END TRY BEGIN CATCH END CATCH", 2),
        ("MERGE t USING s ON 1=1", 1),
        ("OPENXML(@h, '/r') hierarchyid geography geometry", 4),
        ("SELECT 1 FOR XML PATH OPENJSON(@j)", 2),
        ("LINKED SERVER", 1),
        ("EXEC dbo.p; EXECUTE p2; BEGINTRY; MERGED; sp_executesql_x", 0),
    ],
)
def test_any_complex_construct_grades_complex(sql, complex_count):
    result = classify_sql(sql)
    assert result.complex_construct_count == complex_count
    assert result.complexity == (C if complex_count else S)


def test_temp_tables_and_ctes_are_counted_per_occurrence():
    sql = (
        "WITH a AS (SELECT 1), b AS (SELECT 2) SELECT * INTO #t FROM a\n"
        "INSERT #t SELECT * FROM #t JOIN ##g ON 1=1; SELECT * FROM #t\n"
        "with c (x, y) as (select 1, 2) select 1"
    )
    result = classify_sql(sql)
    assert (result.temp_table_count, result.cte_count, result.moderate_construct_count) == (5, 2, 2)
    assert result.complexity == S


# ---- comment removal -------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "sql, effective, complex_count",
    [
        ("SELECT 'MERGE' AS word", 1, 1),  # string literals are not recognised
        ("SELECT 'a--b', CURSOR FROM t", 1, 0),  # "--" in a string starts a comment
        ("/* -- */ MERGE t", 1, 0),  # the line comment takes the "*/"; "/*" stays
        ("/* x -- */\nMERGE t\n*/ SELECT 1", 1, 0),  # ...and the block runs to the next "*/"
        ("SELECT a, /* one\ntwo\nthree */ b FROM t", 1, 0),
        ("/* a\nb */\n\nSELECT 1\n-- only a comment\n  -- another", 1, 0),
        ("/* /* */ MERGE t */", 1, 1),  # block comments do not nest
        ("/* a */ MERGE t /* b */", 1, 1),  # the nearest "*/" closes
        ("SELECT 1 /* unclosed\nMERGE t", 2, 1),
        ("SELECT 1 --", 1, 0),
        ("-", 1, 0),
        ("SELECT 1 /", 1, 0),
        ("BEGIN/**/TRY", 1, 0),  # removed comments leave nothing, not a space: BEGINTRY
        ("MERGE--x\n", 1, 1),
    ],
)
def test_comment_removal(sql, effective, complex_count):
    result = classify_sql(sql)
    assert (result.effective_lines, result.complex_construct_count) == (effective, complex_count)


def test_lone_carriage_returns_direct_and_through_a_file(tmp_path):
    sql = "SELECT 1 -- note\rMERGE t\rSELECT 2\r"
    # "." takes the "\r" and "$" waits for a line feed: the comment runs to the end.
    assert counts(classify_sql(sql)) == (S, 1, 0, 0, 0, 0, 0)
    path = tmp_path / "cr.sql"
    path.write_bytes(sql.encode())
    assert counts(classify_sql_file(path)) == (C, 3, 0, 1, 0, 0, 0)


# ---- line boundaries -------------------------------------------------------------------------------

BOUNDARIES = ["\n", "\r\n", "\r", "\x0b", "\x0c", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029"]


@pytest.mark.parametrize("sep", BOUNDARIES, ids=[f"U+{ord(b[-1]):04X}" for b in BOUNDARIES])
@pytest.mark.parametrize("wide", ["", "\u0100", "\U0001f600"], ids=["ucs1", "ucs2", "ucs4"])
def test_every_line_boundary(sep, wide):
    sql = statements(51, sep) + wide
    assert (classify_sql(sql).effective_lines, classify_sql(sql).complexity) == (51, M)


@pytest.mark.parametrize(
    "sql, effective",
    [
        ("\x1f".join(["x"] * 60), 1),  # \x1f is whitespace but no line boundary
        ("a\n \t\x1f\xa0\u3000\u2007\n\n\r\n\u2029b", 2),
        ("\ufeff\nSELECT 1", 2),  # strip() keeps the byte-order mark
        ("\u200b\n\u0301\n\U0001d400", 3),  # zero-width space, lone mark, astral letter
        ("\n\n\n", 0),
    ],
)
def test_blank_lines(sql, effective):
    assert classify_sql(sql).effective_lines == effective


def test_file_with_byte_order_mark(tmp_path):
    path = tmp_path / "bom.sql"
    path.write_bytes(b"\xef\xbb\xbf\r\nSELECT 1\r\n")
    assert classify_sql_file(path).effective_lines == 2


@pytest.mark.parametrize("space", ["\n", "\r\n", "\u2028", "\x1f", "\x85", "\u3000 \t"])
def test_whitespace_in_patterns_crosses_line_boundaries(space):
    assert classify_sql(f"BEGIN{space}TRY").complexity == C


# ---- letter case and Unicode words -----------------------------------------------------------------


@pytest.mark.parametrize(
    "sql, complex_count",
    [
        ("cursor", 1),
        ("Cursor", 1),
        ("CuRsOr", 1),
        ("curſor", 1),  # U+017F LATIN SMALL LETTER LONG S folds to s
        ("\u017fp_executesql", 1),
        ("LIN\u212aED SERVER", 1),  # KELVIN SIGN folds to k
        ("\u0131nto FOR xml, OPENJSON", 2),
        ("begın try", 1),  # dotless i
        ("BEG\u0130N CATCH", 1),  # dotted capital I
        ("sp_executeßql", 0),  # ß is no s
        ("éMERGE", 0),  # é is a word character: no boundary
        ("\u0663MERGE", 0),  # ARABIC-INDIC DIGIT THREE is one too
        ("MERGE\u0301", 1),  # a combining mark is not, so the boundary holds
        ("MERGE_a", 0),
        ("\U0001d400MERGE", 0),  # an astral letter is a word character
    ],
)
def test_case_insensitive_unicode_matching(sql, complex_count):
    assert classify_sql(sql).complex_construct_count == complex_count


def test_ignorecase_cte_and_proc_counters():
    result = classify_sql("with A as (select 1) create Proc p with b (c) AS ( select 2)")
    assert (result.cte_count, result.stored_proc_count) == (2, 1)


# ---- argument errors -------------------------------------------------------------------------------


class Sub(str):
    pass


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: classify_sql(), "classify_sql() takes exactly 1 positional argument (0 given)"),
        (lambda: classify_sql("a", "b"), "classify_sql() takes exactly 1 positional argument (2 given)"),
        (lambda: classify_sql(sql="a"), "classify_sql() got an unexpected keyword argument 'sql'"),
        (
            lambda: classify_sql("a", sql_content="a"),
            "classify_sql() got multiple values for keyword argument 'sql_content'",
        ),
        (
            lambda: classify_sql(None),
            "Argument 'sql_content' has incorrect type (expected str, got NoneType)",
        ),
        (
            lambda: classify_sql(Sub("MERGE")),
            "Argument 'sql_content' has incorrect type (expected str, got Sub)",
        ),
        (
            lambda: classify_sql(sql_content=b"MERGE"),
            "Argument 'sql_content' has incorrect type (expected str, got bytes)",
        ),
        (lambda: classify_sql_file(), "classify_sql_file() takes exactly 1 positional argument (0 given)"),
        (lambda: classify_sql_file(path="x"), "classify_sql_file() got an unexpected keyword argument 'path'"),
        (
            lambda: classify_sql_file("x", sql_path="x"),
            "classify_sql_file() got multiple values for keyword argument 'sql_path'",
        ),
    ],
)
def test_argument_errors(call, message, monkeypatch):
    monkeypatch.setattr(cx, "logger", RecordingLogger())
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message
    assert cx.logger.calls == []


def test_keyword_call():
    assert classify_sql(sql_content="MERGE t").complexity == C


# ---- files -----------------------------------------------------------------------------------------


def test_reading_errors_pass_through(tmp_path, monkeypatch):
    monkeypatch.setattr(cx, "logger", RecordingLogger())
    bad = tmp_path / "latin1.sql"
    bad.write_bytes(b"SELECT '\xe9'")
    with pytest.raises(FileNotFoundError):
        classify_sql_file(tmp_path / "missing.sql")
    with pytest.raises(IsADirectoryError):
        classify_sql_file(tmp_path)
    with pytest.raises(UnicodeDecodeError):
        classify_sql_file(bad)
    with pytest.raises(AttributeError, match="'str' object has no attribute 'read_text'"):
        classify_sql_file(str(bad))
    assert cx.logger.calls == []


def test_any_object_with_read_text_is_a_path(monkeypatch):
    class Source:
        def __init__(self, content):
            self.content, self.seen = content, []

        def read_text(self, *args, **kwargs):
            self.seen.append((args, kwargs))
            return self.content

    source = Source("MERGE t")
    assert classify_sql_file(sql_path=source).complexity == C
    assert source.seen == [((), {"encoding": "utf-8"})]
    with pytest.raises(TypeError, match=r"expected str, got bytes\)$"):
        classify_sql_file(Source(b"MERGE"))


# ---- the log event ---------------------------------------------------------------------------------


class RecordingLogger:
    def __init__(self, fail=False):
        self.calls, self.fail = [], fail

    def debug(self, *args, **kwargs):
        self.calls.append((args, list(kwargs.items())))
        if self.fail:
            raise RuntimeError("sink down")


def test_event_fields_in_order(monkeypatch, tmp_path):
    monkeypatch.setattr(cx, "logger", RecordingLogger())
    path = tmp_path / "p.sql"
    path.write_text("CREATE PROC p AS MERGE t USING #s ON 1=1; WHILE 1 BEGIN END", encoding="utf-8")
    classify_sql_file(path)
    [(args, fields)] = cx.logger.calls
    assert args == ("sql_classified",)
    assert fields == [
        ("complexity", C),
        ("effective_lines", 1),
        ("complex_constructs", 1),
        ("moderate_constructs", 2),
        ("stored_procs", 1),
    ]
    assert type(fields[0][1]) is SQLComplexity


def test_logger_errors_propagate(monkeypatch):
    monkeypatch.setattr(cx, "logger", RecordingLogger(fail=True))
    with pytest.raises(RuntimeError, match="sink down"):
        classify_sql("SELECT 1")
    assert len(cx.logger.calls) == 1


def test_event_reaches_structlog():
    with structlog.testing.capture_logs() as logs:
        classify_sql("WHILE 1 SELECT 1")
    assert logs == [
        {
            "event": "sql_classified",
            "log_level": "debug",
            "complexity": S,
            "effective_lines": 1,
            "complex_constructs": 0,
            "moderate_constructs": 1,
            "stored_procs": 0,
        }
    ]


# ---- the types -------------------------------------------------------------------------------------


def test_module_binds_its_names_in_source_order():
    names = [n for n in vars(cx) if not n.startswith("__")]
    expected = [
        "re", "dataclass", "StrEnum", "Path", "structlog", "logger",
        "_COMPLEX_PATTERNS", "_MODERATE_PATTERNS", "_STORED_PROC_PATTERN", "_COMMENT_PATTERNS",
        "SQLComplexity", "ComplexityResult", "classify_sql", "classify_sql_file",
    ]  # fmt: skip
    assert [n for n in names if n in expected] == expected
    assert names[: len(expected)] == expected


def test_stub_declares_what_the_module_binds():
    stub = Path(__file__).resolve().parents[2] / "python" / "agents" / "tessera" / "complexity.pyi"
    tree = ast.parse(stub.read_text())
    declared = {t.id for n in tree.body if isinstance(n, ast.AnnAssign) for t in [n.target]}
    declared |= {n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    imported = {"re", "dataclass", "StrEnum", "Path", "structlog"}
    assert declared == {n for n in vars(cx) if not n.startswith("__")} - imported
    assert str(inspect.signature(classify_sql)) == "(sql_content)"
    assert str(inspect.signature(classify_sql_file)) == "(sql_path)"


def test_the_exposed_tables_and_re_are_never_used(monkeypatch):
    sql = "WITH a AS (SELECT 1) MERGE t USING #s ON 1=1 -- x\n/* CURSOR */ CREATE PROC p"
    expected = counts(classify_sql(sql))

    def refuse(*args, **kwargs):
        raise AssertionError("re was called")

    for name in ["compile", "search", "match", "sub", "findall", "finditer", "split"]:
        monkeypatch.setattr(re, name, refuse)
    for table in ["_COMPLEX_PATTERNS", "_MODERATE_PATTERNS", "_COMMENT_PATTERNS"]:
        monkeypatch.setattr(cx, table, [])
    monkeypatch.setattr(cx, "_STORED_PROC_PATTERN", None)
    monkeypatch.setattr(cx, "re", None)
    assert counts(classify_sql(sql)) == expected == (C, 2, 1, 1, 2, 1, 1)


def test_pattern_tables():
    tables = [cx._COMPLEX_PATTERNS, cx._MODERATE_PATTERNS, [cx._STORED_PROC_PATTERN], cx._COMMENT_PATTERNS]
    assert [len(t) for t in tables] == [15, 9, 1, 2]
    assert all(type(p) is re.Pattern for t in tables for p in t)
    assert {p.flags for t in tables[:3] for p in t} == {re.IGNORECASE | re.UNICODE}
    assert [(p.pattern, p.flags) for p in cx._COMMENT_PATTERNS] == [
        ("--.*$", re.MULTILINE | re.UNICODE),
        (r"/\*.*?\*/", re.DOTALL | re.UNICODE),
    ]
    assert cx._MODERATE_PATTERNS[1].pattern == "#\\w+"
    assert cx._COMPLEX_PATTERNS[0].pattern == r"\bCURSOR\b"


def test_record_is_a_frozen_dataclass():
    record = classify_sql("WHILE 1 SELECT 1")
    assert repr(record) == (
        "ComplexityResult(complexity=<SQLComplexity.SIMPLE: 'simple'>, effective_lines=1, stored_proc_count=0, "
        "complex_construct_count=0, moderate_construct_count=1, temp_table_count=0, cte_count=0)"
    )
    with pytest.raises(dataclasses.FrozenInstanceError):
        record.effective_lines = 2
    with pytest.raises(AttributeError):
        record.recommended_audit_turns = 4
    same = ComplexityResult(S, 1, 0, 0, 1, 0, 0)
    assert record == same and hash(record) == hash(same) and record is not classify_sql("WHILE 1 SELECT 1")
    assert record != dataclasses.replace(same, cte_count=1)
    assert record != counts(record)
    assert ComplexityResult.__annotations__ == {
        "complexity": "SQLComplexity",
        **{f: "int" for f in ["effective_lines", "stored_proc_count", "complex_construct_count",
                              "moderate_construct_count", "temp_table_count", "cte_count"]},
    }  # fmt: skip
    assert (ComplexityResult.__module__, ComplexityResult.__qualname__) == (cx.__name__, "ComplexityResult")
    assert ComplexityResult.__mro__ == (ComplexityResult, object)
    props = [n for n, v in vars(ComplexityResult).items() if isinstance(v, property)]
    assert props == ["recommended_analysis_turns", "recommended_conversion_turns", "recommended_audit_turns"]
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'cte_count'"):
        ComplexityResult(S, 1, 0, 0, 1, 0)


FIELDS = ["complexity", "effective_lines", "stored_proc_count", "complex_construct_count",
          "moderate_construct_count", "temp_table_count", "cte_count"]  # fmt: skip


def test_records_are_built_by_keyword_through_what_the_module_holds(monkeypatch):
    record = classify_sql("MERGE t")
    assert list(vars(record)) == FIELDS
    built = []
    original = ComplexityResult.__init__

    def init(self, *args, **kwargs):
        built.append((args, list(kwargs)))
        original(self, *args, **kwargs)

    monkeypatch.setattr(ComplexityResult, "__init__", init)
    assert classify_sql("MERGE t") == record
    monkeypatch.undo()
    monkeypatch.setattr(cx, "ComplexityResult", lambda **fields: ("stand-in", list(fields)))
    assert classify_sql("MERGE t") == ("stand-in", FIELDS)
    assert built == [((), FIELDS)]


def test_grade_is_a_str_enum():
    assert [(m.name, m.value) for m in SQLComplexity] == [
        ("SIMPLE", "simple"), ("MODERATE", "moderate"), ("COMPLEX", "complex"),
    ]  # fmt: skip
    assert isinstance(C, str) and C == "complex" and str(C) == f"{C}" == "complex"
    assert SQLComplexity("moderate") is M and SQLComplexity["SIMPLE"] is S
    assert (SQLComplexity.__module__, SQLComplexity.__qualname__) == (cx.__name__, "SQLComplexity")
    with pytest.raises(ValueError):
        SQLComplexity("MODERATE")


# ---- threads ---------------------------------------------------------------------------------------


def test_concurrent_calls_agree():
    scripts = [
        statements(400) + "\nMERGE t",
        ("WITH a AS (SELECT 1) SELECT * FROM #t\n" * 2000) + "\u0100",
        ("/* x */ CREATE PROC p AS WHILE 1 BEGIN END\n" * 3000) + "\U0001f600",
    ]
    expected = [counts(classify_sql(s)) for s in scripts]
    failures = []

    def work(k):
        for _ in range(20):
            if counts(classify_sql(scripts[k % 3])) != expected[k % 3]:
                failures.append(k)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
