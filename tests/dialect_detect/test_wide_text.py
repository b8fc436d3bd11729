"""Scripts stored two or four bytes per character are scanned on a one-byte stand-in copy where the
detector's tables allow one: the verdict, the scores, the evidence (lines and texts, cut from the
script itself) and the markers' spans are those of the wide text."""

import os
import re

import pytest
from test_differential_markers import re_find_markers

from agents.tessera import _matcher
from agents.tessera.dialect_detect import _LEXICON, detect_dialect, find_markers
from agents.tessera.dialect_signatures import PLATFORM_MARKERS

FLAGS = re.IGNORECASE | re.MULTILINE
# The detector's two tables as the matcher module builds them: the markers (find_markers), then the
# markers and the lexicon (detect_dialect).
MARKER_ENTRIES = [(m.pattern, FLAGS, False) for m in PLATFORM_MARKERS]
MARKER_SET = _matcher.compile_set(MARKER_ENTRIES)
ALL_SET = _matcher.compile_set(MARKER_ENTRIES + [(pattern, FLAGS, False) for _, _, pattern in _LEXICON])

# A decimal digit of another script in a trailing comment: the tables' `\d` and `[0-9]` tell it from
# every Latin-1 character, so there is no stand-in and the scan runs on the text itself.
ITSELF = "\n-- \u0663"


def wide_forms(text):
    """The script as a byte-order mark, a typographic apostrophe or an emoji makes it: two- and
    four-byte storage, with the wide character at the start, inside and at the end."""
    yield "\ufeff" + text
    yield text.replace("'", "\u2019", 1) if "'" in text else text + "\u2019"
    yield text[: len(text) // 2] + "\U0001f600" + text[len(text) // 2:]


def verdict(text):
    r = detect_dialect(text)
    return r.platform, r.confidence, r.scores, r.runner_up, [(e.id, e.line, e.text, e.weight) for e in r.evidence]


def scripts(corpus):
    for path in sorted(corpus.rglob("*.sql")):
        try:
            yield path, path.read_text(encoding="utf-8")
        except UnicodeDecodeError:
            continue


def test_the_tables_take_the_stand_in_for_what_makes_scripts_wide():
    for text in wide_forms("SELECT 'it''s' -- a\nGO\n"):
        for table in (MARKER_SET, ALL_SET):
            assert table.stand_in(text) is not None
            assert table.stand_in(text + ITSELF) is None


def test_comments_in_another_script_keep_the_stand_in():
    # Thousands of distinct characters (ideographs, each worked out once and most by a cheap key),
    # and a few hundred of another script with case (a signature each).
    prose = [chr(0x4E00 + (k * 7919) % 3000) for k in range(30 * 2000)]
    cased = [chr(0x0400 + k % 256) for k in range(30 * 2000)]
    text = "".join(f"SELECT TOP 5 a FROM t -- {''.join(prose[30 * k:30 * k + 30])}\n"
                   f"GO /* {''.join(cased[30 * k:30 * k + 30])} */\n" for k in range(2000))
    for table in (MARKER_SET, ALL_SET):
        assert table.stand_in(text) is not None
    assert verdict(text) == verdict(text + ITSELF)


def test_the_corpus_in_wide_storage_gives_the_wide_texts_results(corpus):
    for path, text in scripts(corpus):
        for wide in wide_forms(text):
            # The trailing comment holds nothing the tables look for, so the verdict on the stand-in
            # must be the one the scan of the text itself comes to.
            assert verdict(wide) == verdict(wide + ITSELF), path.name


def test_the_markers_on_the_corpus_in_wide_storage(corpus):
    files = list(scripts(corpus))
    # Outside CI a deterministic tenth of the smaller scripts keeps the `re` loop short; CI reads all.
    if not os.environ.get("CI"):
        files = [(p, t) for i, (p, t) in enumerate(files) if i % 10 == 0 and len(t) < 100_000]
    for path, text in files:
        for wide in wide_forms(text):
            assert find_markers(wide) == re_find_markers(wide), path.name


@pytest.mark.parametrize("wide", ["\ufeff", "\u212a", "\u0130", "\u017f"])
def test_case_folding_partners_of_keywords_still_count(wide):
    # Under IGNORECASE these are letters of SELECT, KEY, ISNULL, SET...: a stand-in must keep them so.
    text = f"{wide}SELECT TOP 5 * FROM t; SE\u212aECT {wide}SNULL(a, 0) {wide}EY \u017fET NOCOUNT ON;"
    assert find_markers(text) == re_find_markers(text)
    assert verdict(text) == verdict(text + ITSELF)
