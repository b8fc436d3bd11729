"""Fit the dialect detector's weights and thresholds from the labelled corpus.

Writes native/dialect_detect/weights.hpp (rebuild afterwards). Deterministic: the same corpus and
lexicon give the same file byte for byte.

    .venv/bin/python scripts/fit_dialect_weights.py [--corpus DIR]

Two labelled sets, each split once by a hash of the file's place in the corpus (dialect_split.py):
70% for fitting, 30% held out for bench/bench_dialect.py. Only the fitting part is read here.

- Weight of an entry (marker or lexicon) towards each platform p of its platforms P: the smoothed
  log-likelihood ratio log(rate of files of p where it fires / rate of files outside P where it
  fires), with half a file added to both counts, shrunk towards a prior of log(1 + 3/|P|) by the number of files it fired
  in (support s: weight = (s * ratio + M * prior) / (s + M)), clipped to [0, MAX_WEIGHT]. So an entry
  seen in a file or two weighs about its prior, and no single one of those decides alone. Real scripts
  count REAL_FILE_WEIGHT times as much as a parser fixture, as they look like what users bring.
  Markers of confidence "medium" weigh half.
- Thresholds: a minimum score, a minimum confidence (softmax share of the top score) and a minimum
  number of entries behind the top platform, chosen to decide on the most real scripts of the fitting
  part while keeping the precision there at TARGET_PRECISION or better and on the fixtures at
  TARGET_FIXTURE_PRECISION or better (the fixtures check precision only: their coverage says little).
"""

from __future__ import annotations

import math
import sys
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))

from dialect_split import PLATFORMS, labelled_files, table_arguments  # noqa: E402

PRIOR_STRENGTH = 5.0
SMOOTHING = 0.5
MAX_WEIGHT = 4.0
REAL_FILE_WEIGHT = 3.0
TARGET_PRECISION = 0.98
TARGET_FIXTURE_PRECISION = 0.97
MEDIUM_FACTOR = 0.5

OUT = Path(__file__).resolve().parents[1] / "native" / "dialect_detect" / "weights.hpp"


def fired_entries(detect, path: Path) -> set[str] | None:
    try:
        text = path.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError):
        return None
    return {e.id for e in detect(text).evidence}


def score(fired: set[str], entries: dict, weights: dict) -> tuple[dict[str, float], dict[str, int]]:
    """The detector's scoring, as the module computes it: scores, and the entries behind each."""
    scores = dict.fromkeys(PLATFORMS, 0.0)
    backing = dict.fromkeys(PLATFORMS, 0)
    for ident in fired:
        platforms, corroborating = entries[ident]
        if not corroborating:
            for p in platforms:
                scores[p] += weights[ident][p]
                backing[p] += weights[ident][p] > 0
    base = dict(scores)
    for ident in fired:
        platforms, corroborating = entries[ident]
        if corroborating:
            for p in platforms:
                if base[p] > 0:
                    scores[p] += weights[ident][p]
    return scores, backing


def decide(scored, min_score: float, min_confidence: float, min_entries: int) -> tuple[str | None, float]:
    scores, backing = scored
    ranked = sorted(PLATFORMS, key=lambda p: -scores[p])
    top, second = scores[ranked[0]], scores[ranked[1]]
    confidence = 1.0 / sum(math.exp(scores[p] - top) for p in PLATFORMS)
    decided = (
        top >= min_score and confidence >= min_confidence and top > second and backing[ranked[0]] >= min_entries
    )
    return (ranked[0] if decided else None), confidence


def main() -> int:
    corpus, out = table_arguments(__doc__, OUT, "module")
    if corpus is None:
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

    weights: dict[str, dict[str, float]] = {}
    for ident, (platforms, _corroborating) in entries.items():
        k = Counter()
        for _kind, platform, fired, w in samples:
            if ident in fired:
                k[platform] += w
        n_out = total - sum(files_of[p] for p in platforms)
        k_out = sum(v for p, v in k.items() if p not in platforms)
        support = sum(k.values())
        rate_out = (k_out + SMOOTHING) / (n_out + 2 * SMOOTHING)
        prior = math.log(1 + 3 / max(1, len(platforms)))
        weights[ident] = {}
        for p in platforms:
            ratio = math.log((k[p] + SMOOTHING) / (files_of[p] + 2 * SMOOTHING) / rate_out)
            w = (support * ratio + PRIOR_STRENGTH * prior) / (support + PRIOR_STRENGTH)
            w = min(MAX_WEIGHT, max(0.0, w))
            if ident in medium:
                w *= MEDIUM_FACTOR
            weights[ident][p] = round(w, 4)

    real = [(platform, score(fired, entries, weights)) for kind, platform, fired, _w in samples if kind == "real"]
    fixtures = [(platform, score(fired, entries, weights)) for kind, platform, fired, _w in samples if kind != "real"]

    def measure(part, thresholds):
        decided = right = 0
        for platform, scored in part:
            verdict, _ = decide(scored, *thresholds)
            if verdict is not None:
                decided += 1
                right += verdict == platform
        return (right / decided if decided else 0.0), decided

    best = None
    for min_entries in (1, 2, 3):
        for min_score_tenths in range(10, 81, 5):
            for min_conf_pct in range(50, 100, 5):
                thresholds = (min_score_tenths / 10, min_conf_pct / 100, min_entries)
                precision, decided = measure(real, thresholds)
                fixture_precision, _ = measure(fixtures, thresholds)
                if precision >= TARGET_PRECISION and fixture_precision >= TARGET_FIXTURE_PRECISION:
                    key = (decided, -min_entries, -thresholds[0], -thresholds[1])
                    if best is None or key > best[0]:
                        best = (key, thresholds)
    if best is None:
        print("no thresholds reach the target precision", file=sys.stderr)
        return 1
    min_score, min_conf, min_entries = best[1]
    precision, decided = measure(real, best[1])
    fixture_precision, fixture_decided = measure(fixtures, best[1])
    print(
        f"fitting part: {len(samples)} files ({len(real)} real); thresholds score >= {min_score}, "
        f"confidence >= {min_conf}, entries >= {min_entries}: real precision {precision:.3f} deciding on "
        f"{decided}/{len(real)}; fixtures precision {fixture_precision:.3f} deciding on {fixture_decided}/{len(fixtures)}"
    )

    rows = "\n".join(
        f'    {{"{ident}", {{{", ".join(repr(weights[ident].get(p, 0.0)) for p in PLATFORMS)}}}}},' for ident in entries
    )
    out.write_text(
        "// Generated by scripts/fit_dialect_weights.py from the labelled corpus; do not edit by hand.\n"
        "#pragma once\n\n"
        "namespace tessera::dialect_detect {\n\n"
        "// Towards each platform, in the order of the platform constants.\n"
        "struct WeightRow {\n  const char* id;\n  double weight[10];\n};\n\n"
        f"inline constexpr WeightRow kWeights[] = {{\n{rows}\n}};\n\n"
        f"inline constexpr double kMinScore = {min_score!r};\n"
        f"inline constexpr double kMinConfidence = {min_conf!r};\n"
        f"inline constexpr int kMinEntries = {min_entries!r};\n\n"
        "}  // namespace tessera::dialect_detect\n",
        encoding="utf-8",
    )
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
