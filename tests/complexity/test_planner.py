"""Reading plans: line counting, the boundary tests, thinning, the even split, edges near the first read
and the end of the file, merging, and hints."""

import pytest

from agents.tessera.complexity import FileReadingStrategy, plan_reading_strategy


def numbered(total, special=None, end="\n"):
    """A file of `total` lines; line n holds special[n] or a plain statement naming n."""
    special = special or {}
    return "".join(special.get(n, f"SELECT {n} AS n;") + end for n in range(1, total + 1))


@pytest.fixture
def plan(tmp_path):
    """Writes text (or bytes) to a file exactly as given and plans it."""

    def run(content):
        path = tmp_path / "script.sql"
        path.write_bytes(content if isinstance(content, bytes) else content.encode("utf-8"))
        return plan_reading_strategy(path)

    return run


def sections(record):
    return record.section_boundaries


# ---- size and line counting --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "content, total",
    [
        ("", 0),
        ("\n", 1),
        ("SELECT 1", 1),
        (numbered(500), 500),
        (numbered(500).rstrip("\n"), 500),
        (numbered(500, end="\r\n"), 500),
        (numbered(500, end="\r"), 500),
        ("a\fb\n" * 250, 500),  # a form feed splits its line
        ("a\u2028b\x85c\n" * 166 + "\x1c\x1d", 500),
    ],
)
def test_files_of_up_to_500_lines_are_read_whole(plan, content, total):
    assert plan(content) == FileReadingStrategy(False, total, total, ())


@pytest.mark.parametrize(
    "content",
    [
        numbered(501),
        numbered(501, end="\r\n"),
        numbered(501, end="\r"),
        numbered(501).replace("SELECT 500 AS n;\n", "SELECT 500\fAS n;").replace("SELECT 501 AS n;\n", ""),
        numbered(499) + "\u2029\x0b",
        numbered(499) + "\x1e\x1e",
    ],
)
def test_501_lines_are_chunked_at_the_even_edge(plan, content):
    record = plan(content)
    assert (record.should_chunk, record.total_lines, record.first_read_lines) == (True, 501, 150)
    assert [(s, e) for s, e, _ in sections(record)] == [(151, 250), (250, 501)]


# ---- which lines are structural ----------------------------------------------------------------------

# GO on line 700 is always a boundary; the candidate on line 400 decides between the edges 400/700 and the
# even split of a file whose only structural line is 700 (333/666).
STRUCTURAL = [
    "GO",
    "    go",
    "\tGo  ",
    "GO\u00a0",
    "\u3000GO",
    "GO\x1f",
    "CREATE OR ALTER PROC x",
    "create function f",
    "  CREATE   PROCEDURE p",
    "CREATE\tOR\u2003ALTER\u00a0PROCEDURE p",
    "CREATE PROC",
    "CREATE PROC(",
    "CREATE PROC\u0301",  # a combining mark is not a word character
    "CREATE FUNCT\u0130ON f",  # dotted capital I folds to i
    "CREATE FUNCT\u0131ON f",  # so does the dotless small i
]
NOT_STRUCTURAL = [
    "GO 2",
    "GO;",
    "GO -- next batch",
    "-- GO",
    "GOTO x",
    "/* new */ CREATE PROCEDURE p",
    "CREATE VIEW v",
    "CREATE TRIGGER t",
    "ALTER PROCEDURE p",
    "CREATE TABLE t",
    "CREATE PROCEDURE_X",
    "CREATE PROCEDURE2",
    "CREATE PROC\u00e9",
    "CREATE OR ALTERPROC p",
    "CREATEPROC p",
    "CREATE OR ALTER VIEW v",
    "\u0120O",
]


@pytest.mark.parametrize("line", STRUCTURAL)
def test_structural_lines(plan, line):
    record = plan(numbered(1000, {400: line, 700: "GO"}))
    assert [(s, e) for s, e, _ in sections(record)] == [(151, 400), (400, 700), (700, 1000)]
    assert sections(record)[1][2] == line.strip()


@pytest.mark.parametrize("line", NOT_STRUCTURAL)
def test_lines_that_are_not_structural(plan, line):
    record = plan(numbered(1000, {400: line, 700: "GO"}))
    assert [(s, e) for s, e, _ in sections(record)] == [(151, 333), (333, 666), (666, 1000)]


def test_one_structural_line_splits_evenly_like_none(plan):
    expected = ((151, 333, "SELECT 151 AS n;"), (333, 666, "SELECT 333 AS n;"), (666, 1000, "SELECT 666 AS n;"))
    assert sections(plan(numbered(1000))) == expected
    assert sections(plan(numbered(1000, {500: "CREATE PROCEDURE p"}))) == expected


def test_nine_boundaries_thinned_to_four(plan):
    # step 9 // 4 = 2 keeps the 1st, 3rd, 5th and 7th; 900 and 1000 play no part.
    record = plan(numbered(1300, {n: "GO" for n in range(200, 1001, 100)}))
    assert sections(record) == (
        (151, 400, "SELECT 151 AS n;"),
        (400, 600, "GO"),
        (600, 800, "GO"),
        (800, 1300, "GO"),
    )


@pytest.mark.parametrize(
    "total, sizes",
    [(899, 2), (900, 3), (1199, 3), (1200, 4), (1499, 4), (1500, 5), (40000, 5)],
)
def test_section_count_follows_the_file_size(plan, total, sizes):
    record = plan(numbered(total, {n: "GO" for n in range(200, total, 50)}))
    assert len(sections(record)) == sizes


# ---- edges near the first read and the end -----------------------------------------------------------


@pytest.mark.parametrize(
    "special, expected",
    [
        # Edges on the first and last lines are not doubled.
        ({1: "GO", 600: "GO"}, ((151, 600, "SELECT 151 AS n;"),)),
        # An edge on line 150 starts a section there.
        ({150: "GO", 400: "GO"}, ((150, 400, "GO"), (400, 600, "GO"))),
        # An edge on line 151: the pair 151-151 has no lines of its own.
        ({151: "GO", 400: "GO"}, ((151, 400, "GO"), (400, 600, "GO"))),
        # Fewer than 20 lines after the first read: they open the next section.
        ({160: "GO", 400: "GO"}, ((151, 400, "SELECT 151 AS n;"), (400, 600, "GO"))),
        ({150: "GO", 169: "GO"}, ((150, 600, "GO"),)),
        # Fewer than 20 lines before the end: they close the previous section.
        ({300: "GO", 590: "GO"}, ((151, 300, "SELECT 151 AS n;"), (300, 600, "GO"))),
        ({300: "GO", 599: "GO"}, ((151, 300, "SELECT 151 AS n;"), (300, 600, "GO"))),
        ({300: "GO", 600: "GO"}, ((151, 300, "SELECT 151 AS n;"), (300, 600, "GO"))),
        # Edges on the first read's inside only: everything after it is one section.
        ({10: "GO", 100: "GO"}, ((151, 600, "SELECT 151 AS n;"),)),
    ],
)
def test_edges_near_the_first_read_and_the_end(plan, special, expected):
    assert sections(plan(numbered(600, special))) == expected


def test_short_pair_carried_forward_is_hinted_with_its_own_span(plan):
    # 151-160 is too short and nothing precedes it, so the next pair starts at 151 and its hint counts from
    # there.
    record = plan(numbered(600, {151: "", 160: "GO", 400: "GO"}))
    assert sections(record) == ((151, 400, "SQL block (250 lines)"), (400, 600, "GO"))


def test_joined_pair_keeps_the_hint_of_the_section_it_joins(plan):
    record = plan(numbered(1200, {151: "", 300: "GO", 1190: "GO"}))
    assert sections(record) == ((151, 300, "SQL block (150 lines)"), (300, 1200, "GO"))


# ---- merging -----------------------------------------------------------------------------------------


def test_equal_merge_spans_merge_the_earlier_pair(plan):
    # Spans 551 - 151 and 700 - 300 are both 400.
    record = plan(numbered(700, {300: "GO", 551: "go"}))
    assert sections(record) == ((151, 551, "SELECT 151 AS n;"), (551, 700, "go"))


def test_merge_takes_the_smallest_span_not_the_first(plan):
    # Spans 600 - 151 = 449 and 700 - 450 = 250: the later pair merges.
    record = plan(numbered(700, {450: "GO", 600: "GO"}))
    assert sections(record) == ((151, 450, "SELECT 151 AS n;"), (450, 700, "GO"))


# ---- hints -------------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "line, hint",
    [
        ("", "SQL block (250 lines)"),
        (" \t\u00a0", "SQL block (250 lines)"),
        ("-- load orders", "SQL block (250 lines)"),
        ("   --", "SQL block (250 lines)"),
        ("-x -- y", "-x -- y"),
        ("/* header */", "/* header */"),
        ("  SELECT 1  ", "SELECT 1"),
        ("x" * 50, "x" * 50),
        ("   " + "y" * 51, "y" * 50),
        ("é" * 70, "é" * 50),
        ("\U0001d538" * 60 + "z", "\U0001d538" * 50),
        ("a" * 49 + " " + "b", "a" * 49 + " "),  # cut after stripping, not stripped again
        ("\ufeffSELECT", "\ufeffSELECT"),
    ],
)
def test_hints(plan, line, hint):
    record = plan(numbered(600, {151: line, 400: "GO", 500: "CREATE PROC p"}))
    assert sections(record)[0] == (151, 400, hint)
