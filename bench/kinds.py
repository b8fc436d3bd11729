"""The string-kind rule shared by the benchmarks: one entry point on the large scripts (over 100 KB) and
on all of them joined, each in one-, two- and four-byte storage, against the speed floor of any pass
over a text, `bytes.count(b"\\n")` over the same text's bytes, all timed in the same run.

The one-byte text is the script with every character above U+00FF replaced by "?"; the two- and
four-byte texts are that text with an em dash or an emoji appended, which is all it takes for the host
to store the whole string two or four bytes per character: once in a line comment (the common case,
where the comment-free text fits one byte per character again), once in a string literal (the whole
text scanned in wide storage).
"""

from __future__ import annotations

import statistics
import time
from pathlib import Path

LARGE = 100_000
FLOOR_TARGET, FLOOR_STRETCH, KIND_TARGET = 0.6, 0.85, 1.5


def texts(corpus: Path) -> list[tuple[str, str]]:
    scripts = [(p.name, p.read_text(encoding="utf-8")) for p in sorted(corpus.rglob("*.sql"))]
    large = [(name, text) for name, text in scripts if len(text.encode()) > LARGE]
    if large:
        large.append((f"{len(large)} large scripts joined", "\n".join(text for _, text in large)))
    return [(name, "".join(c if ord(c) < 256 else "?" for c in text)) for name, text in large]


def _per_call(fn, arg, calls):
    # CPU time of this process: on a shared machine, time spent waiting for a core is not the code's.
    start = time.process_time()
    for _ in range(calls):
        fn(arg)
    return (time.process_time() - start) / calls


def measure(fn, one: str, rounds: int, budget_s: float):
    """(floor ratio, [per-character time ratios of the four wide texts], one-byte MB/s). The timings
    alternate within each round, so that a change of machine load shifts them alike; each ratio is
    taken within a round, then the median over the rounds."""
    wide = [one + "\n-- \u2014", one + "\n-- \U0001f600", one + "\nSELECT '\u2014'", one + "\nSELECT '\U0001f600'"]
    data = one.encode()
    count = data.count
    floor = lambda _: count(b"\n")  # noqa: E731
    for text in [one, *wide]:
        fn(text)
    calls = max(1, int(budget_s / 6 / rounds / max(_per_call(fn, one, 1), 1e-7)))
    floor_calls = max(1, int(budget_s / 6 / rounds / max(_per_call(floor, None, 1), 1e-7)))
    samples = [(_per_call(floor, None, floor_calls), _per_call(fn, one, calls),
                *(_per_call(fn, text, calls) for text in wide)) for _ in range(rounds)]
    floor_ratio = statistics.median(s[0] / s[1] for s in samples)
    kinds = [statistics.median((s[2 + k] / len(text)) / (s[1] / len(one)) for s in samples)
             for k, text in enumerate(wide)]
    return floor_ratio, kinds, len(data) / statistics.median(s[1] for s in samples) / 1e6


def table(fn, corpus: Path, rounds: int = 9, budget_s: float = 1.0) -> None:
    """Prints the kind table of `fn` as Markdown."""
    name = fn.__name__
    print(f"| `{name}`, script | KB | Speed vs newline count | 2-byte, dash in a comment | 4-byte, emoji in a "
          f"comment | 2-byte, dash in code | 4-byte, emoji in code | 1-byte MB/s |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for label, one in texts(corpus):
        floor, ratios, mbs = measure(fn, one, rounds, budget_s)
        floor_mark = " ✓✓" if floor >= FLOOR_STRETCH else " ✓" if floor >= FLOOR_TARGET else " ✗"
        shown = " | ".join(f"{r:.2f}{' ✓' if r <= KIND_TARGET else ' ✗'}" for r in ratios)
        print(f"| {label} | {len(one) / 1000:,.0f} | {floor:.2f}x{floor_mark} | {shown} | {mbs:,.0f} |")
    print(f"\nSpeed vs newline count: `bytes.count(b\"\\n\")` time over the one-byte text's bytes / `{name}` time "
          f"(target {FLOOR_TARGET}x, stretch {FLOOR_STRETCH}x: ✓✓). Kind columns: time per character against the "
          f"one-byte text (target at most {KIND_TARGET}).")


def layout(name: str, entries: list[tuple[str, int, bool]]) -> None:
    """Prints how the matcher lays out a module's table: every group is one more pass over the text and
    every member one more look-ahead, so a table that spreads over more of them shows here first."""
    from agents.tessera import _matcher

    literal, groups = _matcher.compile_set(entries).layout()
    print(f"{name}: {len(entries)} patterns, {sum(groups)} members in {len(groups)} group pass(es) {groups}"
          f"{', and the shared literal scan' if literal else ''}")
