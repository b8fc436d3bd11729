"""The timing the benchmarks share: wall time, least of several runs, the least disturbed by the
other work on a shared machine."""

from __future__ import annotations

import time
from collections.abc import Callable


def best_of(repeat: int, run: Callable[[], object]) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)
