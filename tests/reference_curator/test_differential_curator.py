"""The module against the plain `re` transcription, on generated text and on every corpus file."""

from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import oracle
from windowed import windowed_text
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from agents.tessera import _matcher
from agents.tessera import reference_curator as curator

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus"
CATEGORIES = list(oracle.CATEGORY_PATTERNS)

KEYWORDS = (
    "DATEDIFF DATEADD GETDATE GETUTCDATE EOMONTH DATEPART DATENAME DATETRUNC SYSDATETIME SYSUTCDATETIME "
    "ROW_NUMBER RANK DENSE_RANK NTILE LAG LEAD CUME_DIST PERCENT_RANK ISNULL COALESCE NULLIF IS NOT NULL "
    "LIKE CHARINDEX PATINDEX STUFF REPLACE SUBSTRING LEFT RIGHT COLLATE CONCAT CURSOR WITH AS FOR JSON "
    "OPENJSON JSON_VALUE JSON_QUERY JSON_MODIFY CAST CONVERT TRY_CAST TRY_CONVERT DECIMAL NUMERIC FLOAT "
    "CREATE OR ALTER PROC PROCEDURE EXEC EXECUTE MERGE TABLE INNER FULL CROSS OUTER JOIN GROUP BY HAVING "
    "SUM COUNT AVG MIN MAX SELECT"
).split()
PIECES = [" ", "  ", "\t", "\n", "\r", "\r\n", "\x85", "\u2028", "\x1c", "\x0b", "\x0c", "\xa0", "(", ")",
          "--", "/*", "*/", "-", "/", "*", "#", "@", "'", ",", "x", "_", "1", "é", "ß", "ſ", "ı", "İ", "\u212a",
          "٣", "\u0301", "\U0001d400", "\U0001f600"]


@st.composite
def keyword(draw):
    word = draw(st.sampled_from(KEYWORDS))
    flips = draw(st.lists(st.booleans(), min_size=len(word), max_size=len(word)))
    return "".join(c.swapcase() if f else c for c, f in zip(word, flips))


sql_text = st.lists(keyword() | st.sampled_from(PIECES) | st.text(max_size=3), max_size=40).map("".join)


@given(sql_text)
def test_categories_match_re(sql):
    assert curator.detect_construct_categories(sql) == oracle.detect_categories(sql)


# Mostly Latin-1 text stored two or four bytes per character (one wide character somewhere), so that
# the vector paths of the scan meet the per-character path at every offset within a block.
@given(st.lists(keyword() | st.sampled_from([p for p in PIECES if max(map(ord, p)) < 0x100]), min_size=30,
                max_size=150).map("".join),
       st.sampled_from(["", "\u0100", "\u2014", "\u3000", "\U0001f600"]), st.integers(min_value=0))
def test_categories_of_mostly_narrow_text_in_every_storage(sql, widener, at):
    at %= len(sql) + 1
    sql = sql[:at] + widener + sql[at:]
    assert curator.detect_construct_categories(sql) == oracle.detect_categories(sql)


# Long scripts are scanned in windows of their comment-free text, cut between a ")" and punctuation;
# a category found in one window is not looked for in the later ones. These put such cuts beside every
# keyword, inside CTE heads and across removed comments, with a wide character in code or in a comment.
CUT_PIECES = [")", "),", ");", "))", ")#t", ")@v TABLE", ") AS (", ")\nAS (", "WITH t (a)", "WITH t ", "--)\n",
              "/*)*/", ")/**/,", ")--\n;", "COUNT(", "LAG (", "IS NULL", " ", "\n", "x"]


@settings(max_examples=25)
@given(st.integers(0, 2**32 - 1), st.sampled_from(["", "-- \u2014\n", "'\u2014'", "'\U0001f600'", "/*\U0001f600*/"]))
def test_long_text_scanned_in_windows(seed, widener):
    sql = windowed_text(seed, CUT_PIECES, KEYWORDS, widener, size=60_000, cut_share=0.97)
    assert curator.detect_construct_categories(sql) == oracle.detect_categories(sql)


def test_categories_of_one_window_each():
    filler = "SELECT a FROM t WHERE b = (c), d; -- note\n/* block */ x = (1);\n" * 300
    found = ["MERGE t ", "LAG(", "WITH c (a) AS (", "#tmp ", "CAST(", "x IS NOT NULL"]
    for order in (found, found[::-1]):
        for widener in ["", "-- \u2014\n", "'\U0001f600'"]:
            sql = "".join(keyword + filler for keyword in order) + widener
            assert curator.detect_construct_categories(sql) == oracle.detect_categories(sql)


TITLES = ["Joins", "JOINS and Lookups", "Data Type Mapping", "NULL Semantics (CRITICAL)", "İstanbul", "istanbul",
          "ß", "SS", "ΟΔΟΣ", "οδος", "σ", "\u212a", "k", "ſ", "s", "", " ", "#", "CTE / Subqueries",
          "1. DATEDIFF Argument Order Reversed", "Date Functions"]
title = st.sampled_from(TITLES) | st.text(max_size=6)
line = st.one_of(
    st.tuples(st.sampled_from(["## ", "##", "###", "# ", " ## ", "\t## ", "## #", "##  ", ""]), title).map("".join),
    st.sampled_from(["body text", "", "   ", "\t", "a b  c", "| col | map |", "```sql", "\u3000x"]),
)
markdown = st.tuples(
    st.sampled_from(["", "\n", "  \n", "\ufeff"]),
    st.lists(st.tuples(line, st.sampled_from(["\n", "\n", "\r\n", "\r", "\n\n", "\u2028", "\x85", " \n", "\x0c\n"])),
             max_size=14),
).map(lambda t: t[0] + "".join(a + b for a, b in t[1]))


def outcome(call):
    try:
        return "value", call()
    except Exception as exc:  # the same error, worded the same, is part of the contract
        return "error", type(exc), str(exc)


@given(markdown, st.sets(title | st.integers(0, 3), max_size=4))
def test_sections_match_re(text, titles):
    # Mixed title sets: a non-string title fails only if the iteration order reaches it, in both.
    assert outcome(lambda: curator.extract_sections(text, titles)) == outcome(
        lambda: oracle.extract_sections(text, titles))


def selection(categories, mapping, gotchas, limitations=""):
    events = []

    class Recorder:
        def debug(self, event, **fields):
            events.append((event, list(fields.items())))

    saved, curator.logger = curator.logger, Recorder()
    try:
        result = curator.select_knowledge(categories, full_mapping=mapping, full_gotchas=gotchas,
                                          full_limitations=limitations)
    finally:
        curator.logger = saved
    [(event, fields)] = events
    assert event == "knowledge_selected"
    return list(result.items()), fields


def expected_selection(categories, mapping, gotchas, limitations=""):
    result, event = oracle.select_knowledge(categories, full_mapping=mapping, full_gotchas=gotchas,
                                            full_limitations=limitations)
    return list(result.items()), list(event.items())


GOTCHA_TITLES = [t for titles in oracle.CONSTRUCT_TO_GOTCHA_SECTIONS.values() for t in titles]
real_heading = st.sampled_from(
    [t for titles in oracle.CONSTRUCT_TO_MAPPING_SECTIONS.values() for t in titles] + GOTCHA_TITLES
).map(lambda t: f"## {t}\nsome words here\n")


@given(st.sets(st.sampled_from(CATEGORIES + ["nope", ""])),
       st.lists(real_heading | markdown, max_size=6).map("".join),
       st.lists(real_heading | markdown, max_size=6).map("".join), markdown)
def test_selection_matches_re(categories, mapping, gotchas, limitations):
    assert selection(categories, mapping, gotchas, limitations) == expected_selection(
        categories, mapping, gotchas, limitations)


def corpus(pattern):
    if not CORPUS.is_dir():
        pytest.skip("corpus not present")
    return sorted(CORPUS.rglob(pattern))


def test_corpus_scripts():
    for path in corpus("*.sql"):
        sql = path.read_text(encoding="utf-8", errors="surrogateescape")
        assert curator.detect_construct_categories(sql) == oracle.detect_categories(sql), path


def test_corpus_documents():
    every = set(CATEGORIES)
    for path in corpus("*.md"):
        text = path.read_text(encoding="utf-8")
        own_headings = {h[3:].strip() for h in text.split("\n") if h.startswith("## ")}
        for titles in (own_headings, set(list(own_headings)[::3]), {"SQL", "install"}, {"zz-none"}):
            assert curator.extract_sections(text, titles) == oracle.extract_sections(text, titles), path
        for categories in (set(), every, {"join", "cte"}):
            assert selection(categories, text, text[::-1]) == expected_selection(categories, text, text[::-1]), path


def test_concurrent_calls_agree():
    # The scans run without the GIL: calls from several threads must not share any scratch state.
    examples = Path(__file__).resolve().parents[2] / "examples"
    scripts = [p.read_text(encoding="utf-8") for p in sorted(examples.glob("*.sql"))]
    texts = [s + tail for s in scripts for tail in ("", " İ", " \U0001d400", "\n/* open")]
    expected = [oracle.detect_categories(t) for t in texts]
    with ThreadPoolExecutor(max_workers=4) as pool:
        assert list(pool.map(curator.detect_construct_categories, texts * 8)) == expected * 8


# Wide text whose comment-free text is narrow is copied while its comment openers are searched for,
# 16 or 32 characters a step: every piece below lands at every offset of a step, and across the
# boundary of the first window. Each piece is wrong in the categories if a character is dropped,
# doubled or kept from a comment, or if a wide character whose low byte is "-" or "/" is taken for one.
OPENER_PIECES = ["MER/**/GE ", "CUR/*\u2014*/SOR ", "MERGE--CURSOR\n", "a-b/c -MERGE/ ", "\xff/*x*/CURSOR ",
                 "\u012d-MERGE\n", "-\u012dCURSOR ", "\u012f*MERGE*/ ", "/\u012f CURSOR ", "\u2014--MERGE\nx ",
                 "--x\n\u2014CURSOR "]


@pytest.mark.parametrize("storage", ["/*\u0101*/", "/*\U0001f600*/", "-- \U0001f600\n"])
def test_comment_openers_at_every_offset_of_a_copy_step(storage, force_isa):
    filler = "f(x),y " * 1300
    texts = [storage + "SELECT " * 3 + "x" * pad + piece + "\u2014x"[:wide] + "x" * 40
             for pad in range(70) for piece in OPENER_PIECES for wide in (0, 1)]
    window = 8192 - len(storage)
    texts += [storage + filler[:pad] + piece + "x" * 40
              for pad in range(window - 40, window + 40, 5) for piece in OPENER_PIECES]
    expected = [oracle.detect_categories(sql) for sql in texts]
    for isa in _matcher.available_isas():
        force_isa(isa)
        assert [curator.detect_construct_categories(sql) for sql in texts] == expected, isa
