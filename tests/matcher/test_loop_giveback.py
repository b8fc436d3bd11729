"""A greedy loop that must give characters back to what follows it, when what follows opens with another
loop, an optional group or an alternation: the positions it skips untried are only those where no
continuation can start, in every storage width, with case folding across Latin-1 and beyond."""

import re

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
]
ALPHABET = "aAsSkKſKµΜμß ()x\t\nbc"


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


def test_cte_heads_that_give_a_word_back():
    # The word itself may end in the keyword that follows it ("xAS"), or only look as if it might.
    cte = re.compile(r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(", re.I)
    native = _matcher.compile(cte.pattern, re.I)
    for text in ["WITH xAS (", "with NOWAIT SET", "WITH basAS(", "WITH t (a, b) AS (", "WITH ſAS (",
                 "WITH aaaaaaaaaaaaaaaaas (", "WITH KAS\u212a(", "WITH µAS\t("]:
        for t in kinds(text):
            assert native.findall_spans(t) == [m.span() for m in cte.finditer(t)], t
