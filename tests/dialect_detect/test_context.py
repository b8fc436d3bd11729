"""Evidence counts only in its context: code for everything but the comment-scoped markers, which count
only inside comments. Each case puts the same evidence where it must not count and where it must."""

import pytest

from agents.tessera import _matcher
from agents.tessera.dialect_detect import detect_dialect


def fired(text: str) -> set[str]:
    return {e.id for e in detect_dialect(text).evidence}


@pytest.mark.parametrize(
    "hidden",
    [
        "SELECT 1 -- DECLARE @x INT\n",
        "SELECT 1 /* DECLARE @x INT */\n",
        "SELECT 1 /* a /* b */ FROM t\n",  # the first */ ends the comment: nothing nests
        "SELECT 'DECLARE @x INT' AS s\n",
        "SELECT 'it''s DECLARE @x INT' AS s\n",
        "SELECT E'it\\'s DECLARE @x INT' AS s\n",
        "SELECT q'[it's DECLARE @x INT]' AS s FROM dual\n",
        'SELECT "DECLARE @x INT" FROM t\n',
        "SELECT `DECLARE @x INT` FROM t\n",
        "SELECT 1;\n# DECLARE @x INT\n",
        "SELECT 1; // DECLARE @x INT\n",
        "/* never closed\nDECLARE @x INT\n",
        "SELECT 'never closed\nDECLARE @x INT\n",
    ],
)
def test_code_evidence_inside_comments_and_literals_does_not_count(hidden):
    assert "sqlserver.declare_at_variable" not in fired(hidden)


@pytest.mark.parametrize(
    "visible",
    [
        "SELECT 'a''' AS s; DECLARE @x INT\n",
        "SELECT E'a\\'' AS s; DECLARE @x INT\n",
        "SELECT q'{a'b}' AS s; DECLARE @x INT\n",
        "/* a */ DECLARE @x INT\n",
        "SELECT 'http://x' AS u; DECLARE @x INT\n",
        "SELECT 1 -- note\nDECLARE @x INT\n",
        'SELECT "a""b" FROM t; DECLARE @x INT\n',
    ],
)
def test_code_after_a_closed_comment_or_literal_counts(visible):
    assert "sqlserver.declare_at_variable" in fired(visible)


def test_a_one_letter_literal_is_no_string_prefix():
    assert "bigquery.string_prefix_triple_quote" not in fired("SELECT * FROM t WHERE kind = 'r'\n")
    assert "bigquery.string_prefix_triple_quote" in fired("SELECT r'\\d+' AS p\n")


def test_hash_starts_a_comment_only_where_it_is_no_operator_or_name():
    assert "sqlserver.temp_table_prefix" in fired("SELECT * INTO #work FROM t\n")
    assert "postgresql.jsonb_operators" in fired("SELECT doc #>> '{a}' FROM t\n")
    # Temp tables may be named with "$" or "@" after the "#".
    assert "sqlserver.declare_at_variable" in fired("CREATE TABLE #$t (id INT); DECLARE @x INT\n")
    assert "sqlserver.declare_at_variable" in fired("CREATE TABLE #@t (id INT); DECLARE @x INT\n")
    # The comment's own "#" is evidence of the platforms that have such comments; its text is not.
    text = "# Copyright 2020, licensed under NVL(x)\nSELECT 1\n"
    assert "mysql.hash_line_comment" in fired(text)
    assert "oracle.nvl_function" not in fired(text)


def test_comment_scoped_markers_count_only_inside_comments():
    assert "databricks.notebook_header" in fired("-- COMMAND ----------\nSELECT 1\n")
    assert "databricks.notebook_header" not in fired("SELECT '-- COMMAND ----------' AS c\n")
    assert "databricks.optimizer_hint" in fired("SELECT /*+ BROADCAST(t) */ * FROM t\n")
    assert "databricks.optimizer_hint" not in fired("SELECT '/*+ BROADCAST(t) */' FROM t\n")


def test_a_later_match_in_code_counts_after_one_in_a_comment():
    evidence = {e.id: e for e in detect_dialect("-- GETDATE()\nSELECT 1;\nSELECT GETDATE()\n").evidence}
    assert evidence["sqlserver.getdate"].line == 3


@pytest.mark.parametrize(
    ("body", "counts"),
    [
        ("CREATE FUNCTION f() RETURNS INT LANGUAGE JAVASCRIPT AS $$ return ISNULL(x) // DECLARE @x $$;", False),
        ("CREATE FUNCTION f() RETURNS INT AS $body$ return ISNULL(x) $body$ LANGUAGE plpython3u;", False),
        ("CREATE FUNCTION f() RETURNS INT AS $$ BEGIN RETURN ISNULL(x); END $$ LANGUAGE plpgsql;", True),
        ("DO $$ BEGIN PERFORM ISNULL(x); END $$;", True),
    ],
)
def test_dollar_bodies_are_code_unless_another_language_is_named(body, counts):
    assert ("sqlserver.isnull_function" in fired(body)) is counts


def test_dollar_bodies_in_a_row_pair_up():
    text = (
        "CREATE FUNCTION a() AS $$ SELECT 1 $$ LANGUAGE sql;\n"
        "CREATE FUNCTION b() LANGUAGE JAVASCRIPT AS $$ ISNULL(x) $$;\n"
        "CREATE FUNCTION c() AS $$ SELECT ISNULL(y) $$ LANGUAGE sql;\n"
    )
    evidence = {e.id: e for e in detect_dialect(text).evidence}
    assert evidence["sqlserver.isnull_function"].line == 3


# The context of each start is read from a map of the regions: a match that starts on the first
# character after a comment or literal is code, one on a closing quote is not, in every storage width.
@pytest.mark.parametrize("tail", ["", "\u0100", "\U0001f600"])
def test_starts_on_region_edges(tail):
    assert "sqlserver.declare_at_variable" in fired("/*x*/DECLARE @x INT" + tail)
    assert "sqlserver.declare_at_variable" in fired("SELECT 'a'\nDECLARE @x INT" + tail)
    assert "sqlserver.declare_at_variable" not in fired("SELECT 'DECLARE @x INT'" + tail)
    assert "databricks.notebook_header" in fired("SELECT 1\n-- COMMAND -" + tail)
    assert "databricks.notebook_header" not in fired("SELECT '-- COMMAND -'" + tail)


# Each thread keeps the map of regions from call to call: a shorter script after a longer one, with its
# comments and literals elsewhere, must not read what the longer one left.
def test_regions_of_one_script_do_not_reach_the_next():
    long = ("/* " + "x " * 2000 + "*/\n") * 3 + "SELECT 'DECLARE @x INT' AS s\n"
    short = "DECLARE @x INT\n-- SELECT NVL(a, b) FROM dual\n"
    fresh = [fired(long), fired(short), fired("SELECT NVL(a, b) FROM dual\n")]
    assert [fired(long), fired(short), fired("SELECT NVL(a, b) FROM dual\n")] == fresh
    assert "sqlserver.declare_at_variable" in fresh[1] and "oracle.nvl_function" not in fresh[1]


def test_openers_are_found_wherever_they_fall_in_every_width():
    # The scan skips the characters that open nothing many at a time: an opener at any offset from
    # the text's start, in any storage width, must still open its comment or literal.
    for wide in ["", "\u0100", "\U0001f600"]:
        for at in range(70):
            code = "SELECT " + "a" * at
            assert "sqlserver.declare_at_variable" not in fired(code + " -- DECLARE @x INT\n" + wide)
            assert "sqlserver.declare_at_variable" not in fired(code + "'DECLARE @x INT'" + wide)
            assert "sqlserver.declare_at_variable" in fired(code + "/* c */ DECLARE @x INT" + wide)


# The map of the regions holds a bit per position, 64 to a word: literals and comments that open and
# close on either side of every word edge, with evidence right after them or inside them.
@pytest.mark.parametrize("wide", ["", "\u0100", "\U0001f600"])
def test_regions_on_either_side_of_every_map_word_edge(wide):
    for at in range(140):
        for length in (0, 1, 62, 63, 64, 65, 127):
            pad, body = "x" * at, "y" * length
            assert "sqlserver.declare_at_variable" in fired(f"{wide}{pad} '{body}'DECLARE @x INT")
            assert "sqlserver.declare_at_variable" not in fired(f"{wide}{pad} '{body}DECLARE @x INT'")
            assert "databricks.notebook_header" in fired(f"{wide}{pad} /*{body}*/\n-- COMMAND -")
            assert "databricks.notebook_header" not in fired(f"{wide}{pad} '{body}\n-- COMMAND -'")


def test_a_script_of_countless_literals_leaves_nothing_to_the_next():
    short = "-- COMMAND -\nSELECT 'DECLARE @x INT' AS s\n"
    before = fired(short)
    many = "SELECT " + "'a', " * 150_000 + "1;\nDECLARE @x INT\n"
    assert "sqlserver.declare_at_variable" in fired(many)
    assert fired(short) == before
    assert "databricks.notebook_header" in before and "sqlserver.declare_at_variable" not in before


# A long literal is searched for its quotes (and, after E, its backslashes) many characters at a time
# once past its first few, and the characters that open something are looked up by table: a doubled
# quote, an escape or an opener at every offset, in every storage width, on every instruction-set path.
def test_literal_ends_and_openers_at_every_offset_on_every_path(force_isa):
    declare = "sqlserver.declare_at_variable"
    for isa in _matcher.available_isas():
        force_isa(isa)
        for wide in ["", "\u0100", "\U0001f600"]:
            for at in range(80):
                head, body = f"{wide} SELECT ", "y" * at
                assert declare not in fired(f"{head}'{body}''DECLARE @x INT' AS s"), (isa, at)
                assert declare in fired(f"{head}'{body}''' AS s; DECLARE @x INT"), (isa, at)
                assert declare not in fired(f"{head}E'{body}\\'DECLARE @x INT' AS s"), (isa, at)
                assert declare in fired(f"{head}E'{body}\\\\' AS s; DECLARE @x INT"), (isa, at)
                assert declare in fired(f"{head}'{body}{wide}' AS s; DECLARE @x INT"), (isa, at)
                assert declare not in fired(f"{head}{body} -- DECLARE @x INT"), (isa, at)
                assert declare not in fired(f"{head}{body} \"DECLARE @x INT\""), (isa, at)


# Wide text is read as it is stored: U+2028 and U+2029 end a line comment and may stand before a "#"
# comment, other blanks (U+3000) end nothing, letters beyond Latin-1 are word characters next to "#",
# "E'" and "q'", and distinct wide characters are never taken for one another as "$tag$" names or
# q-quote delimiters (a one-byte copy of the text would give many of them the same byte).
@pytest.mark.parametrize(
    ("text", "counts"),
    [
        ("SELECT 1 -- note\u2028DECLARE @x INT\n", True),
        ("SELECT 1 -- note\u2029DECLARE @x INT\n", True),
        ("SELECT 1 -- note\u3000DECLARE @x INT\n", False),
        ("SELECT 1 // note\u3000DECLARE @x INT\n", False),
        ("SELECT 1;\u2028# DECLARE @x INT\n", False),
        ("SELECT 1;\u3000# DECLARE @x INT\n", False),
        ("SELECT \u0100# DECLARE @x INT\n", True),
        ("SELECT 1; #\u0100 DECLARE @x INT\n", True),
        ("SELECT 1; #\u2014 DECLARE @x INT\n", False),
        ("SELECT \u00e9E'it\\'s' AS s; DECLARE @x INT\n", False),
        ("SELECT \u0100E'it\\' AS s; DECLARE @x INT\n", True),
        ("SELECT \u0100q'[it's]' AS s; DECLARE @x INT\n", False),
        ("SELECT q'\u3000it's\u3000' AS s; DECLARE @x INT\n", True),
        ("SELECT q'\u3000it's\u2003' AS s; DECLARE @x INT\n", False),
        ("CREATE FUNCTION f() LANGUAGE JAVASCRIPT AS $\u65e5$ DECLARE @x INT $\u65e5$;\n", False),
        ("CREATE FUNCTION f() LANGUAGE JAVASCRIPT AS $\u65e5$ DECLARE @x INT $\u672c$;\n", True),
        ("CREATE FUNCTION f() LANGUAGE JAVA\u017fCRIPT AS $$ DECLARE @x INT $$;\n", True),
    ],
)
@pytest.mark.parametrize("prefix", ["", "\U0001f600 "])
def test_wide_characters_in_context_rules(text, counts, prefix):
    assert ("sqlserver.declare_at_variable" in fired(prefix + text)) is counts
