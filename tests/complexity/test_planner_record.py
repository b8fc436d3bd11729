"""The reading-plan record and its instruction text, argument and file errors, the log event, and the
exposed delimiter table."""

import dataclasses
import re
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest
import structlog.testing

import agents.tessera.complexity as cx
from agents.tessera.complexity import FileReadingStrategy, plan_reading_strategy

CLOSING = "Use the Read tool with offset and limit parameters. Do NOT try to read the entire file in one Read call."


def numbered(total, special):
    return "".join(special.get(n, f"SELECT {n} AS n;") + "\n" for n in range(1, total + 1))


class RecordingLogger:
    def __init__(self, fail=False):
        self.calls, self.fail = [], fail

    def debug(self, *args, **kwargs):
        self.calls.append((args, list(kwargs.items())))
        if self.fail:
            raise RuntimeError("sink down")


@pytest.fixture
def recorded(monkeypatch):
    logger = RecordingLogger()
    monkeypatch.setattr(cx, "logger", logger)
    return logger.calls


# ---- the worked examples -----------------------------------------------------------------------------


def test_thousand_line_plan_and_its_instructions(tmp_path, recorded):
    path = tmp_path / "orders.sql"
    path.write_text(
        numbered(
            1000,
            {
                1: "SET NOCOUNT ON;",
                151: "",
                200: "CREATE PROCEDURE dbo.usp_load_orders",
                450: "create or alter procedure dbo.usp_load_customer_dimension_full_refresh",
                700: "CREATE FUNCTION dbo.udf_current_fiscal_year()",
            },
        ),
        encoding="utf-8",
    )
    record = plan_reading_strategy(path)
    assert record == FileReadingStrategy(
        should_chunk=True,
        total_lines=1000,
        first_read_lines=150,
        section_boundaries=(
            (151, 450, "SQL block (50 lines)"),
            (450, 700, "create or alter procedure dbo.usp_load_customer_di"),
            (700, 1000, "CREATE FUNCTION dbo.udf_current_fiscal_year()"),
        ),
    )
    assert recorded == [(("reading_strategy",), [("total_lines", 1000), ("sections", 3), ("first_read", 150)])]
    assert record.format_reading_instructions(str(path)).split("\n") == [
        "This is a 1000-line SQL file. Read it strategically:",
        "1. Read lines 1-150 to understand structure (SET statements, parameters, procedure signature).",
        "2. Then read each logical section:",
        "   - Lines 151-450: SQL block (50 lines)",
        "   - Lines 450-700: create or alter procedure dbo.usp_load_customer_di",
        "   - Lines 700-1000: CREATE FUNCTION dbo.udf_current_fiscal_year()",
        "",
        CLOSING,
    ]


def test_small_file_is_read_whole_without_an_event(tmp_path, recorded):
    path = tmp_path / "load_orders.sql"
    path.write_text("SELECT 1;\n" * 500, encoding="utf-8")
    record = plan_reading_strategy(sql_path=path)
    assert record == FileReadingStrategy(False, 500, 500, ())
    text = record.format_reading_instructions("scripts/load_orders.sql")
    assert text == "Read the complete SQL file at `scripts/load_orders.sql` using the Read tool."
    assert len(text) == 76
    empty = tmp_path / "empty.sql"
    empty.touch()
    assert plan_reading_strategy(empty) == FileReadingStrategy(False, 0, 0, ())
    assert recorded == []


# ---- the instruction text ----------------------------------------------------------------------------


@pytest.mark.parametrize(
    "record, path, expected",
    [
        (FileReadingStrategy(False, 9000, 7, ((1, 2, "x"),)), "a b/c.sql", "Read the complete SQL file at `a b/c.sql` using the Read tool."),
        (FileReadingStrategy(0, None, None, None), "", "Read the complete SQL file at `` using the Read tool."),
        (FileReadingStrategy(True, 600, 150, ()), "p", "This is a 600-line SQL file. Read it strategically:\n"
         "1. Read lines 1-150 to understand structure (SET statements, parameters, procedure signature).\n"
         "2. Then read each logical section:\n\n" + CLOSING),
        (FileReadingStrategy([0], -5, 2**70, [[151, 1000, "SQL block (850 lines)"], dict.fromkeys((True, 1.5, None))]), "p",
         "This is a -5-line SQL file. Read it strategically:\n"
         f"1. Read lines 1-{2**70} to understand structure (SET statements, parameters, procedure signature).\n"
         "2. Then read each logical section:\n"
         "   - Lines 151-1000: SQL block (850 lines)\n"
         "   - Lines True-1.5: None\n\n" + CLOSING),
    ],
)  # fmt: skip
def test_instruction_texts(record, path, expected):
    assert record.format_reading_instructions(path) == expected
    assert FileReadingStrategy.format_reading_instructions(record, sql_path=path) == expected
    assert len(FileReadingStrategy(False, 0, 0, ()).format_reading_instructions("")) == 53


def test_values_are_formatted_as_an_f_string_would():
    class Shown:
        def __format__(self, spec):
            return f"<{spec!r}>"

    class Name(str):
        def __str__(self):
            return "renamed"

    record = FileReadingStrategy(True, Shown(), 150, ((Name("a"), 2, Name("h")),))
    lines = record.format_reading_instructions("p").split("\n")
    assert lines[0] == "This is a <''>-line SQL file. Read it strategically:"
    assert lines[3] == "   - Lines renamed-2: renamed"


class Sub(str):
    pass


@pytest.mark.parametrize("path", [None, b"p.sql", Path("p.sql"), Sub("p.sql"), 3])
@pytest.mark.parametrize("chunked", [False, True])
def test_path_must_be_exactly_a_str(path, chunked):
    class Untouchable:
        def __getattr__(self, name):
            raise AssertionError(f"read {name} before checking the path")

    for record in (FileReadingStrategy(chunked, 600, 150, ()), Untouchable()):
        with pytest.raises(TypeError) as raised:
            FileReadingStrategy.format_reading_instructions(record, path)
        assert str(raised.value) == (
            f"Argument 'sql_path' has incorrect type (expected str, got {type(path).__name__})"
        )


@pytest.mark.parametrize(
    "entries, error, message",
    [
        (((1, 2),), ValueError, "not enough values to unpack (expected 3, got 2)"),
        (([1],), ValueError, "not enough values to unpack (expected 3, got 1)"),
        (("",), ValueError, "not enough values to unpack (expected 3, got 0)"),
        (((1, 2, 3, 4),), ValueError, "too many values to unpack (expected 3)"),
        (([1, 2, 3, 4, 5],), ValueError, "too many values to unpack (expected 3)"),
        (("abcd",), ValueError, "too many values to unpack (expected 3)"),
        ((5,), TypeError, "cannot unpack non-iterable int object"),
        ((None,), TypeError, "cannot unpack non-iterable NoneType object"),
        (7, TypeError, "'int' object is not iterable"),
        (((1, 2, 3), (4, 5)), ValueError, "not enough values to unpack (expected 3, got 2)"),
    ],
)
def test_entries_that_do_not_unpack_into_three(entries, error, message):
    with pytest.raises(error) as raised:
        FileReadingStrategy(True, 600, 150, entries).format_reading_instructions("p")
    assert str(raised.value) == message


def test_errors_of_iteration_pass_through():
    def entries():
        yield (1, 2, "ok")
        raise KeyError("boom")

    with pytest.raises(KeyError, match="boom"):
        FileReadingStrategy(True, 600, 150, entries()).format_reading_instructions("p")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda r: r.format_reading_instructions(), "format_reading_instructions() takes exactly 2 positional arguments (1 given)"),
        (lambda r: r.format_reading_instructions("a", "b"), "format_reading_instructions() takes exactly 2 positional arguments (3 given)"),
        (lambda r: r.format_reading_instructions(path="a"), "format_reading_instructions() got an unexpected keyword argument 'path'"),
        (lambda r: r.format_reading_instructions("a", sql_path="a"), "format_reading_instructions() got multiple values for keyword argument 'sql_path'"),
        (lambda r: plan_reading_strategy(), "plan_reading_strategy() takes exactly 1 positional argument (0 given)"),
        (lambda r: plan_reading_strategy(Path("a"), Path("b")), "plan_reading_strategy() takes exactly 1 positional argument (2 given)"),
        (lambda r: plan_reading_strategy(path=Path("a")), "plan_reading_strategy() got an unexpected keyword argument 'path'"),
        (lambda r: plan_reading_strategy(Path("a"), sql_path=Path("a")), "plan_reading_strategy() got multiple values for keyword argument 'sql_path'"),
    ],
)  # fmt: skip
def test_call_shape_errors(call, message, recorded):
    with pytest.raises(TypeError) as raised:
        call(FileReadingStrategy(False, 1, 1, ()))
    assert str(raised.value) == message
    assert recorded == []


# ---- reading the file --------------------------------------------------------------------------------


def test_reading_errors_pass_through(tmp_path, recorded):
    bad = tmp_path / "latin1.sql"
    bad.write_bytes(b"SELECT '\xe9'\n" * 600)
    with pytest.raises(FileNotFoundError):
        plan_reading_strategy(tmp_path / "missing.sql")
    with pytest.raises(IsADirectoryError):
        plan_reading_strategy(tmp_path)
    with pytest.raises(UnicodeDecodeError):
        plan_reading_strategy(bad)
    with pytest.raises(AttributeError, match="'str' object has no attribute 'read_text'"):
        plan_reading_strategy(str(bad))
    assert recorded == []


def test_any_object_with_read_text_is_a_path():
    class Source:
        def __init__(self, content):
            self.content, self.seen = content, []

        def read_text(self, *args, **kwargs):
            self.seen.append((args, kwargs))
            return self.content

    source = Source("GO\n" * 600)
    record = plan_reading_strategy(source)
    assert source.seen == [((), {"encoding": "utf-8"})]
    assert record.section_boundaries == ((151, 301, "GO"), (301, 600, "GO"))
    # Text handed over directly keeps its carriage returns, which split lines as well.
    assert plan_reading_strategy(Source("x\r\ny\rz\n" * 200)).total_lines == 600
    with pytest.raises(AttributeError, match="'int' object has no attribute 'splitlines'"):
        plan_reading_strategy(Source(3))
    with pytest.raises(TypeError, match="should return str, not bytes"):
        plan_reading_strategy(Source(b"GO\n" * 600))


def test_concurrent_plans_agree(tmp_path):
    # The line work runs without the GIL; threads planning at once must not disturb one another.
    paths = []
    for i, step in enumerate((37, 50, 91, 200)):
        path = tmp_path / f"f{i}.sql"
        lines = ("GO\n" if n % step == 0 else f"\u0130 {n}\n" for n in range(1, 20000))
        path.write_text("".join(lines), encoding="utf-8")
        paths.append(path)
    expected = [plan_reading_strategy(p) for p in paths]
    with ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(plan_reading_strategy, paths * 25))
    assert results == expected * 25


# ---- the event ---------------------------------------------------------------------------------------


def test_logger_errors_propagate(tmp_path, monkeypatch):
    monkeypatch.setattr(cx, "logger", RecordingLogger(fail=True))
    path = tmp_path / "long.sql"
    path.write_text("SELECT 1;\n" * 501, encoding="utf-8")
    with pytest.raises(RuntimeError, match="sink down"):
        plan_reading_strategy(path)
    assert len(cx.logger.calls) == 1


def test_event_reaches_structlog(tmp_path):
    path = tmp_path / "long.sql"
    path.write_text("SELECT 1;\n" * 2000, encoding="utf-8")
    with structlog.testing.capture_logs() as logs:
        plan_reading_strategy(path)
    assert logs == [
        {"event": "reading_strategy", "log_level": "debug", "total_lines": 2000, "sections": 5, "first_read": 150}
    ]


# ---- the record type and the module table ------------------------------------------------------------


def test_record_is_a_frozen_dataclass():
    record = FileReadingStrategy(True, 600, 150, ((151, 600, "GO"),))
    assert [(f.name, f.type) for f in dataclasses.fields(FileReadingStrategy)] == [
        ("should_chunk", "bool"),
        ("total_lines", "int"),
        ("first_read_lines", "int"),
        ("section_boundaries", "tuple[tuple[int, int, str], ...]"),
    ]
    assert all(f.default is dataclasses.MISSING for f in dataclasses.fields(FileReadingStrategy))
    assert FileReadingStrategy.__module__ == "agents.tessera.complexity"
    assert FileReadingStrategy.__bases__ == (object,)
    assert repr(record) == (
        "FileReadingStrategy(should_chunk=True, total_lines=600, first_read_lines=150, "
        "section_boundaries=((151, 600, 'GO'),))"
    )
    assert record == FileReadingStrategy(True, 600, 150, ((151, 600, "GO"),))
    assert hash(record) == hash((True, 600, 150, ((151, 600, "GO"),)))
    with pytest.raises(dataclasses.FrozenInstanceError):
        record.total_lines = 1
    with pytest.raises(TypeError):
        FileReadingStrategy(True, 600, 150)


def test_section_delimiters_are_exposed_compiled():
    assert [(p.pattern, p.flags) for p in cx._SECTION_DELIMITERS] == [
        (r"^\s*GO\s*$", re.I | re.M | re.U),
        (r"^\s*CREATE\s+(?:OR\s+ALTER\s+)?(?:PROC|PROCEDURE|FUNCTION|VIEW|TRIGGER)\b", re.I | re.M | re.U),
        (r"^--\s*={3,}", re.M | re.U),
        (r"^--\s*-{3,}", re.M | re.U),
        (r"^--\s*Section\s+\d", re.I | re.M | re.U),
    ]
    assert type(cx._SECTION_DELIMITERS) is list


def test_reading_names_follow_the_classification_names():
    names = [n for n in vars(cx) if not n.startswith("__")]
    tail = ["classify_sql_file", "_SECTION_DELIMITERS", "FileReadingStrategy", "plan_reading_strategy"]
    assert [n for n in names if n in tail] == tail
