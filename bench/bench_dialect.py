"""Dialect identification: held-out accuracy and speed of agents.tessera.dialect_detect.

    .venv/bin/python bench/bench_dialect.py [--corpus DIR] [--quick]

Accuracy, on the held-out 30% of each labelled set (dialect_split.py), per platform: files, decided,
right, precision when deciding, coverage (share decided), and the confusion matrix (rows: the label;
columns: the verdict, "-" for undecided). Then the large T-SQL scripts (every one must be sqlserver)
and the unlabelled fixtures (how many stay undecided). Then the real scripts of each repository
judged with weights and thresholds fitted without that repository (scripts/fit_dialect_weights.py
run again for each), the nearest the corpus comes to scripts from outside it.

Speed, in one run against the plain `re` loop over the 133 markers (IGNORECASE | MULTILINE):
find_markers on the scripts over 100 KB (ratio per script), detect_dialect in MB/s on them, and the
1 MB adversarial inputs (native time).
"""

from __future__ import annotations

import argparse
import importlib.util
import re
import statistics
import sys
import time
from collections import Counter, defaultdict
from pathlib import Path

import structlog

sys.path.insert(0, str(Path(__file__).resolve().parent))

from _timing import best_of  # noqa: E402
from dialect_split import PLATFORMS, find_corpus, labelled_files  # noqa: E402

from agents.tessera.dialect_detect import detect_dialect, find_markers  # noqa: E402
from agents.tessera.dialect_signatures import PLATFORM_MARKERS  # noqa: E402

FLAGS = re.IGNORECASE | re.MULTILINE
COMPILED = [(m.id, re.compile(m.pattern, FLAGS)) for m in PLATFORM_MARKERS]


def re_find_markers(text: str) -> dict[str, tuple[int, int]]:
    out = {}
    for ident, pattern in COMPILED:
        found = pattern.search(text)
        if found is not None:
            out[ident] = found.span()
    return out


def read(path: Path) -> str | None:
    try:
        return path.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError):
        return None


def accuracy_table(title: str, rows: list[tuple[str, str | None]]) -> None:
    per = defaultdict(Counter)
    confusion = defaultdict(Counter)
    for label, verdict in rows:
        per[label]["files"] += 1
        confusion[label][verdict or "-"] += 1
        if verdict is not None:
            per[label]["decided"] += 1
            per[label]["right"] += verdict == label
            per[verdict]["claimed"] += 1
            per[verdict]["claimed_right"] += verdict == label
    print(f"\n{title}")
    print(f"  {'platform':<12}{'files':>6}{'decided':>9}{'right':>7}{'precision':>11}{'coverage':>10}")
    total = Counter()
    for p in PLATFORMS:
        c = per[p]
        if not c["files"] and not c["claimed"]:
            continue
        # Precision per platform: of the files named p, how many are p.
        precision = f"{c['claimed_right'] / c['claimed']:.1%}" if c["claimed"] else "-"
        coverage = f"{c['decided'] / c['files']:.0%}" if c["files"] else "-"
        print(f"  {p:<12}{c['files']:>6}{c['decided']:>9}{c['right']:>7}{precision:>11}{coverage:>10}")
        total.update(c)
    precision = total["right"] / total["decided"] if total["decided"] else 0.0
    print(
        f"  {'all':<12}{total['files']:>6}{total['decided']:>9}{total['right']:>7}{precision:>11.1%}"
        f"{total['decided'] / max(1, total['files']):>10.0%}"
    )
    columns = [p for p in PLATFORMS if any(confusion[r][p] for r in PLATFORMS)] + ["-"]
    short = {p: p[:5] for p in PLATFORMS} | {"-": "-"}
    print("  confusion (rows: label, columns: verdict)")
    print("  " + " " * 12 + "".join(f"{short[c]:>7}" for c in columns))
    for p in PLATFORMS:
        if confusion[p]:
            print(f"  {p:<12}" + "".join(f"{confusion[p][c] or '.':>7}" for c in columns))


def accuracy(corpus: Path) -> None:
    real, fixtures, unlabelled = [], [], Counter()
    for kind, platform, path, part in labelled_files(corpus):
        if part != "held_out":
            continue
        text = read(path)
        if text is None:
            continue
        verdict = detect_dialect(text).platform
        if platform is None:
            unlabelled["files"] += 1
            unlabelled["undecided"] += verdict is None
        elif kind == "real":
            real.append((platform, verdict))
        else:
            fixtures.append((platform, verdict))
    accuracy_table("Held-out real scripts (dialects/)", real)
    accuracy_table("Held-out parser fixtures of the ten platforms (sqlfluff/)", fixtures)
    print(f"\nHeld-out unlabelled fixtures: {unlabelled['undecided']} of {unlabelled['files']} undecided")
    large = sorted((corpus / "tsql-large").glob("*.sql"))
    verdicts = Counter(detect_dialect(read(p)).platform for p in large)
    print(f"Large T-SQL scripts: {dict(verdicts)} ({len(large)} files)")


def fitting():
    """scripts/fit_dialect_weights.py, imported."""
    path = Path(__file__).resolve().parents[1] / "scripts" / "fit_dialect_weights.py"
    spec = importlib.util.spec_from_file_location("fit_dialect_weights", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def repository_of(path: Path) -> str:
    """The repository a real script was copied from: its file name up to the first "__"."""
    return path.name.split("__")[0]


def leave_one_repository_out(corpus: Path) -> None:
    """The fitting procedure judged as on scripts from outside the corpus: for each repository of the
    real scripts, weights and thresholds fitted without any of its scripts (every other real script,
    and the fitting part of the fixtures), then its scripts detected with them. A file-level split keeps
    a repository's authors on both sides of it; this does not."""
    fit = fitting()
    entries, medium = fit.load_entries()
    samples = []  # (repository or None, kind, platform, fired)
    for kind, platform, path, part in labelled_files(corpus):
        if platform is None or (kind != "real" and part != "fit"):
            continue
        fired = fit.fired_entries(detect_dialect, path)
        if fired is not None:
            samples.append((repository_of(path) if kind == "real" else None, kind, platform, fired))
    rows = []
    repositories = sorted({r for r, *_ in samples if r is not None})
    for repository in repositories:
        train = [(kind, platform, fired) for r, kind, platform, fired in samples if r != repository]
        weights, thresholds, _, _ = fit.fit(train, entries, medium)
        for r, _kind, platform, fired in samples:
            if r == repository:
                scored = fit.summary(fit.score(fired, entries, weights))
                rows.append((platform, None if thresholds is None else fit.decide(scored, *thresholds)))
    title = f"Real scripts, each judged with its repository left out of the fit ({len(repositories)} repositories)"
    accuracy_table(title, rows)


def speed(corpus: Path, quick: bool) -> None:
    big = [p for p in sorted(corpus.rglob("*.sql")) if p.stat().st_size > 100_000]
    texts = [(p.name, t) for p in big if (t := read(p)) is not None]
    repeat = 1 if quick else 3
    # A native call costs milliseconds: more of them are cheap, and the least settles after the
    # first calls have paid for the per-thread buffers and for caches the re loop has just flushed.
    native = 5 if quick else 20
    print(f"\nSpeed on the scripts over 100 KB (best of {repeat} for re, {native} native)")
    print(f"  {'script':<42}{'KB':>7}{'re ms':>9}{'find ms':>9}{'ratio':>8}{'detect ms':>11}{'MB/s':>8}")
    ratios, rates = [], []
    for name, text in texts:
        assert find_markers(text) == re_find_markers(text), name
        t_re = best_of(repeat, lambda: re_find_markers(text))
        t_find = best_of(native, lambda: find_markers(text))
        t_detect = best_of(native, lambda: detect_dialect(text))
        mb = len(text.encode("utf-8")) / 1e6
        ratios.append(t_re / t_find)
        rates.append(mb / t_detect)
        print(
            f"  {name[:41]:<42}{len(text) / 1000:>7.0f}{t_re * 1e3:>9.1f}{t_find * 1e3:>9.2f}"
            f"{t_re / t_find:>7.0f}x{t_detect * 1e3:>11.2f}{mb / t_detect:>8.0f}"
        )
    if ratios:
        print(f"  median find_markers speed-up {statistics.median(ratios):.0f}x (min {min(ratios):.0f}x); "
              f"detect_dialect median {statistics.median(rates):.0f} MB/s (min {min(rates):.0f})")

    wide_as_read(texts, repeat)

    print("\nAdversarial inputs, 1 MB each (native, best of %d)" % repeat)
    size = 1_000_000
    for label, unit in [
        ("'CREATE TABLE (' repeated", "CREATE TABLE ("),
        ("'/* ' repeated", "/* "),
        ("\"'\" quote run", "'"),
        ("'$$' run", "$$ "),
        ("'MATCH (' repeated", "MATCH ("),
        ("'CONVERT(a,' repeated", "CONVERT(a,"),
        ("'[a ' repeated", "[a "),
        ("'# x' lines", "# x\n"),
        ("'-- MAGIC' lines", "-- MAGIC\n"),
        ("'ON CONFLICT ' repeated", "ON CONFLICT "),
        # Wide storage: the same unit behind a byte-order mark; prose in a script of thousands of
        # distinct characters (too many to work out one-byte stand-ins for); a stand-in every few
        # characters.
        ("BOM, 'CREATE TABLE (' repeated", "\ufeffCREATE TABLE ("),
        ("CJK prose, 20,000 distinct", "".join(chr(0x4E00 + k) for k in range(20_000))),
        ("'x\u2019 ' repeated", "x\u2019 "),
    ]:
        text = (unit * (size // len(unit) + 1))[:size]
        t_find = best_of(repeat, lambda: find_markers(text))
        t_detect = best_of(repeat, lambda: detect_dialect(text))
        print(f"  {label:<30} find_markers {t_find * 1e3:7.1f} ms   detect_dialect {t_detect * 1e3:7.1f} ms")


def wide_as_read(texts: list[tuple[str, str]], repeat: int) -> None:
    """The scripts stored two or four bytes per character as read (a byte-order mark, a typographic
    quote), against the same script in one-byte storage (the mark left out, any other character above
    U+00FF replaced by "?"), in the same run: the least CPU time of five or more runs each, since the
    ratio is the figure and other processes on the machine would move both sides apart."""
    wide = [(name, text) for name, text in texts if max(text, default="\0") > "\xff"]
    if not wide:
        return
    repeat = max(repeat, 5)
    print(f"\nScripts over 100 KB that are wide as read: detect_dialect and find_markers, as read vs one-byte "
          f"(least CPU time of {repeat})")
    print(f"  {'script':<42}{'detect ms':>10}{'1-byte':>8}{'ratio':>7}{'find ms':>9}{'1-byte':>8}{'ratio':>7}")
    for name, text in wide:
        one = "".join(c if c <= "\xff" else "?" for c in text.removeprefix("\ufeff"))
        row = []
        for fn in (detect_dialect, find_markers):
            as_read = best_of(repeat, lambda: fn(text), time.process_time)
            narrow = best_of(repeat, lambda: fn(one), time.process_time)
            row.append(f"{as_read * 1e3:>9.2f}{narrow * 1e3:>8.2f}{as_read / narrow:>6.2f}x")
        print(f"  {name[:41]:<42}{row[0]}{row[1]}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=None)
    parser.add_argument("--quick", action="store_true", help="one timing run instead of three")
    parser.add_argument("--no-speed", action="store_true")
    args = parser.parse_args()
    corpus = args.corpus or find_corpus()
    if corpus is None:
        print("no corpus found; pass --corpus", file=sys.stderr)
        return 2
    # As a production host runs: debug events filtered out, logger cached.
    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(20), cache_logger_on_first_use=True)
    accuracy(corpus)
    leave_one_repository_out(corpus)
    if not args.no_speed:
        speed(corpus, args.quick)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
