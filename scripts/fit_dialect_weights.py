"""Fit the dialect detector's weights and thresholds from the labelled corpus.

Writes native/dialect_detect/weights.hpp (rebuild afterwards). Deterministic: the same corpus and
lexicon give the same file byte for byte.

    .venv/bin/python scripts/fit_dialect_weights.py [--corpus DIR]

Two labelled sets, each split once by a hash of the file's place in the corpus (dialect_split.py):
70% for fitting, 30% held out for bench/bench_dialect.py. Only the fitting part is read here.

- Weight of an entry (marker or lexicon) over its platforms P: the smoothed log-likelihood ratio
  log(rate of files of P where it fires / rate of files of other platforms where it fires), with half
  a file added to both counts, shrunk towards a prior of log(1 + 3/|P|) by the number of files it fired
  in (support s: weight = (s * ratio + M * prior) / (s + M)), clipped to [0, MAX_WEIGHT]. So an entry
  seen in a file or two weighs about its prior, and no single one of those decides alone. Real scripts
  count REAL_FILE_WEIGHT times as much as a parser fixture, as they look like what users bring.
  Markers of confidence "medium" weigh half.
- Thresholds: the lowest minimum score and minimum confidence (softmax share of the top score) that
  keep the precision on the real scripts' fitting part at TARGET_PRECISION or better, choosing the
  pair that decides on the most files.
"""

from __future__ import annotations

import argparse
import math
import sys
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))

from dialect_split import PLATFORMS, find_corpus, labelled_files  # noqa: E402

PRIOR_STRENGTH = 5.0
SMOOTHING = 0.5
MAX_WEIGHT = 4.0
REAL_FILE_WEIGHT = 3.0
TARGET_PRECISION = 0.98
MEDIUM_FACTOR = 0.5

OUT = Path(__file__).resolve().parents[1] / "native" / "dialect_detect" / "weights.hpp"


def fired_entries(detect, path: Path) -> set[str] | None:
    try:
        text = path.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError):
        return None
    return {e.id for e in detect(text).evidence}


def score(fired: set[str], entries: dict, weights: dict[str, float]) -> dict[str, float]:
    """The detector's scoring, as the module computes it."""
    scores = dict.fromkeys(PLATFORMS, 0.0)
    for ident in fired:
        platforms, corroborating = entries[ident]
        if not corroborating:
            for p in platforms:
                scores[p] += weights[ident]
    base = dict(scores)
    for ident in fired:
        platforms, corroborating = entries[ident]
        if corroborating:
            for p in platforms:
                if base[p] > 0:
                    scores[p] += weights[ident]
    return scores


def decide(scores: dict[str, float], min_score: float, min_confidence: float) -> tuple[str | None, float]:
    ranked = sorted(PLATFORMS, key=lambda p: -scores[p])
    top, second = scores[ranked[0]], scores[ranked[1]]
    confidence = 1.0 / sum(math.exp(scores[p] - top) for p in PLATFORMS)
    decided = top >= min_score and confidence >= min_confidence and top > second
    return (ranked[0] if decided else None), confidence


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=None)
    args = parser.parse_args()
    corpus = args.corpus or find_corpus()
    if corpus is None:
        print("no corpus found; pass --corpus", file=sys.stderr)
        return 2

    from agents.tessera import dialect_detect, dialect_signatures

    entries: dict[str, tuple[tuple[str, ...], bool]] = {}
    medium: set[str] = set()
    for m in dialect_signatures.PLATFORM_MARKERS:
        entries[m.id] = (tuple(m.platforms), bool(m.corroborating_only))
        if m.confidence == "medium":
            medium.add(m.id)
    for ident, platforms, _pattern in dialect_detect._LEXICON:
        entries[ident] = (tuple(platforms), False)

    import structlog

    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(30), cache_logger_on_first_use=True)

    samples: list[tuple[str, str, set[str], float]] = []  # (set, platform, fired, file weight)
    for kind, platform, path, part in labelled_files(corpus):
        if part != "fit" or platform is None:
            continue
        fired = fired_entries(dialect_detect.detect_dialect, path)
        if fired is None:
            continue
        samples.append((kind, platform, fired, REAL_FILE_WEIGHT if kind == "real" else 1.0))

    files_of = Counter()
    for _kind, platform, _fired, w in samples:
        files_of[platform] += w
    total = sum(files_of.values())

    weights: dict[str, float] = {}
    for ident, (platforms, _corroborating) in entries.items():
        n_in = sum(files_of[p] for p in platforms)
        n_out = total - n_in
        k_in = k_out = 0.0
        for _kind, platform, fired, w in samples:
            if ident in fired:
                if platform in platforms:
                    k_in += w
                else:
                    k_out += w
        support = k_in + k_out
        ratio = math.log((k_in + SMOOTHING) / (n_in + 2 * SMOOTHING)) - math.log(
            (k_out + SMOOTHING) / (n_out + 2 * SMOOTHING)
        )
        prior = math.log(1 + 3 / max(1, len(platforms)))
        w = (support * ratio + PRIOR_STRENGTH * prior) / (support + PRIOR_STRENGTH)
        w = min(MAX_WEIGHT, max(0.0, w))
        if ident in medium:
            w *= MEDIUM_FACTOR
        weights[ident] = round(w, 4)

    real = [(platform, fired) for kind, platform, fired, _w in samples if kind == "real"]
    best = None
    for min_score_tenths in range(10, 61, 5):
        min_score = min_score_tenths / 10
        for min_conf_pct in range(50, 100, 5):
            min_conf = min_conf_pct / 100
            decided = right = 0
            for platform, fired in real:
                verdict, _ = decide(score(fired, entries, weights), min_score, min_conf)
                if verdict is not None:
                    decided += 1
                    right += verdict == platform
            precision = right / decided if decided else 0.0
            if precision >= TARGET_PRECISION:
                key = (decided, -min_score, -min_conf)
                if best is None or key > best[0]:
                    best = (key, min_score, min_conf, precision, decided)
    if best is None:
        print("no thresholds reach the target precision", file=sys.stderr)
        return 1
    _key, min_score, min_conf, precision, decided = best
    print(
        f"fitting part: {len(samples)} files ({len(real)} real); thresholds score >= {min_score}, "
        f"confidence >= {min_conf}: real precision {precision:.3f}, deciding on {decided}/{len(real)}"
    )

    rows = "\n".join(f'    {{"{ident}", {weights[ident]!r}}},' for ident in entries)
    OUT.write_text(
        "// Generated by scripts/fit_dialect_weights.py from the labelled corpus; do not edit by hand.\n"
        "#pragma once\n\n"
        "namespace tessera::dialect_detect {\n\n"
        "struct WeightRow {\n  const char* id;\n  double weight;\n};\n\n"
        f"inline constexpr WeightRow kWeights[] = {{\n{rows}\n}};\n\n"
        f"inline constexpr double kMinScore = {min_score!r};\n"
        f"inline constexpr double kMinConfidence = {min_conf!r};\n\n"
        "}  // namespace tessera::dialect_detect\n",
        encoding="utf-8",
    )
    print(f"wrote {OUT.relative_to(Path.cwd()) if OUT.is_relative_to(Path.cwd()) else OUT}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
