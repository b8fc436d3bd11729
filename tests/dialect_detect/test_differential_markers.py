"""find_markers gives exactly the spans of the `re` loop over the catalogue (IGNORECASE | MULTILINE), on
the corpus and on generated text in all three storage widths of a str."""

import os
import re

from hypothesis import given
from hypothesis import strategies as st

from agents.tessera.dialect_detect import find_markers
from agents.tessera.dialect_signatures import PLATFORM_MARKERS

COMPILED = [(m.id, re.compile(m.pattern, re.IGNORECASE | re.MULTILINE)) for m in PLATFORM_MARKERS]


def re_find_markers(text: str) -> dict[str, tuple[int, int]]:
    return {ident: found.span() for ident, pattern in COMPILED if (found := pattern.search(text)) is not None}


def test_the_whole_corpus(corpus):
    files = sorted(p for p in corpus.rglob("*") if p.is_file() and p.suffix != ".md")
    # Outside CI a deterministic tenth of the smaller scripts keeps the run short (the `re` loop takes
    # seconds on each large one); CI reads all of it.
    if not os.environ.get("CI"):
        files = [f for i, f in enumerate(files) if i % 10 == 0 and f.stat().st_size < 100_000]
    for path in files:
        text = path.read_text(encoding="utf-8", errors="replace")
        assert find_markers(text) == re_find_markers(text), path.name


# Pieces of the markers' own vocabulary, so generated text reaches deep into the patterns.
WORDS = [
    "SELECT", "CREATE TABLE", "USING DELTA", "FROM", "OPTIMIZE", "ZORDER BY", "VACUUM", "RETAIN 7 HOURS", "MONEY",
    "ON CONFLICT", "DO NOTHING", "ENUM(", "AS ", "#", "# standardSQL", "DELIMITER", "$$", "$tag$", "GO", "SEL",
    "MINUS", "COPY t FROM", "IAM_ROLE", "[a b]", ".[x]", "@@ROWCOUNT", "::int", "?::", "/*+ BROADCAST(", "/*!40101",
    "-- MAGIC", "|>", "`a`", "STRUCT<a:int>", "ARRAY<", "q'[", "(+)", "TOP (5)", "CONVERT(a, b, 120)", "MATCH(a)",
    "AGAINST(", "LANGUAGE js", "\\copy", "DATABASE x;", "İ", "ſ", "K", "é", "😀", "\u2028", "\r\n", "\n", " ", "\t",
    "(", ")", ",", ";", "'", '"', "/", "*", "-", "@", "~", "%", "x", "_", "1",
]

texts = st.lists(st.sampled_from(WORDS), max_size=60).map("".join)


@given(texts)
def test_generated_text(text):
    assert find_markers(text) == re_find_markers(text)


@given(texts, st.sampled_from(["", "é", "\u0100", "\U0001f600"]))
def test_generated_text_in_every_storage_width(text, widen):
    # A character of the wider storage at the end moves the whole text into that width.
    wide = text + widen
    assert find_markers(wide) == re_find_markers(wide)
