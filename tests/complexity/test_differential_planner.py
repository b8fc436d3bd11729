"""Reading plans and instruction texts against the `re` transcription, over the corpus and over generated
files, and the coverage property: every line after the first read belongs to a section."""

from pathlib import Path

import oracle
import pytest
from hypothesis import given
from hypothesis import strategies as st

from agents.tessera.complexity import plan_reading_strategy

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus"
CORPUS_FILES = sorted(p for p in CORPUS.rglob("*") if p.is_file()) if CORPUS.is_dir() else []


def expected(path):
    """The transcription's plan, read through the same read_text, or the error that reading raises."""
    try:
        content = path.read_text(encoding="utf-8")
    except UnicodeDecodeError:
        return UnicodeDecodeError
    return oracle.plan_reading(content)


def fields(record):
    return (record.should_chunk, record.total_lines, record.first_read_lines, record.section_boundaries)


def check_against_transcription(path):
    plan = expected(path)
    if plan is UnicodeDecodeError:
        with pytest.raises(UnicodeDecodeError):
            plan_reading_strategy(path)
        return None
    record = plan_reading_strategy(path)
    assert fields(record) == plan
    shown = str(path)
    assert record.format_reading_instructions(shown) == oracle.format_instructions(*plan, shown)
    return record


def check_coverage(record):
    if not record.should_chunk:
        assert record.section_boundaries == ()
        return
    total = record.total_lines
    target = max(2, min(total // 300, 5))
    spans = [(start, end) for start, end, _ in record.section_boundaries]
    assert 1 <= len(spans) <= target
    assert all(end - start >= 20 for start, end in spans)
    assert spans[0][0] in (150, 151) and spans[-1][1] == total
    # Neighbours share their edge line: nothing between them is skipped, nothing is read twice but it.
    assert all(prev_end == start for (_, prev_end), (start, _) in zip(spans, spans[1:]))
    covered = set().union(*(range(start, end + 1) for start, end in spans))
    assert set(range(151, total + 1)) <= covered


@pytest.mark.skipif(not CORPUS_FILES, reason="no corpus beside the checkout")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=lambda p: str(p.relative_to(CORPUS)))
def test_corpus(path):
    record = check_against_transcription(path)
    if record is not None:
        check_coverage(record)


# ---- generated files ---------------------------------------------------------------------------------

SEPARATORS = ["GO", "go", "Go", "  GO  ", "\tgo", "GO\u00a0", "\u3000GO", "GO;", "GO 2", "GO -- x", "-- GO", "GOTO l"]
HEADS = [
    "CREATE PROCEDURE dbo.p",
    "create or alter proc p",
    "CREATE   OR  ALTER  PROCEDURE x AS",
    "CREATE FUNCTION f()",
    "  create function\tf",
    "CREATE PROC",
    "CREATE FUNCT\u0130ON f",
    "CREATE FUNCT\u0131ON f",
    "CREATE PROCEDURE_X",
    "CREATE PROC\u00e9",
    "CREATE VIEW v",
    "CREATE TRIGGER t",
    "ALTER PROCEDURE p",
    "/* new */ CREATE PROCEDURE p",
]
OTHERS = [
    "",
    "   ",
    "-- note",
    "  -- indented note",
    "/* block */",
    "SELECT a, b FROM dbo.orders WHERE id = 1;",
    "x" * 80,
    "\u00e9" * 60,
    "\U0001d538" * 55,
    "\ufeffSELECT 1",
    "SET NOCOUNT ON;\x1f",
]
BREAKS = ["\n", "\r\n", "\r", "\x0b", "\x0c", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029"]

special_lines = st.one_of(
    st.sampled_from(SEPARATORS),
    st.sampled_from(HEADS),
    st.sampled_from(OTHERS),
    st.text(st.characters(exclude_categories=("Cs",)), max_size=60),
)
# Places that matter: anywhere, around the first read, and just before the end.
positions = st.one_of(st.integers(0, 3000), st.integers(140, 175), st.integers(-25, -1))


@st.composite
def sql_files(draw):
    total = draw(st.one_of(st.integers(0, 3000), st.integers(495, 620)))
    lines = [f"SELECT {n} FROM t;" for n in range(total)]
    ends = ["\n"] * total
    if total:
        for position, line in draw(st.lists(st.tuples(positions, special_lines), max_size=60)):
            lines[position % total] = line
        for position, end in draw(st.lists(st.tuples(positions, st.sampled_from(BREAKS)), max_size=20)):
            ends[position % total] = end
        if draw(st.booleans()):
            ends[-1] = ""
    return "".join(line + end for line, end in zip(lines, ends))


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    return tmp_path_factory.mktemp("generated") / "script.sql"


@given(content=sql_files())
def test_generated_files(scratch, content):
    scratch.write_bytes(content.encode("utf-8"))
    record = check_against_transcription(scratch)
    check_coverage(record)


@given(
    total=st.integers(501, 4000),
    edges=st.lists(st.integers(1, 4000), max_size=12),
    kind=st.sampled_from(["GO", "CREATE PROC p"]),
)
def test_every_line_after_the_first_read_is_planned(scratch, total, edges, kind):
    # Boundaries anywhere, close together included: whatever the edges, no line is left unread.
    special = {1 + (e - 1) % total: kind for e in edges}
    content = "".join(special.get(n, "SELECT 1;") + "\n" for n in range(1, total + 1))
    scratch.write_text(content, encoding="utf-8", newline="")
    record = check_against_transcription(scratch)
    check_coverage(record)
