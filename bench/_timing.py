"""The timing the benchmarks share: the least of several runs, the least disturbed by the other work
on a shared machine. Wall time by default; CPU time (`time.process_time`) where a figure must not
count the time other processes take the cores."""

from __future__ import annotations

import time
from collections.abc import Callable


def best_of(repeat: int, run: Callable[[], object], clock: Callable[[], float] = time.perf_counter) -> float:
    times = []
    for _ in range(repeat):
        start = clock()
        run()
        times.append(clock() - start)
    return min(times)
