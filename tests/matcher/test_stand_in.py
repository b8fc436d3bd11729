"""One-byte stand-ins of wide text: a set's patterns match the stand-in exactly as they match the text
itself (same spans, at the same positions), or the set has none for that text."""

import re

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st
from test_generated_patterns import PATHS, on_path, patterns
from test_pattern_set import expected, valid_entries

from agents.tessera import _matcher

# Characters above U+00FF: what makes real scripts wide (a byte-order mark, typographic punctuation,
# wide spaces and line separators), and what the engine's tests tell apart from Latin-1 characters
# (the IGNORECASE partners of ASCII letters, letters and digits of other scripts, four-byte
# characters, a lone surrogate).
WIDE = ("\ufeff\u2019\u2014\u2003\u2028\u2029\u212a\u017f\u0130\u0131\u0430\u0416\u03c3\u03a3\u00b5"
        "\u4e2d\u0663\U0001f600\U0001d7d8\ud800")
ALPHABET = WIDE + "ab sSkKiI0_#(\n\t\xad\xa0\xaa\xe9\x85"

stats = {"sets": 0, "texts": 0, "stand-ins": 0}


@pytest.fixture(scope="module", autouse=True)
def report_counts():
    yield
    print(f"\nstand-in differential: {stats['sets']} sets, {stats['texts']} wide texts, "
          f"{stats['stand-ins']} with a stand-in, 0 differences")


def check_stand_in(compiled, entries, text):
    """The stand-in, when there is one, is the text with only its wide characters replaced by Latin-1
    ones, and every pattern (by `re` itself and by the set) finds there what `re` finds in the text."""
    want = expected(entries, text)
    assert compiled.spans(text) == want
    stand = compiled.stand_in(text)
    if stand is None:
        return None
    assert len(stand) == len(text) and max(stand, default="\0") <= "\xff"
    assert all(s == c for s, c in zip(stand, text) if c <= "\xff")
    assert expected(entries, stand) == want, (entries, text, stand)
    assert compiled.spans(stand) == want, (entries, text, stand)
    return stand


@given(st.lists(st.tuples(patterns(depth=2), st.booleans()), min_size=1, max_size=6),
       st.lists(st.text(st.sampled_from(ALPHABET), min_size=1, max_size=30), min_size=1, max_size=4),
       st.sampled_from(PATHS))
def test_generated_sets_match_the_stand_in_as_the_text(drawn, texts, path):
    entries = valid_entries(drawn)
    try:
        compiled = _matcher.compile_set(entries)
    except ValueError as error:
        # Counted repeats nested two deep can pass the size the engine takes, and it says so.
        assume("too large" not in str(error))
        raise
    stats["sets"] += 1

    def check():
        for text in texts:
            wide = text + "\u0100" if max(text) <= "\xff" else text
            stats["texts"] += 1
            stats["stand-ins"] += check_stand_in(compiled, entries, wide) is not None

    on_path(path, check)


def one(pattern, text, flags=0):
    entries = [(pattern, flags, True)]
    return check_stand_in(_matcher.compile_set(entries), entries, text)


def test_a_character_some_test_tells_from_every_latin1_one_has_none():
    assert one(r"\ufeff", "\ufeffSELECT") is None
    assert one(r"[^\x00-\xff]", "\ufeffSELECT") is None
    assert one(r"\u2019|x", "it\u2019s") is None
    # A class that names one Latin-1 look-alike only rules that one out.
    stand = one(r"[\u00ad]", "\ufeffSELECT")
    assert stand is not None and stand[0] != "\xad"


def test_case_folding_partners():
    # Under IGNORECASE the Kelvin sign is a k: either case stands in, unless a plain literal tells.
    assert one("k", "\u212a", re.I) in ("k", "K")
    entries = [("k", re.I, True), ("K", 0, True)]
    assert check_stand_in(_matcher.compile_set(entries), entries, "\u212a") == "k"
    entries.append(("k", 0, True))
    assert check_stand_in(_matcher.compile_set(entries), entries, "\u212a") is None
    assert one("s", "\u017f", re.I) in ("s", "S")
    # Without IGNORECASE they are characters no test names.
    assert one("k", "\u212a") not in (None, "k", "K")


def test_word_space_and_line_tests_keep_their_answers():
    stand = one(r"\bx", "\u0416x \u0416 x")
    assert re.fullmatch(r"\w", stand[0]) and stand[0] == stand[3]
    stand = one(r"\s+", "a\u2003b\u2028c")
    assert re.fullmatch(r"\s", stand[1]) and re.fullmatch(r"\s", stand[3])
    # Only "\n" ends a line for ^, $ and `.`, and nothing stands in for a line separator as "\n".
    stand = one(r"^.$", "a\u2028b\nc", re.M)
    assert "\n" not in stand[:3]


def test_what_working_stand_ins_out_may_cost():
    # Each distinct character is worked out once, for a share of the text's length.
    distinct = "".join(chr(0x4E00 + k) for k in range(5000))
    assert one(r"\bSELECT\b", distinct + " SELECT", re.I) is None
    assert one(r"\bSELECT\b", distinct + " SELECT" * 10_000, re.I) is not None
    assert one(r"\bSELECT\b", "\u4e2d" * 5000 + " SELECT", re.I) is not None
    # And no more of them than a table of a few thousand holds.
    assert one(r"\bSELECT\b", distinct * 2 + "".join(chr(0x5E00 + k) for k in range(5000)) + " SELECT" * 100_000,
               re.I) is None


def test_uncased_characters_at_the_edges_of_what_tests_name():
    # Characters without case are told apart by where they fall among the characters and ranges the
    # tests name: ranges that reach from Latin-1 into wide characters put the characters on either
    # side of their ends with different Latin-1 ones.
    text = "".join(chr(c) for c in (0x4DFF, 0x4E00, 0x4E01, 0x4E2C, 0x4E2D, 0x1F5FF, 0x1F600, 0x1F601, 0xD800,
                                    0x20, 0x61)) * 2
    for pattern in (r"[\xe0-\u4e00]+", r"[^\xe0-\u4e2c]", r"[\xf7-\u4e01]\w", r"[\xe0-\U0001f600]+\s",
                    r"[\xe0-\u4dff\u4e2d-\U0001f5ff]{2}"):
        for flags in (0, re.I):
            assert one(pattern, text, flags) is not None, pattern


@pytest.mark.parametrize("path", PATHS)
def test_wide_characters_at_every_offset_of_the_copys_blocks(path):
    # The copy goes 16 or 32 characters a step: wide characters at a block's edges, inside it, and in
    # the tail, in two- and four-byte storage.
    entries = [(r"\bK\w*", re.I, True), (r"\s", 0, True)]
    compiled = _matcher.compile_set(entries)
    for wide in ("\ufeff", "\u212a", "\U0001f600"):
        for at in (0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 95, 96, 99):
            text = "".join(wide if k == at or k % 37 == 36 else "ak "[k % 3] for k in range(100))
            on_path(path, lambda: check_stand_in(compiled, entries, text))
            on_path(path, lambda: check_stand_in(compiled, entries, text + "\U0001f600"))
