"""Every pattern of the dialect marker catalogue runs on the native matcher and finds exactly what `re`
finds: compiled as their evaluator compiles them (IGNORECASE | MULTILINE), on every corpus script and on
generated text made of the patterns' own keywords and punctuation."""

import os
import re
from pathlib import Path

import pytest
from hypothesis import given
from hypothesis import strategies as st

from agents.tessera import _matcher
from agents.tessera.dialect_signatures import PLATFORM_MARKERS

# Beside the checkout, as for the other corpus tests; TESSERA_CORPUS points elsewhere (a worktree).
CORPUS = Path(os.environ.get("TESSERA_CORPUS") or Path(__file__).resolve().parents[2].parent / "shared" / "corpus")
FLAGS = re.IGNORECASE | re.MULTILINE
MARKERS = [(m.id, m.pattern) for m in PLATFORM_MARKERS]


def corpus_texts():
    files = sorted(CORPUS.rglob("*.sql"))
    # Outside CI a deterministic tenth of the corpus plus every large script keeps the run short; CI
    # reads all of it.
    if not os.environ.get("CI"):
        files = [f for i, f in enumerate(files) if i % 10 == 0 or f.stat().st_size > 50_000]
    return [f.read_text(encoding="utf-8", errors="replace") for f in files]


@pytest.fixture(scope="module")
def texts():
    found = corpus_texts()
    if not found:
        pytest.skip(f"no corpus under {CORPUS} (set TESSERA_CORPUS to its folder)")
    return found


def test_all_markers_compile_natively():
    assert len(MARKERS) == 133
    for _, pattern in MARKERS:
        _matcher.compile(pattern, FLAGS)


@pytest.mark.parametrize(("marker", "pattern"), MARKERS, ids=[m for m, _ in MARKERS])
def test_marker_agrees_with_re_on_the_corpus(texts, marker, pattern):
    expected = re.compile(pattern, FLAGS)
    native = _matcher.compile(pattern, FLAGS)
    for text in texts:
        found = expected.search(text)
        assert native.search(text) == (found.span() if found else None), marker


# The words and punctuation the patterns look for, so that generated text hits them, their near
# misses, and the windows between them.
WORDS = sorted({w for _, p in MARKERS for w in re.findall(r"[A-Za-z_]{2,}", p.replace("\\b", " "))})
PIECES = [" ", "  ", "\t", "\n", "\r\n", "\xa0", "\u2003", "(", ")", ",", ".", ":", "::", ";", "=", "=>", "@",
          "@~", "#", "$", "$$", "%", "`", "'", '"', "[", "]", "<", ">", "*", "/*+", "--", "-", "0", "42",
          "AS ", "x", "_", "é", "ſ", "ı", "İ", "\u212a", "٣", "\U0001f600"]


@st.composite
def word(draw):
    w = draw(st.sampled_from(WORDS))
    flips = draw(st.lists(st.booleans(), min_size=len(w), max_size=len(w)))
    return "".join(c.swapcase() if f else c for c, f in zip(w, flips))


marker_text = st.lists(word() | st.sampled_from(PIECES), max_size=60).map("".join)


@given(st.sampled_from(MARKERS), marker_text)
def test_marker_agrees_with_re_on_generated_text(marker, text):
    expected = re.compile(marker[1], FLAGS)
    native = _matcher.compile(marker[1], FLAGS)
    found = expected.search(text)
    assert native.search(text) == (found.span() if found else None)
    assert native.findall_spans(text) == [m.span() for m in expected.finditer(text)]
