"""Wall time of `tessera assess` over the shared corpus, with one and with two jobs, against the
same questions answered in one process by the `re` transcription in tests/oracle.py.

    .venv/bin/python bench/bench_cli.py [--corpus DIR] [--repeat N]

Two estates: the whole corpus (mostly short scripts, where start-up and per-file work dominate)
and copies of its large T-SQL scripts (where the scans dominate). Each figure is the best of N runs. The command runs as a user runs it (a fresh interpreter,
imports included); the in-process rows read and decode every file the same way but skip the
interpreter start and the report.
"""

from __future__ import annotations

import argparse
import json
import logging
import os
import shutil
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

import structlog
from rich.console import Console
from rich.table import Table

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

import oracle  # noqa: E402
from agents.tessera.complexity import classify_sql, plan_reading_strategy  # noqa: E402
from agents.tessera.reference_curator import detect_construct_categories  # noqa: E402
from tessera_cli.estate import DecodedFile, read_sql  # noqa: E402


def best_of(repeat: int, run: Callable[[], None]) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def command(corpus: Path, jobs: int, report: Path) -> Callable[[], None]:
    args = [sys.executable, "-m", "tessera_cli", "assess", str(corpus), "--format", "json",
            "--output", str(report), "--jobs", str(jobs)]

    def run() -> None:
        done = subprocess.run(args, cwd=ROOT, capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit(f"tessera assess failed ({done.returncode}):\n{done.stderr}")

    return run


def with_oracle(files: list[Path]) -> Callable[[], None]:
    def run() -> None:
        for path in files:
            text = read_sql(path)
            counts = oracle.classify_counts(text)
            oracle.budgets(counts["effective_lines"], counts["complex_construct_count"],
                           counts["stored_proc_count"])
            oracle.plan_reading(text)
            oracle.detect_categories(text)

    return run


def with_modules(files: list[Path]) -> Callable[[], None]:
    def run() -> None:
        for path in files:
            text = read_sql(path)
            result = classify_sql(text)
            (result.recommended_analysis_turns, result.recommended_conversion_turns)
            plan_reading_strategy(DecodedFile(text))
            detect_construct_categories(text)

    return run


def large_estate(corpus: Path, into: Path, copies: int) -> Path:
    """The large T-SQL scripts of the corpus, copied into folders of their own: an estate where the
    scans, which run in parallel, outweigh the per-file work that holds the GIL."""
    sources = sorted((corpus / "tsql-large").rglob("*.sql"))
    for copy in range(copies):
        folder = into / f"copy{copy:02d}"
        folder.mkdir(parents=True)
        for source in sources:
            shutil.copyfile(source, folder / source.name)
    return into


def measure(name: str, estate: Path, repeat: int, scratch: Path) -> Table:
    files = sorted(estate.rglob("*.sql"))
    size = sum(path.stat().st_size for path in files)
    report = scratch / "report.json"
    timings = {
        f"tessera assess --jobs {jobs}": best_of(repeat, command(estate, jobs, report)) for jobs in (1, 2)
    }
    assessed = json.loads(report.read_text())["summary"]["assessed"]
    if assessed != len(files):
        raise SystemExit(f"the command assessed {assessed} files, the estate has {len(files)}")
    timings["modules in one process, one thread"] = best_of(repeat, with_modules(files))
    timings["re transcription in one process"] = best_of(repeat, with_oracle(files))

    table = Table(title=f"{name}: {len(files):,} SQL files, {size / 1e6:.1f} MB, "
                        f"{os.process_cpu_count()} cores, best of {repeat}")
    table.add_column("Run")
    for header in ("Wall time (s)", "Files/s", "MB/s", "vs --jobs 1"):
        table.add_column(header, justify="right")
    base = timings["tessera assess --jobs 1"]
    for run, seconds in timings.items():
        table.add_row(run, f"{seconds:.3f}", f"{len(files) / seconds:,.0f}", f"{size / 1e6 / seconds:.1f}",
                      f"{base / seconds:.2f}x")
    return table


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--copies", type=int, default=20, help="copies of the large scripts in the second estate")
    options = parser.parse_args()
    # As in the command: the modules' per-call debug events are not part of the work measured.
    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO))

    console = Console()
    with tempfile.TemporaryDirectory() as tmp:
        scratch = Path(tmp)
        console.print(measure("The corpus", options.corpus, options.repeat, scratch))
        large = large_estate(options.corpus, scratch / "large", options.copies)
        console.print(measure(f"Large T-SQL scripts x{options.copies}", large, options.repeat, scratch))


if __name__ == "__main__":
    main()
