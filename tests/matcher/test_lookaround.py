"""Lookarounds and bounded loops on the native matcher: `re`'s answers where the engine can give them in
linear time, and a ValueError naming the construct and its offset where it cannot."""

import re

import pytest

from agents.tessera import _matcher


def spans(pattern, text, flags=0):
    return [m.span() for m in re.finditer(pattern, text, flags)]


@pytest.mark.parametrize(
    ("pattern", "text"),
    [
        (r"(?<!AS )\bENUM\s*\(", "AS ENUM( x ENUM (  as enum(  ENUM("),
        (r"(?<=\bab)c", "abc xabc ab c abcabc"),
        (r"c(?<=a|c)", "ac cc bc"),  # lookbehind placed after what it looks at
        (r"(?<!^)x", "xx\nxx"),  # the assertion inside sees the real text edges
        (r"#(?![A-Za-z_])(?!\s*(standardSQL|legacySQL)\b)", "#a #_ # standardSQL #legacySQLx #\n\nlegacysql #"),
        (r"\bDELIMITER\s+(?![A-Za-z0-9_\s])\S+", "DELIMITER $$ delimiter ; DELIMITER  \n// DELIMITER go"),
        (r"(?=\s*x)\s", "   x  y \t\nx"),
        (r"(?!\s+y)\s", "  y  z"),
        (r"a(?=b|$)", "ab a\nac a"),
        (r"(?!)|b", "abc"),
        (r"(?=)", "ab"),
    ],
)
@pytest.mark.parametrize("flags", [0, re.IGNORECASE | re.MULTILINE])
def test_lookarounds_give_re_spans(pattern, text, flags):
    m = _matcher.compile(pattern, flags)
    assert m.findall_spans(text) == spans(pattern, text, flags)
    assert m.sub(text) == re.sub(pattern, "", text, flags=flags)
    for pos in range(len(text) + 2):
        found = re.compile(pattern, flags).search(text, pos)
        assert m.search(text, pos) == (found.span() if found else None)


@pytest.mark.parametrize(
    ("pattern", "text"),
    [
        (r"\bOPTIMIZE\b[\s\S]{0,20}?\bZORDER\s+BY\b", "OPTIMIZE t ZORDER BY OPTIMIZE " + "x" * 30 + " ZORDER BY"),
        (r"a[\s\S]{0,5}b", "a123b45b a123456b"),
        (r"a[^b]{2,4}?c", "axc axxc axxxxc axxxxxc abxc"),
        (r"x.{1,3}$", "x12\nx1234\nx1"),
        (r"(?:ab){1,3}?c", "ababc abababac"),
        (r"a{0,2000}?b", "a" * 2500 + "b"),
        # Windows from successive starts overlap and fail, or end in a match that findall resumes after:
        # the positions a window already tried must be skipped only as far as the loop could reach.
        (r"\bC[\s\S]{0,40}?\(\s*Z", "CREATE TABLE (" * 12 + "CREATE (Z CREATE ( z"),
        (r"C[\s\S]{0,40}\(\s*Z", "CREATE TABLE (" * 12 + "CREATE (Z CREATE ( z"),
        (r"a[^;]{0,9}?b", "a;ab aaa;aab a" + "a a;b" * 6 + "aaaaaaaaaaab aaaaaaaaaaaaaaab"),
        (r"a[^;]{1,9}b", "a;ab aaa;aab a" + "a a;b" * 6 + "aaaaaaaaaaab aaaaaaaaaaaaaaab"),
        (r"[ab].{0,6}?x", "ab\nax a.b.....x aaaaaaaaaax" * 3),
        (r"x.{2,6}y", "xx\nxxyy xxxxxxxxxyyy " * 3),
        # The keyword after the span is required too: matches must survive the scan's check for it.
        (
            r"\bCREATE\s+TABLE\b[\s\S]{0,30}?\b(SMALL|BIG)?SERIAL\b",
            "create table a (x int); CREATE TABLE b (id bigserial, s SERIAL) create table c (serial2 SERIAL)",
        ),
    ],
)
def test_bounded_loops_give_re_spans(pattern, text):
    for flags in (0, re.DOTALL, re.IGNORECASE):
        assert _matcher.compile(pattern, flags).findall_spans(text) == spans(pattern, text, flags)


@pytest.mark.parametrize(
    ("pattern", "construct", "offset"),
    [
        (r"(a)\1", "group references", 3),
        (r"ab(?=(?!c))", "a lookaround inside a lookaround", 5),
        (r"x(?=a*b*)", "a lookahead whose body is unbounded", 1),
        (r"x(?=(ab)+)", "a lookahead whose body is unbounded", 1),
        (r"a(?i:b)", "inline flags", 1),
        (r"a++", "possessive repeats", 2),
        (r"(?:a?)*", "repeat of a subpattern that can match the empty string", None),
    ],
)
def test_unsupported_constructs_are_refused_by_name_and_offset(pattern, construct, offset):
    with pytest.raises(ValueError) as raised:
        _matcher.compile(pattern, 0)
    assert construct in str(raised.value)
    if offset is not None:
        assert str(raised.value).endswith(f"at position {offset}")


def test_counted_repeats_are_expanded_up_to_a_bounded_program_size():
    # The cost bound is in the size of the expanded program, so a pattern is taken whole or refused
    # by name: nested counts that stay under the bound match as re does, the next step up is refused.
    text = "ab" * 9500
    for pattern in (r"(?:ab){9000}", r"(?:(?:ab){100}){90}"):
        assert _matcher.compile(pattern, 0).search(text, 0) == re.search(pattern, text).span()
    for pattern in (r"(?:ab){10001}", r"(?:(?:ab){200}){60}", r"(?=((a?a|^aa|a){1,41}(^^a?a?)|a){0,40})"):
        with pytest.raises(ValueError, match="^pattern too large$"):
            _matcher.compile(pattern, 0)


def test_what_re_refuses_is_refused_with_res_error():
    with pytest.raises(re.error, match="look-behind requires fixed-width pattern"):
        _matcher.compile(r"(?<!a*)b", 0)
    with pytest.raises(re.error, match="unterminated character set"):
        _matcher.compile(r"[ab", 0)


def test_overlapping_bounded_windows_stay_linear():
    # Every start opens a window of 2000 characters over the same positions; walking them again from
    # each start would be about 2 * 10^9 steps here (minutes, where a linear scan takes milliseconds).
    text = "CREATE TABLE (" * 70_000
    for lazy in ("?", ""):
        m = _matcher.compile(r"\bCREATE\s+TABLE\b[\s\S]{0,2000}%s\bZORDER\b" % lazy, re.IGNORECASE)
        assert m.search(text) is None
        assert m.findall_spans(text) == []


def test_a_long_unterminated_lookahead_run_stays_linear():
    # Every blank asks the lookahead, whose loop runs to the end of the blanks: without sharing the
    # answers this is quadratic (about 10^10 steps here).
    text = " " * 200_000 + "y"
    m = _matcher.compile(r"(?!\s*x)\s", 0)
    assert len(m.findall_spans(text)) == 200_000
    assert _matcher.compile(r"\s(?=\s*x)", 0).search(text) is None
