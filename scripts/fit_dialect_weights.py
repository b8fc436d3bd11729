"""Fit the dialect detector's weights and thresholds from the labelled corpus.

Writes native/dialect_detect/weights.hpp (rebuild afterwards). Deterministic: the same corpus and
lexicon give the same file byte for byte.

    .venv/bin/python scripts/fit_dialect_weights.py [--corpus DIR]

Two labelled sets, each split once by a hash of the file's place in the corpus (dialect_split.py):
70% for fitting, 30% held out for bench/bench_dialect.py. Only the fitting part is read here.

- Weight of an entry (marker or lexicon): the smoothed log-likelihood ratio log(rate of the files of
  its platforms P where it fires / rate of the files outside P where it fires), with half a file added
  to both counts, shrunk towards a prior of log(1 + 3/|P|) by the number of files it fired in (support
  s: weight = (s * ratio + M * prior) / (s + M)), clipped to [0, MAX_WEIGHT]. So an entry seen in a
  file or two weighs about its prior, and no single one of those decides alone. The weight is the same
  towards each platform of P: the reference manuals give the form to all of them, and which of them
  the fitting part's few repositories use it in tells more about those repositories' authors than
  about the platforms (the `#` line comment of MySQL and BigQuery: weighed by platform, it named
  legacy BigQuery scripts MySQL when their repository was left out of the fit). Real scripts count
  REAL_FILE_WEIGHT times as much as a parser fixture, as they look like what users bring. Markers of
  confidence "medium" weigh half.
- Thresholds: a minimum score, a minimum confidence (softmax share of the top score) and a minimum
  number of entries behind the top platform, chosen to decide on the most real scripts of the fitting
  part while keeping the precision there at TARGET_PRECISION or better and on the fixtures at
  TARGET_FIXTURE_PRECISION or better (the fixtures check precision only: their coverage says little);
  the strictest such, and a minimum score above the prior of an entry of one platform.

The fitting is also importable (load_entries, fit), so that bench/bench_dialect.py can fit it again with a
whole repository left out and judge it on that repository's scripts, as on scripts from outside.
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

Entries = dict[str, tuple[tuple[str, ...], bool]]  # id -> (platforms, corroborating only)
Sample = tuple[str, str, set[str]]  # (kind: "real" or "fixture", platform, the entries that fired)
Thresholds = tuple[float, float, int]  # (minimum score, minimum confidence, minimum backing entries)


def load_entries() -> tuple[Entries, set[str]]:
    """Every entry the detector weighs, in its order, and the ids of the "medium" markers."""
    from agents.tessera import dialect_detect, dialect_signatures

    out: Entries = {}
    medium: set[str] = set()
    for m in dialect_signatures.PLATFORM_MARKERS:
        out[m.id] = (tuple(m.platforms), bool(m.corroborating_only))
        if m.confidence == "medium":
            medium.add(m.id)
    for ident, platforms, _pattern in dialect_detect._LEXICON:
        out[ident] = (tuple(platforms), False)
    return out, medium


def fired_entries(detect, path: Path) -> set[str] | None:
    try:
        text = path.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError):
        return None
    return {e.id for e in detect(text).evidence}


def score(fired: set[str], entries: Entries, weights: dict) -> tuple[dict[str, float], dict[str, int]]:
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


def summary(scored) -> tuple[str, float, float, int, bool]:
    """What the thresholds judge of a scoring: the top platform, its score, the confidence (its softmax
    share), the entries behind it, and whether it leads alone."""
    scores, backing = scored
    ranked = sorted(PLATFORMS, key=lambda p: -scores[p])
    top, second = scores[ranked[0]], scores[ranked[1]]
    confidence = 1.0 / sum(math.exp(scores[p] - top) for p in PLATFORMS)
    return ranked[0], top, confidence, backing[ranked[0]], top > second


def decide(summarised, min_score: float, min_confidence: float, min_entries: int) -> str | None:
    platform, top, confidence, backing, alone = summarised
    return platform if alone and top >= min_score and confidence >= min_confidence and backing >= min_entries else None


def fit_weights(samples: list[Sample], entries: Entries, medium: set[str]) -> dict[str, dict[str, float]]:
    """Each entry's weight towards each of its platforms (see the module's docstring)."""
    files_of: Counter[str] = Counter()
    for kind, platform, _fired in samples:
        files_of[platform] += REAL_FILE_WEIGHT if kind == "real" else 1.0
    total = sum(files_of.values())
    weights: dict[str, dict[str, float]] = {}
    for ident, (platforms, _corroborating) in entries.items():
        k: Counter[str] = Counter()
        for kind, platform, fired in samples:
            if ident in fired:
                k[platform] += REAL_FILE_WEIGHT if kind == "real" else 1.0
        n_in = sum(files_of[p] for p in platforms)
        k_in = sum(k[p] for p in platforms)
        support = sum(k.values())
        rate_in = (k_in + SMOOTHING) / (n_in + 2 * SMOOTHING)
        rate_out = (support - k_in + SMOOTHING) / (total - n_in + 2 * SMOOTHING)
        prior = math.log(1 + 3 / max(1, len(platforms)))
        w = (support * math.log(rate_in / rate_out) + PRIOR_STRENGTH * prior) / (support + PRIOR_STRENGTH)
        w = min(MAX_WEIGHT, max(0.0, w))
        if ident in medium:
            w *= MEDIUM_FACTOR
        weights[ident] = dict.fromkeys(platforms, round(w, 4))
    return weights


def measure(part: list[tuple[str, tuple]], thresholds: Thresholds) -> tuple[float, int]:
    """Precision when deciding, and how many it decides on, of (platform, summary) pairs."""
    decided = right = 0
    for platform, summarised in part:
        verdict = decide(summarised, *thresholds)
        if verdict is not None:
            decided += 1
            right += verdict == platform
    return (right / decided if decided else 0.0), decided


def choose_thresholds(real: list[tuple[str, tuple]], fixtures: list[tuple[str, tuple]]) -> Thresholds | None:
    """The thresholds that decide on the most real scripts at the target precisions. Of those that decide
    on as many, the strictest: the fitting part cannot tell them apart, and a wrong platform on a script
    from outside costs more than an undecided one. The minimum score starts above log(4), the prior of
    an entry of one platform, so that an entry seen in few files never decides alone."""
    best = None
    for min_entries in (1, 2, 3):
        for min_score_tenths in range(15, 81, 5):
            for min_conf_pct in range(50, 100, 5):
                thresholds = (min_score_tenths / 10, min_conf_pct / 100, min_entries)
                precision, decided = measure(real, thresholds)
                if precision < TARGET_PRECISION or measure(fixtures, thresholds)[0] < TARGET_FIXTURE_PRECISION:
                    continue
                key = (decided, min_entries, thresholds[0], thresholds[1])
                if best is None or key > best[0]:
                    best = (key, thresholds)
    return None if best is None else best[1]


def fit(samples: list[Sample], entries: Entries, medium: set[str]):
    """Weights and thresholds fitted on the samples, with the summaries of the samples' real scripts and
    fixtures scored by them; the thresholds are None when none reach the target precisions."""
    weights = fit_weights(samples, entries, medium)
    scored = [(kind, platform, summary(score(fired, entries, weights))) for kind, platform, fired in samples]
    real = [(platform, s) for kind, platform, s in scored if kind == "real"]
    fixtures = [(platform, s) for kind, platform, s in scored if kind != "real"]
    return weights, choose_thresholds(real, fixtures), real, fixtures


def main() -> int:
    corpus, out = table_arguments(__doc__, OUT, "module")
    if corpus is None:
        return 2

    import structlog

    from agents.tessera import dialect_detect

    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(30), cache_logger_on_first_use=True)
    table, medium = load_entries()
    samples: list[Sample] = []
    for kind, platform, path, part in labelled_files(corpus):
        if part != "fit" or platform is None:
            continue
        fired = fired_entries(dialect_detect.detect_dialect, path)
        if fired is not None:
            samples.append((kind, platform, fired))

    weights, thresholds, real, fixtures = fit(samples, table, medium)
    if thresholds is None:
        print("no thresholds reach the target precision", file=sys.stderr)
        return 1
    min_score, min_conf, min_entries = thresholds
    precision, decided = measure(real, thresholds)
    fixture_precision, fixture_decided = measure(fixtures, thresholds)
    print(
        f"fitting part: {len(samples)} files ({len(real)} real); thresholds score >= {min_score}, "
        f"confidence >= {min_conf}, entries >= {min_entries}: real precision {precision:.3f} deciding on "
        f"{decided}/{len(real)}; fixtures precision {fixture_precision:.3f} deciding on {fixture_decided}/{len(fixtures)}"
    )

    rows = "\n".join(
        f'    {{"{ident}", {{{", ".join(repr(weights[ident].get(p, 0.0)) for p in PLATFORMS)}}}}},' for ident in table
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
