"""Sets of keyword patterns over long texts of near misses: attempts that fail in the opening keywords
and their whitespace, and patterns whose later keyword turns up only far ahead (or never), so that a
member gives up attempting and looks ahead. Each pattern's first match, or all its matches, must be
what `re` finds alone, in every storage width and on every instruction-set path."""

import re

from hypothesis import given, settings
from hypothesis import strategies as st
from test_generated_patterns import PATHS, kinds, on_path
from test_pattern_set import expected

from agents.tessera import _matcher

I = re.IGNORECASE
ENTRIES = [
    (r"\bBEGIN\s+TRY\b", I, False),
    (r"\bBEGIN\s+CATCH\b", I, False),
    (r"\bDECLARE\s+\w+\s+CURSOR\b", I, False),
    (r"\bFOR\s+XML\b", I, False),
    (r"\bCURSOR\b", I, False),
    (r"\bOVER\s*\(", I, False),
    (r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(", I, True),
    (r"#\w+", 0, True),
    (r"@\w*", 0, True),
    # A loop the next test overlaps: giving back a character is what lets it match.
    (r"\bkey\w*y\b", I, True),
    (r"\bx\s*\s(?:y|z)", I, False),
    # A keyword after an unbounded span of almost anything.
    (r"\bSET\b[^;]*\bNOCOUNT\b", I, False),
]
SETS = [_matcher.compile_set(ENTRIES, scan=scan) for scan in (None, "groups")]

# Near misses and the real thing, with ASCII and other whitespace (U+0085, U+00A0, U+3000 are \s; U+200B
# is not), case variants re folds (ſ for s, K for k, ı/İ for i), and word characters beyond Latin-1.
PIECES = [
    "BEGIN ", "begin\n", "BEGIN\u3000", "BEGIN\u0085", "BEGIN\u200b", "TRY", "TRY ", "CATCH", "ca\u0074ch",
    "DECLARE ", "DECLARE @c ", "DECLARE c\u00a0", "declare ſ ", "CURSOR", "CURSORS", "cursor;",
    "FOR ", "FOR\t", "XML", "xml ", "OVER", "OVER (", "over\n(", "WITH ", "WITH x AS (", "with y (a) as (",
    "#t ", "#\u00e9t", "#", "@", "@@x", "@\u0663\u0131", "key", "kEy", "\u212aey ", "keyyy ", "x ", "x  z", "x\u3000y", "SET ", "NOCOUNT",
    ";", "(", ")", ",", " ", "\n", "a", "\u0131", "\u0130", "\u0663", "\U0001f600",
]


@settings(max_examples=60, deadline=None)
@given(st.lists(st.sampled_from(PIECES), min_size=1, max_size=60), st.integers(0, 400),
       st.sampled_from(PATHS))
def test_keyword_sets_on_near_misses(pieces, repeats, path):
    # The repeated head makes members attempt often enough to look ahead; the tail holds what they
    # look for, or not.
    text = "".join(pieces[: len(pieces) // 2]) * repeats + "".join(pieces)
    on_path(path, check, text)


def check(text):
    for variant in kinds(text):
        want = expected(ENTRIES, variant)
        for compiled in SETS:
            assert compiled.spans(variant) == want


def test_a_later_keyword_far_ahead_after_many_openings():
    # Thousands of openings whose second keyword is missing, then the one that has it, preceded by
    # characters the opening's own tests take (spaces, letters of the keyword) and by ones they don't.
    for lead in ["", ";", "BEGIN", "  begin  ", "NOBEGIN "]:
        text = "BEGIN SET x;\n" * 3000 + lead + "BEGIN \u3000 TRY" + " DECLARE c CURSOR"
        check(text)
    check("BEGIN SET x;\n" * 3000)
    check("FOR x " * 5000 + "FOR XML")
