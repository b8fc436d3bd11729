"""``tessera report``: the estate assessment as a page with charts or as an Excel workbook."""

from __future__ import annotations

import importlib.util
import os
import sys
import tempfile
from collections.abc import Callable
from pathlib import Path

import click

FORMATS = {".html": "html", ".xlsx": "xlsx"}
# What each format needs beyond the command's own libraries, by import name.
NEEDS = {"html": ("jinja2", "markupsafe", "plotly"), "xlsx": ("xlsxwriter",)}
# A report that could not be written, as assess reports it.
CANNOT_WRITE = 3


def report_format(output: Path) -> str:
    fmt = FORMATS.get(output.suffix.lower())
    if fmt is None:
        raise click.BadParameter(
            f"{output.name!r} ends in neither .html nor .xlsx; the extension chooses the format",
            param_hint="'-o' / '--output'",
        )
    return fmt


def missing_libraries(fmt: str) -> list[str]:
    return [name for name in NEEDS[fmt] if importlib.util.find_spec(name) is None]


def write_atomically(destination: Path, write: Callable[[Path], None]) -> None:
    """Write through a file beside ``destination`` and move it into place when complete, so that
    a failed or interrupted run leaves any earlier report as it was."""
    target = destination.resolve() if destination.is_symlink() else destination
    handle, temporary = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".part", dir=target.parent or Path("."))
    os.close(handle)
    try:
        write(Path(temporary))
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, target)
    except BaseException:
        Path(temporary).unlink(missing_ok=True)
        raise


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


@click.command()
@click.argument("paths", nargs=-1, required=True, metavar="PATH...")
@click.option("-o", "--output", required=True, type=click.Path(dir_okay=False, path_type=Path),
              help="The report to write: FILE.html (a page with charts) or FILE.xlsx (a workbook).")
@click.option("-g", "--glob", "patterns", multiple=True, metavar="PATTERN",
              help="File-name pattern of the scripts looked for in folders, case-insensitive; may be "
              "given several times. Default: every SQL extension, as assess has it.")
@click.option("-j", "--jobs", type=click.IntRange(min=1), default=os.process_cpu_count() or 1,
              show_default="the number of cores", help="Files assessed at once.")
def report(paths: tuple[str, ...], output: Path, patterns: tuple[str, ...], jobs: int) -> None:
    """Assess the estate and write it as a report people read: an HTML page with tiles,
    interactive charts and sortable tables, or an Excel workbook with native charts.

    Dialects and the object inventory are included when those modules are installed.

    Exit status: 0 when every file was assessed, 1 when any could not be read, 2 for a usage
    error (a missing library is one), 3 when the report could not be written.
    """
    from ..estate import discover, shown
    from ..main import _progress, _warn

    fmt = report_format(output)
    missing = missing_libraries(fmt)
    if missing:
        _warn(
            f"the {fmt} report needs {', '.join(missing)}; install them with "
            "pip install 'tessera-native[report]'"
        )
        sys.exit(2)
    if not output.parent.is_dir():
        _warn(f"cannot write {output}: no such directory {output.parent}")
        sys.exit(CANNOT_WRITE)

    from .data import collect, columnar

    targets = list(discover(paths, patterns))
    if not targets:
        _warn(f"no files matching {' '.join(patterns) if patterns else 'SQL scripts'} under {', '.join(paths)}")
    with _progress(len(targets), enabled=True) as advance:
        estate = collect(targets, jobs, advance)

    def write(path: Path) -> None:
        if fmt == "html":
            from .html import render

            path.write_text(render(estate, [shown(Path(given)) for given in paths]), encoding="utf-8")
        else:
            from . import xlsx

            xlsx.write(estate, columnar(estate), path)

    try:
        write_atomically(output, write)
    except OSError as error:
        _warn(f"cannot write {output}: {error.strerror or error}")
        sys.exit(CANNOT_WRITE)

    if estate.summary.failed:
        _warn(f"{estate.summary.failed} of {estate.summary.files} files could not be read")
        sys.exit(1)
