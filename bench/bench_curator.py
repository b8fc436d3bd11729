"""agents.tessera.reference_curator against the plain `re` transcription in tests/oracle.py.

Prints, per group, the median over inputs of (transcription time / native time), each input's ratio
being the median over alternating timed batches of the two. Groups: the corpus scripts by size for
detect_construct_categories, and typical category sets for select_knowledge over the sample documents
in examples/knowledge/.

    .venv/bin/python bench/bench_curator.py [--rounds N] [--min-batch-ms MS]
"""

from __future__ import annotations

import argparse
import logging
import statistics
import sys
import time
from pathlib import Path

import structlog

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

import kinds  # noqa: E402  (beside this script)
import oracle  # noqa: E402

from agents.tessera import reference_curator as curator  # noqa: E402

CORPUS = ROOT.parent / "shared" / "corpus"
KNOWLEDGE = ROOT / "examples" / "knowledge"
SIZE_GROUPS = [("scripts < 1 KB", 0, 1024), ("scripts 1-10 KB", 1024, 10240), ("scripts > 10 KB", 10240, None)]


def batch_size(fn, min_batch):
    """Calls per timed batch, so that a batch lasts at least `min_batch` seconds."""
    fn()
    n = 1
    while n < 1 << 16:
        start = time.perf_counter()
        for _ in range(n):
            fn()
        if time.perf_counter() - start >= min_batch:
            break
        n *= 2
    return n


def timed(fn, n):
    start = time.perf_counter()
    for _ in range(n):
        fn()
    return (time.perf_counter() - start) / n


def compare(native_fn, baseline_fn, rounds, min_batch):
    """(median ratio, median native s, median baseline s): batches of the two alternate, so that a
    change of machine load between them shifts both sides of each ratio alike."""
    n_native, n_baseline = batch_size(native_fn, min_batch), batch_size(baseline_fn, min_batch)
    pairs = [(timed(native_fn, n_native), timed(baseline_fn, n_baseline)) for _ in range(rounds)]
    return (statistics.median(b / a for a, b in pairs), statistics.median(a for a, _ in pairs),
            statistics.median(b for _, b in pairs))


def row(label, ratios, native_s, baseline_s, nbytes):
    mbps = nbytes / native_s / 1e6 if native_s else float("nan")
    print(f"{label[:33]:<34}{len(ratios):>6}{statistics.median(ratios):>10.1f}x{min(ratios):>9.1f}x"
          f"{max(ratios):>9.1f}x{baseline_s * 1e3:>12.2f}{native_s * 1e3:>11.3f}{mbps:>10.0f}")


def header(title):
    print(f"\n{title}")
    print(f"{'group':<34}{'inputs':>6}{'median':>11}{'min':>10}{'max':>10}{'re ms':>12}{'native ms':>11}{'MB/s':>10}")


def bench_detection(args):
    scripts = sorted(CORPUS.rglob("*.sql")) if CORPUS.is_dir() else []
    if not scripts:
        print("corpus not found: detection skipped")
        return
    header("detect_construct_categories vs re, corpus scripts by size (time per call, summed over the group)")
    groups = {label: [] for label, _, _ in SIZE_GROUPS}
    for path in scripts:
        raw = path.read_bytes()
        sql = raw.decode("utf-8", errors="surrogateescape")
        if curator.detect_construct_categories(sql) != oracle.detect_categories(sql):
            raise SystemExit(f"results differ on {path}")
        ratio, native, baseline = compare(lambda: curator.detect_construct_categories(sql),
                                          lambda: oracle.detect_categories(sql), args.rounds, args.min_batch)
        for label, low, high in SIZE_GROUPS:
            if len(raw) >= low and (high is None or len(raw) < high):
                groups[label].append((ratio, native, baseline, len(raw)))
    for label, entries in groups.items():
        if entries:
            row(label, [e[0] for e in entries], sum(e[1] for e in entries), sum(e[2] for e in entries),
                sum(e[3] for e in entries))


def bench_selection(args):
    paths = [KNOWLEDGE / name for name in ("mapping.md", "gotchas.md", "limitations.md")]
    if not all(p.is_file() for p in paths):
        print("\nexamples/knowledge/ incomplete: selection skipped")
        return
    mapping, gotchas, limitations = (p.read_text(encoding="utf-8") for p in paths)
    sizes = ", ".join(f"{p.name} {p.stat().st_size / 1024:.0f} KB" for p in paths)
    print(f"\nselect_knowledge vs re on {sizes}; {mapping.count(chr(10) + '## ')} mapping sections")
    print("(the transcription also emits its event on an identically configured logger, as the module would)")
    baseline_logger = structlog.get_logger()

    def transcription(categories):
        result, event = oracle.select_knowledge(categories, full_mapping=mapping, full_gotchas=gotchas,
                                                full_limitations=limitations)
        baseline_logger.debug("knowledge_selected", **event)
        return result

    def native(categories):
        return curator.select_knowledge(categories, full_mapping=mapping, full_gotchas=gotchas,
                                        full_limitations=limitations)

    sets = {"no categories": set(), "every category": set(oracle.CATEGORY_PATTERNS)}
    for path in sorted((ROOT / "examples").glob("*.sql")):
        sets[f"categories of {path.name[:24]}"] = oracle.detect_categories(path.read_text(encoding="utf-8"))
    header("select_knowledge vs re, per category set")
    all_ratios = []
    nbytes = len((mapping + gotchas).encode())
    for label, categories in sets.items():
        if native(categories) != transcription(categories):
            raise SystemExit(f"results differ for {label}")
        ratio, n, b = compare(lambda: native(categories), lambda: transcription(categories), args.rounds,
                              args.min_batch)
        all_ratios.append(ratio)
        row(label, [ratio], n, b, nbytes)
    print(f"{'median over category sets':<34}{len(all_ratios):>6}{statistics.median(all_ratios):>10.1f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5, help="timed batches per input (median taken)")
    parser.add_argument("--min-batch-ms", dest="min_batch", type=lambda ms: float(ms) / 1e3, default=0.002,
                        help="shortest timed batch, in milliseconds")
    args = parser.parse_args()
    # As in production: debug events filtered out, the bound logger cached on first use.
    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO),
                        cache_logger_on_first_use=True)
    print(f"Python {sys.version.split()[0]}, structlog {structlog.__version__}; "
          f"{args.rounds} batches of >= {args.min_batch * 1e3:g} ms per input")
    bench_detection(args)
    bench_selection(args)
    if CORPUS.is_dir():
        print()
        kinds.layout("category table", [(p.pattern, p.flags, False) for p in curator._CATEGORY_PATTERNS.values()])
        print()
        kinds.table(curator.detect_construct_categories, CORPUS, rounds=args.rounds)


if __name__ == "__main__":
    main()
