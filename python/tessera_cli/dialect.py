"""Which SQL platform each script was written for: the ``tessera dialect`` command, and the per-file
call and estate mix that ``tessera assess`` reports."""

from __future__ import annotations

import sys
from collections import Counter
from collections.abc import Iterable, Sequence
from pathlib import Path
from typing import IO

import click
from rich.text import Text

from agents.tessera.dialect_detect import DialectVerdict, detect_dialect

# The estate and output modules are imported where used: estate itself calls dialect_of.

UNDECIDED = "undecided"
TOP_SCORES = 3


def dialect_of(text: str) -> str:
    """The platform of one script as reports show it: its name, or "undecided"."""
    platform = detect_dialect(text).platform
    return UNDECIDED if platform is None else str(platform)


def dialect_mix(dialects: Iterable[str | None]) -> list[dict[str, object]]:
    """Files per dialect over an estate, most files first ("undecided" counts as one)."""
    counts = Counter(d for d in dialects if d is not None)
    return [{"dialect": name, "files": count} for name, count in sorted(counts.items(), key=lambda i: (-i[1], i[0]))]


def verdict_row(path: str, verdict: DialectVerdict | None, error: str | None = None) -> dict[str, object]:
    """One file's verdict as plain data: the DialectVerdict fields and the path."""
    if verdict is None:
        return {"path": path, "platform": None, "confidence": None, "runner_up": None, "scores": None,
                "evidence": None, "error": error}
    return {
        "path": path,
        "platform": None if verdict.platform is None else str(verdict.platform),
        "confidence": verdict.confidence,
        "runner_up": None if verdict.runner_up is None else str(verdict.runner_up),
        "scores": {str(p): s for p, s in verdict.scores.items()},
        "evidence": [
            {"source": e.source, "id": e.id, "platforms": [str(p) for p in e.platforms], "line": e.line,
             "text": e.text, "weight": e.weight}
            for e in verdict.evidence
        ],
        "error": None,
    }


def _top_scores(verdict: DialectVerdict) -> str:
    ranked = sorted(verdict.scores.items(), key=lambda item: -item[1])[:TOP_SCORES]
    return ", ".join(f"{platform} {score:.2f}" for platform, score in ranked)


def print_verdicts(out: IO[str], rows: Sequence[tuple[str, DialectVerdict | None, str | None]]) -> None:
    from .output import console_for

    console = console_for(out)
    for path, verdict, error in rows:
        head = Text(path, style="bold")
        if verdict is None:
            console.print(head + Text(f": {error}", style="red"))
            console.print()
            continue
        if verdict.platform is None:
            head.append(f": {UNDECIDED}", style="yellow")
        else:
            head.append(f": {verdict.platform}", style="green")
        head.append(f" (confidence {verdict.confidence:.2f}")
        if verdict.runner_up is not None:
            head.append(f", runner-up {verdict.runner_up}")
        head.append(")")
        console.print(head)
        console.print(Text(f"  scores: {_top_scores(verdict)}"))
        if not verdict.evidence:
            console.print(Text("  no evidence", style="italic"))
        for e in verdict.evidence:
            line = Text(f"  line {e.line:>5}  {e.weight:5.2f}  {e.source:<7}  {e.id:<38}  ")
            line.append(e.text.replace("\n", "\\n"), style="dim")
            console.print(line, overflow="ellipsis", no_wrap=True)
        console.print()


def _verbose(_ctx: click.Context, _param: click.Parameter, value: bool) -> bool:
    if value:
        from .main import _configure_logging

        _configure_logging(verbose=True)
    return value


@click.command()
@click.argument("files", nargs=-1, required=True, metavar="FILE...")
@click.option("-f", "--format", "fmt", type=click.Choice(("table", "json", "jsonl")), default=None,
              help="Report format. Default: table when writing to a terminal, json otherwise.")
@click.option("-v", "--verbose", is_flag=True, callback=_verbose, help="Show the modules' debug events on stderr.")
def dialect(files: tuple[str, ...], fmt: str | None, verbose: bool) -> None:
    """Name the SQL platform each file was written for, and show why.

    For each file: the platform (or "undecided" when the evidence is too weak or too mixed), the
    confidence, the three best scores and every piece of evidence with its line, weight and text.

    Exit status 1 when any file could not be read.
    """
    from .estate import UnreadableFile, read_sql, shown
    from .output import write_json, write_jsonl_row

    rows: list[tuple[str, DialectVerdict | None, str | None]] = []
    for name in files:
        path = Path(name)
        try:
            rows.append((shown(path), detect_dialect(read_sql(path)), None))
        except UnreadableFile as error:
            rows.append((shown(path), None, str(error)))
    out = sys.stdout
    fmt = fmt or ("table" if out.isatty() else "json")
    if fmt == "json":
        write_json([verdict_row(*row) for row in rows], out)
    elif fmt == "jsonl":
        for row in rows:
            write_jsonl_row(verdict_row(*row), out)
    else:
        print_verdicts(out, rows)
    failed = [(path, error) for path, verdict, error in rows if verdict is None]
    for path, error in failed:
        click.echo(f"tessera: {path}: {error}", err=True)
    if failed:
        sys.exit(1)
