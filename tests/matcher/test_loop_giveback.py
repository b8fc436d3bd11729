"""A greedy loop that must give characters back to what follows it, when what follows opens with another
loop, an optional group or an alternation: the positions it skips untried are only those where no
continuation can start, in every storage width, with case folding across Latin-1 and beyond."""

import re

import pytest
from hypothesis import given
from hypothesis import strategies as st
from test_generated_patterns import PATHS, kinds, on_path

from agents.tessera import _matcher

LOOPS = [r"\w+", r"\w*", r"[a-zß]+", r".+", r"[^)]*", r"\S+?"]
FOLLOWS = [
    r"\s*AS\s*\(",
    r"\s*(?:\([^)]*\))?\s*as",
    r"[ \t]*(?:ſ|K)?µ",
    r"(?:b|)c",
    r"\s*(?:k|s)\b",
    r"(?=s)\w",
    r"\s*$",
    r"(?:x\s*)*Ss",
    r"\s*(?:\(|)[ ]*AS",
    r"[ ]*(?:x|\b)\s*as",
    r"\s+(?:x|)\s*AS",
    r"[ ]*(?:\(|)\s*AS",
]
ALPHABET = "aAsSkKſKµΜμß  ()x\t\nbc"


@given(st.sampled_from(["", r"\bWITH\s+", "x"]), st.sampled_from(LOOPS), st.sampled_from(FOLLOWS),
       st.sampled_from([0, re.I, re.I | re.S]), st.lists(st.text(ALPHABET, max_size=24), min_size=1, max_size=3),
       st.sampled_from(PATHS))
def test_loop_gives_back_exactly_as_re(head, loop, follow, flags, parts, path):
    src = head + loop + follow
    compiled = re.compile(src, flags)
    native = _matcher.compile(src, flags)
    text = " WITH ".join(parts)

    def check():
        for t in kinds(text):
            m = compiled.search(t)
            assert native.search(t, 0) == (m.span() if m else None), (src, flags, t)
            assert native.findall_spans(t) == [m.span() for m in compiled.finditer(t)], (src, flags, t)

    on_path(path, check)


@pytest.mark.parametrize("src, flags, text", [
    # The word itself may end in the keyword that follows it ("xAS"), or only look as if it might.
    *((r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(", re.I, text)
      for text in ["WITH xAS (", "with NOWAIT\n\n   SET", "WITH basAS(", "WITH t (a, b) AS (", "WITH ſAS (",
                   "WITH aaaaaaaaaaaaaaaaas (", "WITH KAS\u212a(", "WITH µAS\t("]),
    # A later loop takes more than the first one does, so it must be tried where the first one stops.
    (r"x[ ]*(?:\(|)\s*AS", 0, "x \nAS"),
    (r"x[ ]*(?:\(|)\s*AS", re.I, "x  \n\tas x "),
    # A later loop over the same class, after a test that depends on where it is tried.
    (r"x\s*(?:\b|\()\s*AS", 0, "x  AS"),
])
def test_loops_that_give_back_into_optional_parts(src, flags, text):
    compiled = re.compile(src, flags)
    native = _matcher.compile(src, flags)
    for t in kinds(text):
        assert native.findall_spans(t) == [m.span() for m in compiled.finditer(t)], t
