"""`tessera report` on a large estate: how big the page gets and how long headless Chromium takes
to render it, charts included; and how long the workbook takes.

The estate is generated: the corpus's scripts of under 20 KB, cycled into folders until there are
--files of them (100,000 by default), one in a thousand made undecodable so that the failure
table has rows too.

Usage: .venv/bin/python bench/bench_report.py [--files N] [--keep DIR] [--no-xlsx]
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
# Beside the checkout, or beside the folder of work trees that holds it.
CORPUS = next((p / "shared" / "corpus" for p in ROOT.parents if (p / "shared" / "corpus").is_dir()), ROOT / "examples")


def generate(where: Path, count: int) -> int:
    sources = sorted(p for p in CORPUS.rglob("*.sql") if p.stat().st_size < 20_000)
    sources += sorted((ROOT / "examples").glob("*.sql"))
    texts = [p.read_bytes() for p in sources]
    total = 0
    for i in range(count):
        folder = where / f"team{i % 37:02d}" / f"area{i % 11}"
        if i < 37 * 11:
            folder.mkdir(parents=True, exist_ok=True)
        data = texts[i % len(texts)]
        if i % 1000 == 999:
            data = b"SELECT '\xff' AS broken;\n"
        (folder / f"script_{i:06d}.sql").write_bytes(data)
        total += len(data)
    return total


def _descendants_cpu(root: int) -> float:
    """CPU seconds used so far by the processes under ``root`` (the browser's, under its driver)."""
    children: dict[int, list[int]] = {}
    times: dict[int, float] = {}
    tick = os.sysconf("SC_CLK_TCK")
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            fields = (entry / "stat").read_text().rpartition(")")[2].split()
        except OSError:
            continue
        children.setdefault(int(fields[1]), []).append(int(entry.name))
        times[int(entry.name)] = (int(fields[11]) + int(fields[12])) / tick
    total, stack = 0.0, [root]
    while stack:
        pid = stack.pop()
        total += times.get(pid, 0.0)
        stack.extend(children.get(pid, []))
    return total


def render_seconds(page: Path) -> dict[str, float]:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.support.ui import WebDriverWait

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1400,1000"):
        options.add_argument(flag)
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver", env=env)
    driver = webdriver.Chrome(options=options, service=service)
    try:
        driver.set_page_load_timeout(120)
        before = _descendants_cpu(driver.service.process.pid)
        driver.get(page.as_uri())
        WebDriverWait(driver, 120).until(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
        cpu = _descendants_cpu(driver.service.process.pid) - before
        # Milliseconds from the start of navigation: the page's script starting (the page and the
        # charting library parsed), the data read, the charts and tables drawn.
        timings = {k: v / 1000 for k, v in driver.execute_script("return window.reportTimings").items()}
        # On a machine shared with other work the wall time says more about the neighbours than
        # the page; the CPU time the browser spent is what the page costs.
        return {**timings, "cpu": cpu}
    finally:
        driver.quit()


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=100_000)
    parser.add_argument("--keep", type=Path, help="generate the estate into DIR and keep it")
    parser.add_argument("--no-xlsx", action="store_true")
    args = parser.parse_args()

    base = args.keep or Path(tempfile.mkdtemp(prefix="tessera-report-bench-"))
    estate = base / "estate"
    try:
        if not estate.is_dir():
            estate.mkdir(parents=True)
            size = generate(estate, args.files)
            print(f"estate: {args.files:,} files, {size / 1e6:.1f} MB")
        formats = ["html"] + ([] if args.no_xlsx else ["xlsx"])
        for fmt in formats:
            out = base / f"report.{fmt}"
            start = time.perf_counter()
            run = subprocess.run(
                [sys.executable, "-m", "tessera_cli", "report", str(estate), "-o", str(out)],
                capture_output=True, text=True,
            )
            wall = time.perf_counter() - start
            if run.returncode not in (0, 1):
                sys.exit(f"tessera report failed ({run.returncode}): {run.stderr}")
            print(f"tessera report -o report.{fmt}: {wall:.2f} s, {out.stat().st_size / 1e6:.2f} MB")
        page = base / "report.html"
        if shutil.which("chromium") or Path("/usr/bin/chromium").exists():
            # A fresh browser each time: the page as someone opening it sees it, nothing cached.
            runs = [render_seconds(page) for _ in range(3)]
            for run in runs:
                print(
                    "headless Chromium, fresh browser: script starts {script:.2f} s, data read {data:.2f} s, "
                    "charts drawn {charts:.2f} s, all drawn {ready:.2f} s; browser CPU {cpu:.2f} s".format(**run)
                )
            ready = sorted(run["ready"] for run in runs)
            cpu = sorted(run["cpu"] for run in runs)
            print(
                f"rendered in {ready[1]:.2f} s (median of 3; best {ready[0]:.2f} s), browser CPU {cpu[1]:.2f} s;"
                " target under 5 s"
            )
            print(f"load average during the run: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
        else:
            print("chromium not installed: render time not measured")
    finally:
        if args.keep is None:
            shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    main()
