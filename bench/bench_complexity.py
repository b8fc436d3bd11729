"""Native `classify_sql` against the `re` transcription, on the SQL corpus and on adversarial inputs.

    python bench/bench_complexity.py [--corpus DIR] [--quick]

Prints Markdown tables: per size group the median native/transcription speed ratio and the native
throughput; the native time on 1 MB inputs that make a backtracking engine quadratic; then the large
scripts in each string kind against the newline-count floor (bench/kinds.py). structlog is
configured as a production host would: debug events filtered out, the logger cached on first use.
"""

from __future__ import annotations

import argparse
import gc
import logging
import statistics
import sys
import time
from pathlib import Path

import structlog

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

import oracle  # noqa: E402  (the `re` transcription lives beside the tests)
import kinds  # noqa: E402  (beside this script)

import agents.tessera.complexity as cx  # noqa: E402
from agents.tessera.complexity import classify_sql  # noqa: E402

MB = 1_000_000
# (name, smallest size, size limit, timing budget per script and function in seconds)
GROUPS = [
    ("< 10 KB", 0, 10_000, 0.01),
    ("10-100 KB", 10_000, 100_000, 0.05),
    ("> 100 KB", 100_000, float("inf"), 0.1),
]
TARGET_RATIO = {"< 10 KB": 30, "> 100 KB": 100}
TARGET_JOINED_MBS = 300
TARGET_ADVERSARIAL_MS = 50


def per_call(fn, arg, budget_s):
    """Median seconds per call over five batches that together take about budget_s; a single call when
    that alone takes longer."""
    start = time.perf_counter()
    fn(arg)
    first = time.perf_counter() - start
    if first >= budget_s:
        return first
    batch = max(1, int(budget_s / 5 / max(first, 1e-7)))
    samples = []
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(batch):
            fn(arg)
        samples.append((time.perf_counter() - start) / batch)
    return statistics.median(samples)


def row(name, count, size, ratios, native_s, target):
    ratio = statistics.median(ratios)
    mbs = size / native_s / MB
    mark = "" if target is None else (" ✓" if ratio >= target else f" ✗ (target {target}x)")
    return f"| {name} | {count} | {size / MB:.2f} | {ratio:,.0f}x{mark} | {mbs:,.0f} |"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus")
    parser.add_argument("--quick", action="store_true", help="shorter timings, for a smoke run")
    args = parser.parse_args()
    scale = 0.2 if args.quick else 1.0

    structlog.configure(
        wrapper_class=structlog.make_filtering_bound_logger(logging.INFO), cache_logger_on_first_use=True
    )
    scripts = [p.read_text(encoding="utf-8") for p in sorted(args.corpus.rglob("*.sql"))]
    if not scripts:
        sys.exit(f"no SQL files under {args.corpus}")
    gc.disable()

    print("| Scripts | Files | MB | Median speed-up over `re` | Native MB/s |")
    print("|---|---:|---:|---:|---:|")
    for name, low, high, budget_s in GROUPS:
        budget_s *= scale
        group = [s for s in scripts if low <= len(s.encode()) < high]
        if not group:
            continue
        ratios, native_total, size = [], 0.0, 0
        for sql in group:
            native = per_call(classify_sql, sql, budget_s)
            reference = per_call(oracle.classify_counts, sql, budget_s)
            ratios.append(reference / native)
            native_total += native
            size += len(sql.encode())
        print(row(name, len(group), size, ratios, native_total, TARGET_RATIO.get(name)))

    joined = "\n".join(scripts)
    while len(joined.encode()) < 10 * MB:
        joined += "\n" + joined
    joined = joined.encode()[: 10 * MB].decode(errors="ignore")
    native = per_call(classify_sql, joined, 0.5 * scale)
    reference = per_call(oracle.classify_counts, joined, 0)
    mbs = len(joined.encode()) / native / MB
    mark = " ✓" if mbs >= TARGET_JOINED_MBS else f" ✗ (target {TARGET_JOINED_MBS})"
    print(f"| 10 MB joined script | 1 | 10.00 | {reference / native:,.0f}x | {mbs:,.0f}{mark} |")

    adversarial = {
        "`WITH a (` repeated": "WITH a (",
        "`/* ` repeated": "/* ",
        "`WITH a (WITH b AS (` repeated": "WITH a (WITH b AS (",
        "`-- comment` lines": "-- comment\n",
        "`#` run": "#",
        "`#a` run": "#a",
    }
    print()
    print("| Adversarial input, 1 MB | Native ms |")
    print("|---|---:|")
    for name, unit in adversarial.items():
        text = (unit * (MB // len(unit) + 1))[:MB]
        ms = per_call(classify_sql, text, 0.2 * scale) * 1000
        mark = " ✓" if ms < TARGET_ADVERSARIAL_MS else f" ✗ (target < {TARGET_ADVERSARIAL_MS})"
        print(f"| {name} | {ms:.2f}{mark} |")

    print()
    kinds.layout("grading tables", [(p.pattern, p.flags, False) for p in [*cx._COMPLEX_PATTERNS, *cx._MODERATE_PATTERNS]]
                 + [(cx._STORED_PROC_PATTERN.pattern, cx._STORED_PROC_PATTERN.flags, True)])
    print()
    kinds.table(classify_sql, args.corpus, budget_s=1.0 * scale)


if __name__ == "__main__":
    main()
