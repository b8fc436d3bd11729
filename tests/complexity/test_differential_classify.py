"""The native grading against the `re` transcription: generated SQL-like text and every corpus file must
give equal records, and the exposed tables must hold the transcription's patterns."""

import dataclasses
from pathlib import Path

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import oracle
from windowed import windowed_text
import agents.tessera.complexity as cx

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus"

KEYWORDS = (
    "CURSOR DECLARE EXEC EXECUTE sp_executesql DYNAMIC BEGIN TRY CATCH MERGE OPENXML hierarchyid geography "
    "geometry FOR XML OPENJSON LINKED SERVER WITH AS CREATE TABLE WHILE IF EXISTS CASE WHEN OVER PIVOT UNPIVOT "
    "OR ALTER PROC PROCEDURE PROCESS SELECT"
).split()

# Letters that fold onto the ASCII letters of the keywords, and ones that look as if they should but don't.
LOOKALIKES = {"s": ["ſ", "ß"], "i": ["ı", "İ"], "k": ["\u212a"], "e": ["é"]}

PIECES = [
    " ", "  ", "\t", "\n", "\r", "\r\n", "\x85", "\u2028", "\u2029", "\x1c", "\x1d", "\x0b", "\x0c", "\x1f",
    "\xa0", "\u3000", "--", "-", "/*", "*/", "*", "/", "#", "##", "(", ")", ",", ";", "'", "_", "@x", "a", "b1",
    "é", "ß", "ſ", "ı", "İ", "\u212a", "\u0663", "\u06f5", "\u0301", "\u0308", "\U0001d400", "\U0001f600", "\u200b",
    "\ufeff", "½", "x" * 5,
]  # fmt: skip


@st.composite
def keyword(draw):
    word = draw(st.sampled_from(KEYWORDS))
    out = []
    for ch in word:
        choices = [ch.lower(), ch.upper()] + LOOKALIKES.get(ch.lower(), [])
        out.append(draw(st.sampled_from(choices)) if draw(st.booleans()) else ch)
    return "".join(out)


sql_like = st.lists(st.one_of(keyword(), keyword(), st.sampled_from(PIECES)), max_size=80).map("".join)


def native(sql):
    r = cx.classify_sql(sql)
    return {f.name: getattr(r, f.name) for f in dataclasses.fields(r)}


def check(sql):
    got = native(sql)
    expected = oracle.classify_counts(sql)
    assert got == expected, (sql, got, expected)
    assert type(got["complexity"]) is cx.SQLComplexity


@given(sql_like)
@example("WITH a (" * 50 + "WITH b AS (")
@example("/* " * 50 + "*/ MERGE /* */")
@example("WITH a (b) AS (WITH c (d AS (e) AS (")
@example("#\u0301#\U0001d400 ##_ #é#")
def test_generated_text(sql):
    check(sql)


@given(st.text(alphabet="".join(set("".join(PIECES) + "cursorWITHasproc")), max_size=120))
def test_generated_characters(text):
    check(text)


# Long stretches of Latin-1 text in two- or four-byte storage, one wide character somewhere: the scans
# take their vector paths on nearly every block, and their exact per-character path on the one block
# that holds the wide character, at every offset within a block.
NARROW_PIECES = [p for p in PIECES if max(map(ord, p)) < 0x100]
WIDENERS = ["", "\u0100", "\u2014", "\u2028", "\u3000", "\U0001f600"]


@given(st.lists(st.one_of(keyword(), st.sampled_from(NARROW_PIECES)), min_size=40, max_size=200).map("".join),
       st.sampled_from(WIDENERS), st.integers(min_value=0))
def test_mostly_narrow_text_in_every_storage(sql, widener, at):
    at %= len(sql) + 1
    check(sql[:at] + widener + sql[at:])


# Long scripts are scanned in windows, cut between a ")" and punctuation: these put such cuts beside
# every construct, between the parts of a CTE, at the edges of comments and across removed ones.
CUT_PIECES = NARROW_PIECES + [")", ")", "),", ");", "))", ")#t", ")(", ") AS (", ")\nAS (", " x (a) ", "WITH t ",
                              "WITH t (a)", "--)\n", "/*)*/", ")/**/,", ")--\n;", "OVER(", "EXEC(", "#tmp"]


@settings(max_examples=25)
@given(st.integers(0, 2**32 - 1), st.sampled_from(WIDENERS))
def test_long_text_scanned_in_windows(seed, widener):
    check(windowed_text(seed, CUT_PIECES, KEYWORDS, widener, size=40_000, cut_share=0.6))


# Once a second comment has made the comment-free text a copy, wide storage is searched for comment
# openers and copied in chunks of a window's size: an opener whose two characters fall into two chunks
# is still one.
@pytest.mark.parametrize("widener", ["\u2014", "\U0001f600"])
@pytest.mark.parametrize("opener", ["--MERGE\n", "/*MERGE*/"])
def test_comment_opener_across_a_copied_chunk(opener, widener):
    for before in range(8180, 8200):
        check("/**/x/**/" + "x" * before + opener + "SELECT 1 -- " + widener)


# A construct a window found is not looked for in the later ones; the counters are, in every window.
# Each construct here stands in one window only (first, middle or last), beside temp tables, CTEs and
# procedures in all of them; comments make the windows copies, not views of the script.
def test_constructs_found_in_one_window_only():
    filler = "SELECT a FROM t WHERE b = (c), d; -- note\n/* block */ x = (1);\n" * 200
    counters = "#tmp WITH c AS (SELECT 1) CREATE PROCEDURE p AS "
    windows = ["MERGE t USING s ", "BEGIN TRY ", "OVER (", "CASE WHEN ", "geometry "]
    for order in (windows, windows[::-1]):
        check("".join(counters + construct + filler for construct in order))
    check(filler * 3 + "CURSOR " + counters)  # only past the first window


CORPUS_FILES = sorted(p for p in CORPUS.rglob("*") if p.is_file()) if CORPUS.is_dir() else []


@pytest.mark.skipif(not CORPUS_FILES, reason="corpus not present beside the checkout")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=[str(p.relative_to(CORPUS)) for p in CORPUS_FILES])
def test_corpus_file(path):
    record = cx.classify_sql_file(path)
    expected = oracle.classify_counts(path.read_text(encoding="utf-8"))
    assert {f.name: getattr(record, f.name) for f in dataclasses.fields(record)} == expected


def test_tables_equal_the_transcription():
    def spec(patterns):
        return [(p.pattern, p.flags) for p in patterns]

    assert spec(cx._COMPLEX_PATTERNS) == spec(oracle.COMPLEX_PATTERNS)
    assert spec(cx._MODERATE_PATTERNS) == spec(oracle.MODERATE_PATTERNS)
    assert spec([cx._STORED_PROC_PATTERN]) == spec([oracle.STORED_PROC_PATTERN])
    assert spec(cx._COMMENT_PATTERNS) == spec(oracle.COMMENT_PATTERNS)


def test_grading_is_one_pass_of_one_member_per_pattern():
    # Every member is a look-ahead of its own and every group of 64 one more pass over each window.
    from agents.tessera import _matcher

    table = [(p.pattern, p.flags, False) for p in [*cx._COMPLEX_PATTERNS, *cx._MODERATE_PATTERNS]]
    table.append((cx._STORED_PROC_PATTERN.pattern, cx._STORED_PROC_PATTERN.flags, True))
    assert _matcher.compile_set(table).layout() == (False, [len(table)])
