"""`tessera assess` over whole estates: what a second job gains, how long a user waits, and how
much memory a very large estate takes.

    .venv/bin/python bench/bench_cli.py [--corpus DIR] [--repeat N] [--copies N] [--tiny N]
                                        [--million N | --million 0]

- `--jobs 2` against `--jobs 1`, in one process (the command's own code from listing to report,
  start-up and imports excluded; best of N), on the corpus of small scripts and on copies of its
  large T-SQL scripts; beside them the end-to-end wall time of the command as a user runs it (a
  fresh interpreter), the per-file path it replaced, and the `re` transcription (one run).
- 20,000 tiny files assessed end to end with `--jobs 2`.
- The peak memory of `--format jsonl` over 1,000,000 small files generated under the temporary
  folder (removed afterwards), with a check that the rows come out in path order.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import logging
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from collections.abc import Callable
from pathlib import Path

import structlog
from rich.console import Console
from rich.table import Table

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

import oracle  # noqa: E402
from _timing import best_of  # noqa: E402
from tessera_cli.estate import SummaryBuilder, assess_file, discover, read_sql  # noqa: E402
from tessera_cli.main import _assess  # noqa: E402


def command(estate: Path, jobs: int, *extra: str) -> Callable[[], None]:
    args = [sys.executable, "-m", "tessera_cli", "assess", str(estate), "--format", "json",
            "--output", os.devnull, "--jobs", str(jobs), *extra]

    def run() -> None:
        done = subprocess.run(args, cwd=ROOT, capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit(f"tessera assess failed ({done.returncode}):\n{done.stderr}")

    return run


def in_process(estate: Path, jobs: int) -> Callable[[], None]:
    """The command's body as `tessera assess ESTATE --format json -o /dev/null --jobs N` runs it."""
    def run() -> None:
        _assess((str(estate),), (), "json", Path(os.devnull), jobs, False)

    return run


def per_file(estate: Path) -> Callable[[], None]:
    """The path the native batch replaced: each file read, decoded and asked through the modules'
    own entry points, one after the other."""
    def run() -> None:
        builder = SummaryBuilder()
        for target in discover([str(estate)]):
            builder.add(assess_file(target).as_tuple())
        builder.summary()

    return run


def with_oracle(estate: Path) -> Callable[[], None]:
    def run() -> None:
        for target in discover([str(estate)]):
            text = read_sql(Path(target.path))
            counts = oracle.classify_counts(text)
            oracle.budgets(counts["effective_lines"], counts["complex_construct_count"],
                           counts["stored_proc_count"])
            oracle.plan_reading(text)
            oracle.detect_categories(text)

    return run


def large_estate(corpus: Path, into: Path, copies: int) -> Path:
    """The large T-SQL scripts of the corpus, copied into folders of their own: an estate where the
    scans outweigh everything else."""
    sources = sorted((corpus / "tsql-large").rglob("*.sql"))
    for copy in range(copies):
        folder = into / f"copy{copy:02d}"
        folder.mkdir(parents=True)
        for source in sources:
            shutil.copyfile(source, folder / source.name)
    return into


def small_estate(into: Path, files: int, per_folder: int = 1000) -> Path:
    """`files` one-line scripts, `per_folder` to a folder, as a generated or exported estate has.
    Each folder's first script is written and the others are hard links to it: a file like any
    other to the command, and a hundredth of the time to make a million of."""
    for index in range(files):
        folder = into / f"d{index // per_folder:04d}"
        name = folder / f"s{index % per_folder:04d}.sql"
        if index % per_folder == 0:
            folder.mkdir(parents=True)
            first = name
            first.write_text(f"SELECT c{index % 7} FROM t{index % 13} WHERE id = {index};\n")
        else:
            os.link(first, name)
    return into


def parallelism(repeat: int) -> float:
    """What two threads gain over one on this machine right now, for work that is perfectly
    parallel (hashing releases the GIL): the ceiling of every --jobs 2 ratio measured beside it.
    On a machine shared with other work it falls well below 2."""
    block = os.urandom(1 << 24)

    def hash_twice_in_turn() -> None:
        for _ in range(2):
            hashlib.sha256(block).digest()

    def hash_twice_at_once() -> None:
        workers = [threading.Thread(target=lambda: hashlib.sha256(block).digest()) for _ in range(2)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()

    return best_of(repeat, hash_twice_in_turn) / best_of(repeat, hash_twice_at_once)


def jobs_table(name: str, estate: Path, repeat: int, target: float) -> Table:
    files = [t for t in discover([str(estate)])]
    size = sum(os.stat(t.path).st_size for t in files)
    inside = {jobs: best_of(repeat, in_process(estate, jobs)) for jobs in (1, 2)}
    outside = {jobs: best_of(repeat, command(estate, jobs)) for jobs in (1, 2)}
    python = best_of(1, per_file(estate))
    transcription = best_of(1, with_oracle(estate))
    ratio = inside[1] / inside[2]
    ceiling = parallelism(repeat)

    table = Table(title=f"{name}: {len(files):,} files, {size / 1e6:.1f} MB, {os.process_cpu_count()} cores; "
                        f"--jobs 2 is {ratio:.2f}x --jobs 1 (target {target}x): "
                        f"{'met' if ratio >= target else 'NOT met'}; two threads of perfectly parallel "
                        f"work gain {ceiling:.2f}x on this machine now")
    table.add_column("Run")
    for header in ("Wall time (s)", "Files/s", "MB/s", "vs --jobs 1"):
        table.add_column(header, justify="right")
    rows = [
        ("assess --jobs 1, in one process", inside[1], inside[1]),
        ("assess --jobs 2, in one process", inside[2], inside[1]),
        ("tessera assess --jobs 1, end to end", outside[1], outside[1]),
        ("tessera assess --jobs 2, end to end", outside[2], outside[1]),
        ("per-file path through the modules, one process", python, inside[1]),
        ("re transcription, one process", transcription, inside[1]),
    ]
    for run, seconds, base in rows:
        table.add_row(run, f"{seconds:.3f}", f"{len(files) / seconds:,.0f}", f"{size / 1e6 / seconds:.1f}",
                      f"{base / seconds:.2f}x")
    return table


def tiny_table(estate: Path, files: int, repeat: int) -> Table:
    seconds = best_of(repeat, command(estate, 2))
    table = Table(title=f"{files:,} tiny files end to end, --jobs 2, best of {repeat}: "
                        f"{seconds:.3f} s (target under 1.5 s): {'met' if seconds < 1.5 else 'NOT met'}")
    table.add_column("Run")
    table.add_column("Wall time (s)", justify="right")
    table.add_column("Files/s", justify="right")
    table.add_row("tessera assess --jobs 2 --format json", f"{seconds:.3f}", f"{files / seconds:,.0f}")
    return table


def million_table(scratch: Path, files: int) -> Table:
    started = time.perf_counter()
    estate = small_estate(scratch / "million", files)
    made = time.perf_counter() - started
    try:
        args = [sys.executable, "-m", "tessera_cli", "assess", str(estate), "--format", "jsonl", "--jobs", "2"]
        started = time.perf_counter()
        run = subprocess.Popen(args, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        assert run.stdout is not None and run.stderr is not None
        # Checked as they stream past, so that this process holds no more of the report than the
        # command does.
        previous, rows, ordered, last = "", 0, True, {}
        for line in run.stdout:
            last = json.loads(line)
            if last["row"] == "file":
                rows += 1
                ordered = ordered and previous < last["path"]
                previous = last["path"]
        errors = run.stderr.read()
        _, status, usage = os.wait4(run.pid, 0)
        run.returncode = os.waitstatus_to_exitcode(status)
        seconds = time.perf_counter() - started
    finally:
        shutil.rmtree(estate, ignore_errors=True)
    if run.returncode != 0:
        raise SystemExit(f"tessera assess failed ({run.returncode}):\n{errors}")
    peak = usage.ru_maxrss / 1024  # kilobytes on Linux
    complete = last.get("row") == "summary" and last.get("files") == files
    table = Table(title=f"{files:,} small files, --format jsonl --jobs 2: peak memory {peak:.0f} MB "
                        f"(target under 300 MB): {'met' if peak < 300 and ordered and complete else 'NOT met'}")
    for header in ("Rows", "In path order", "Summary row last", "Wall time (s)", "Files/s", "Peak RSS (MB)",
                   "Generating (s)"):
        table.add_column(header, justify="right")
    table.add_row(f"{rows:,}", "yes" if ordered else "NO", "yes" if complete else "NO", f"{seconds:.1f}",
                  f"{rows / seconds:,.0f}", f"{peak:.0f}", f"{made:.1f}")
    return table


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--copies", type=int, default=20, help="copies of the large scripts in the second estate")
    parser.add_argument("--tiny", type=int, default=20_000, help="files of the tiny-file estate")
    parser.add_argument("--million", type=int, default=1_000_000, help="files of the memory estate; 0 skips it")
    options = parser.parse_args()
    # As in the command: the modules' per-call debug events are not part of the work measured.
    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO))

    console = Console()
    with tempfile.TemporaryDirectory() as tmp:
        scratch = Path(tmp)
        console.print(jobs_table("The corpus", options.corpus, options.repeat, 1.6))
        large = large_estate(options.corpus, scratch / "large", options.copies)
        console.print(jobs_table(f"Large T-SQL scripts x{options.copies}", large, options.repeat, 1.8))
        tiny = small_estate(scratch / "tiny", options.tiny)
        console.print(tiny_table(tiny, options.tiny, options.repeat))
        if options.million:
            console.print(million_table(scratch, options.million))


if __name__ == "__main__":
    main()
