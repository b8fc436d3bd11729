"""The private test entry point: argument checks, `re`'s treatment of pos, and the instruction-set switch."""

import re
import threading

import pytest

from agents.tessera import _matcher


@pytest.mark.parametrize("flags", [re.ASCII, re.VERBOSE, re.LOCALE, 1 << 10])
def test_flags_beyond_ignorecase_multiline_dotall_are_refused(flags):
    with pytest.raises(ValueError, match="unsupported flags"):
        _matcher.compile("a", flags)


def test_accepted_flags_and_the_implied_unicode_flag():
    m = _matcher.compile("^a.", re.I | re.M | re.S | re.UNICODE)
    assert m.flags == re.I | re.M | re.S
    assert m.findall_spans("b\nA\n") == [(2, 4)]


def test_argument_types():
    with pytest.raises(TypeError):
        _matcher.compile(b"a", 0)
    with pytest.raises(TypeError):
        _matcher.compile("a", "0")
    m = _matcher.compile("a", 0)
    for call in (lambda: m.search(b"a"), lambda: m.findall_spans(None), lambda: m.sub(1), lambda: m.search("a", "1"),
                 lambda: m.search("a", pos=1, text="a"), lambda: m.search("a", endpos=1), lambda: m.search()):
        with pytest.raises(TypeError):
            call()


def test_pos_is_treated_as_re_treats_it():
    pattern = r"^\w|\b|(?<=a)b|\Bc$"
    m, r = _matcher.compile(pattern, re.M), re.compile(pattern, re.M)
    text = "ab c\nabc"
    for pos in [-5, -1, 0, 1, 2, 3, 5, 7, 8, 9, 100, 2**62]:
        found = r.search(text, pos)
        assert m.search(text, pos) == (found.span() if found else None), pos
        assert m.search(text, pos=pos) == m.search(text, pos)


def test_sub_keeps_the_string_kind_it_needs():
    m = _matcher.compile(r"/\*.*?\*/", re.S)
    assert m.sub("a/* \U0001f600 */b") == "ab"
    assert m.sub("x\u0100/**/y") == "x\u0100y"
    assert m.sub("nothing") == "nothing"


def test_force_isa_switches_paths_and_none_restores_the_automatic_choice():
    automatic = _matcher.current_isa()
    paths = _matcher.available_isas()
    assert automatic == paths[-1]
    m = _matcher.compile(r"\bSELECT\b", re.I)
    text = ("x " * 40 + "select\u0100 ") * 20
    expected = m.findall_spans(text)
    try:
        for path in paths:
            _matcher.force_isa(path)
            assert _matcher.current_isa() == path
            assert m.findall_spans(text) == expected
    finally:
        _matcher.force_isa(None)
    assert _matcher.current_isa() == automatic
    with pytest.raises(ValueError, match="unknown instruction-set path 'sse9'"):
        _matcher.force_isa("sse9")
    with pytest.raises(TypeError):
        _matcher.force_isa(2)


def test_scans_release_the_gil_and_run_concurrently():
    # Scratch is per thread: concurrent scans of one compiled pattern must not see each other's state.
    m = _matcher.compile(r"(?<!x)a[\s\S]{0,50}?b(?!\s*c)", 0)
    text = ("a" + " " * 30 + "b c " + "xa b ") * 2000
    expected = m.findall_spans(text)
    results = []
    threads = [threading.Thread(target=lambda: results.append(m.findall_spans(text))) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected] * 4
