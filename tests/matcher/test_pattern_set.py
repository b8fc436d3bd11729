"""Pattern sets: one pass over the text gives, for every pattern, exactly what `re` gives for it alone:
the span of its first match, or all its finditer spans."""

import re

from hypothesis import given
from hypothesis import strategies as st
from test_generated_patterns import PATHS, kinds, on_path, patterns
from test_marker_patterns import FLAGS, MARKERS, marker_text, texts  # noqa: F401 (texts is a fixture)

from agents.tessera import _matcher


def expected(entries, text):
    out = []
    for pattern, flags, findall in entries:
        compiled = re.compile(pattern, flags)
        if findall:
            out.append([m.span() for m in compiled.finditer(text)])
        else:
            m = compiled.search(text)
            out.append(m.span() if m else None)
    return out


# The catalogue twice over, first matches and all matches: 266 patterns, so several groups of 64.
CATALOGUE = [(p, FLAGS, False) for _, p in MARKERS] + [(p, FLAGS, True) for _, p in MARKERS]
catalogue_set = _matcher.compile_set(CATALOGUE)
catalogue_in_groups = _matcher.compile_set(CATALOGUE, scan="groups")


def test_catalogue_set_on_the_corpus(texts):
    for text in texts[::7]:
        assert catalogue_set.spans(text) == expected(CATALOGUE, text)
        assert catalogue_in_groups.spans(text) == catalogue_set.spans(text)


@given(marker_text, st.sampled_from(PATHS))
def test_catalogue_set_on_generated_text(text, path):
    on_path(path, check_catalogue, text)


def check_catalogue(text):
    for variant in kinds(text):
        assert catalogue_set.spans(variant) == expected(CATALOGUE, variant)


# Sets of more than 64 patterns (several groups) are covered by the catalogue above.
@given(st.lists(st.tuples(patterns(depth=1), st.booleans()), min_size=1, max_size=8),
       st.lists(st.text(st.sampled_from("ab \n_sſK\u212aıİ0٣#(é\U0001f600"), max_size=30), min_size=1, max_size=3),
       st.sampled_from(PATHS), st.sampled_from([None, "groups", "literal"]))
def test_generated_sets_agree_with_each_pattern_alone(drawn, texts, path, scan):
    on_path(path, check_generated_set, drawn, texts, scan)


def valid_entries(drawn):
    """The drawn ((pattern, flags), findall) that `re` compiles, as compile_set entries."""
    entries = []
    for (src, flags), findall in drawn:
        try:
            re.compile(src, flags)
        except re.error:
            continue
        entries.append((src, flags, findall))
    return entries


def check_generated_set(drawn, texts, scan):
    entries = valid_entries(drawn)
    compiled = _matcher.compile_set(entries, scan=scan)
    for text in texts:
        for variant in kinds(text):
            assert compiled.spans(variant) == expected(entries, variant)


def test_a_pattern_that_matches_empty_everywhere_and_one_that_never_matches():
    entries = [("", 0, True), ("x*", 0, True), ("(?!)", 0, False), ("q", 0, True), ("$", re.M, True)]
    text = "xx\nax\n"
    assert _matcher.compile_set(entries).spans(text) == expected(entries, text)


# An attempt that got through a pattern's opening keywords and loops resumes after them, without
# taking them again: what follows may still loop back into them, give back nothing of them, or fail
# and leave the next start to be tried. In one-byte text the set's filter has checked the leading \b
# and first characters of some of them already (not where \b comes before a non-word character, or
# where an alternation or a class lets more characters stand there than the first test takes).
def test_attempts_resume_after_their_opening_keywords():
    entries = [
        (r"\bBEGIN\s+TRY\b", re.I, True),
        (r"\b(?:BEGIN|BEGUN)\s+TRY", re.I, True),
        (r"\b\w\wGIN\s+CATCH", 0, True),
        (r"\b#\w+", 0, True),
        (r"\b[#@]?BEG\w*\s+T", 0, True),
        (r"(?:WITH)+\s+\w+\s*AS", re.I, True),
        (r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(", re.I, True),
        (r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(", re.I, False),
        (r"#\w+(?:\.\w+)*", 0, True),
        (r"ABCD(?:ABCD)*E", 0, True),
        (r"\bEXEC(?:UTE)?\s*\(", re.I, False),
        (r"\bIF\s+EXISTS\b", re.I, True),
    ]
    text = ("WITHWITH  x AS WITH NOWAIT; WITH t(a) AS (SELECT 1) WITH u AS(x) withas AS ( #t.a.b #u. "
            "ABCDABCDABCE ABCDABCDE ABCDE EXEC x EXECUTE(y) exec (z) IF  EXISTS IF EXISTSX "
            "BEGIN TRY xBEGIN TRY _BEGIN TRY BEGUN TRY BEGIN  TRYX BEGIN CATCH ##t x#t @BEGIN T #BEGINS T ") * 3
    text = "BEGIN TRY " + text
    for scan in (None, "groups"):
        compiled = _matcher.compile_set(entries, scan=scan)
        for variant in (text, text + "\u2014", text + "\U0001f600"):
            assert compiled.spans(variant) == expected(entries, variant)
