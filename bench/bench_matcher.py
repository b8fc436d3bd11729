"""The native pattern set against a Python loop over `re`, in one run.

Workloads, on the corpus scripts over 100 KB and on one script joined from them:
  markers: the 133 dialect markers (IGNORECASE | MULTILINE), the first match of each;
  markers + lexicon: the same plus a lexicon of SQL keywords (\\bWORD\\b, IGNORECASE), every match of each.
The `re` side is `[p.search(text) for p in patterns]` (and `list(p.finditer(text))` for the lexicon);
the native side is one MatcherSet.spans(text) call. Each figure is the least CPU time of its rounds.

    .venv/bin/python bench/bench_matcher.py [--rounds N] [--corpus DIR]
"""

from __future__ import annotations

import argparse
import re
import sys
import time
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from _timing import best_of  # noqa: E402

from agents.tessera import _matcher  # noqa: E402
from agents.tessera.dialect_signatures import PLATFORM_MARKERS  # noqa: E402

ROOT = Path(__file__).resolve().parents[1]
FLAGS = re.IGNORECASE | re.MULTILINE


def lexicon(texts, size):
    """The most frequent upper-case words of the scripts: a keyword list as a tagger would hold it."""
    words = Counter(w for t in texts for w in re.findall(r"\b[A-Z][A-Z_]{2,}\b", t))
    return [w for w, _ in words.most_common(size)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus")
    args = ap.parse_args()
    files = sorted(p for p in args.corpus.rglob("*.sql") if p.stat().st_size > 100_000)
    if not files:
        sys.exit(f"no scripts over 100 KB under {args.corpus}")
    texts = [(p.name, p.read_text(encoding="utf-8", errors="replace")) for p in files]
    texts.append(("joined script", "\n".join(t for _, t in texts)))

    markers = [m.pattern for m in PLATFORM_MARKERS]
    words = lexicon([t for _, t in texts], 300)
    marker_re = [re.compile(p, FLAGS) for p in markers]
    word_re = [re.compile(rf"\b{w}\b", re.IGNORECASE) for w in words]
    marker_set = _matcher.compile_set([(p, FLAGS, False) for p in markers])
    both_set = _matcher.compile_set([(p, FLAGS, False) for p in markers] +
                                    [(rf"\b{w}\b", re.IGNORECASE, True) for w in words])

    print(f"{len(markers)} markers, lexicon of {len(words)} keywords; least CPU time of {args.rounds} rounds\n")
    print(f"{'Script':40} {'KB':>7} {'workload':18} {'re ms':>9} {'native ms':>10} {'speed-up':>9} {'MB/s':>7}")
    for name, text in texts:
        def re_markers():
            return [p.search(text) for p in marker_re]

        def re_both():
            return [p.search(text) for p in marker_re], [list(p.finditer(text)) for p in word_re]

        got = marker_set.spans(text)
        want = [(m.span() if m else None) for m in re_markers()]
        assert got == want, name
        for label, slow, fast in (("markers", re_markers, lambda: marker_set.spans(text)),
                                  ("markers + lexicon", re_both, lambda: both_set.spans(text))):
            t_re = best_of(args.rounds, slow, time.process_time)
            t_native = best_of(args.rounds * 3, fast, time.process_time)
            mb = len(text.encode("utf-8")) / 1e6
            print(f"{name[:40]:40} {len(text) / 1024:7.0f} {label:18} {t_re * 1e3:9.2f} {t_native * 1e3:10.3f}"
                  f" {t_re / t_native:8.0f}x {mb / t_native:7.0f}")


if __name__ == "__main__":
    main()
