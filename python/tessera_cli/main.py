"""The ``tessera`` command: the complexity, reading-plan and knowledge questions asked of SQL
scripts, one at a time or over a whole estate."""

from __future__ import annotations

import logging
import os
import sys
from collections.abc import Callable, Iterable, Iterator
from collections import Counter
from contextlib import AbstractContextManager, contextmanager
from pathlib import Path
from typing import IO, Any

import click
import structlog
from rich.console import Console
from rich.progress import (
    BarColumn,
    MofNCompleteColumn,
    Progress,
    TextColumn,
    TimeElapsedColumn,
    TimeRemainingColumn,
)

from agents.tessera.complexity import plan_reading_strategy
from agents.tessera.reference_curator import detect_construct_categories, select_knowledge

from .estate import (
    REPORT_FIELDS,
    SQL_EXTENSIONS,
    DecodedFile,
    SummaryBuilder,
    Target,
    UnreadableFile,
    assess_file,
    classify_file,
    decode_text,
    discover,
    read_bytes,
    read_sql,
    shown,
)
from .objects import by_object_instructions, file_object_rows, max_lines_option, objects_command
from .output import (
    CLASSIFY_COLUMNS,
    CLASSIFY_FIELDS,
    FORMATS,
    STREAMED_REPORTS,
    console_for,
    print_files,
    project,
    write_csv,
    write_json,
    write_jsonl_row,
)
from .rows import assess_target_rows
from .safe_output import EXIT_STATUSES, UNREADABLE_FILES, exit_statuses, report_destination


def _configure_logging(verbose: bool) -> None:
    # The modules log a debug event per call; over an estate that is thousands of lines of noise
    # unless asked for, and it must never reach stdout, where the data goes.
    structlog.configure(
        wrapper_class=structlog.make_filtering_bound_logger(logging.DEBUG if verbose else logging.INFO),
        logger_factory=structlog.PrintLoggerFactory(sys.stderr),
        processors=[
            structlog.processors.add_log_level,
            structlog.dev.ConsoleRenderer(colors=sys.stderr.isatty() and not os.environ.get("NO_COLOR")),
        ],
        # Safe to cache: the configuration is settled before any module is called.
        cache_logger_on_first_use=True,
    )


def _verbose_option(command: Callable[..., Any]) -> Callable[..., Any]:
    def enable(_ctx: click.Context, _param: click.Parameter, value: bool) -> bool:
        if value:
            _configure_logging(verbose=True)
        return value

    return click.option(
        "-v",
        "--verbose",
        is_flag=True,
        callback=enable,
        help="Show the modules' debug events on stderr (assess then asks the modules file by file).",
    )(command)


def _format_option(command: Callable[..., Any]) -> Callable[..., Any]:
    return click.option(
        "-f",
        "--format",
        "fmt",
        type=click.Choice(FORMATS),
        default=None,
        help="Report format. Default: table when writing to a terminal, json otherwise.",
    )(command)


def _output_option(command: Callable[..., Any]) -> Callable[..., Any]:
    return click.option(
        "-o",
        "--output",
        # Whether it can be written is found out by writing: a failure is exit status 3.
        type=click.Path(dir_okay=False, path_type=Path),
        help="Write the report to FILE instead of stdout.",
    )(command)


def _destination(output: Path | None) -> AbstractContextManager[IO[str]]:
    return report_destination(output, None if output is None else shown(output))


def _resolve_format(fmt: str | None, out: IO[str]) -> str:
    return fmt or ("table" if out.isatty() else "json")


def _warn(message: str) -> None:
    click.echo(f"tessera: {message}", err=True)


@contextmanager
def _progress(total: int | None, enabled: bool) -> Iterator[Callable[[], None] | None]:
    """A callback that moves a progress bar on stderr one file on, or None where no bar is shown.
    Without a total (assess lists the estate as it goes) the bar counts files."""
    if not enabled or total == 0 or not sys.stderr.isatty():
        yield None
        return
    columns = [TextColumn("assessing"), BarColumn(), MofNCompleteColumn(), TimeElapsedColumn()]
    if total is not None:
        columns.append(TimeRemainingColumn())
    with Progress(
        *columns,
        console=Console(stderr=True),
        transient=True,
        # Nothing else writes while the bar runs; left on, rich would move stdout onto the
        # terminal of stderr.
        redirect_stdout=False,
        redirect_stderr=False,
    ) as progress:
        task = progress.add_task("assessing", total=total)
        yield lambda: progress.advance(task)


@click.group(context_settings={"help_option_names": ["-h", "--help"]})
# The version is looked up only when asked for: reading the package metadata costs every other
# run a noticeable part of its start-up.
@click.version_option(None, "-V", "--version", package_name="tessera-native", prog_name="tessera")
def cli() -> None:
    """Size a SQL-to-PySpark migration: grade SQL scripts, budget agent turns, plan how large
    files are read, and cut the conversion knowledge down to what a script needs."""
    _configure_logging(verbose=False)


@cli.command(epilog=f"Exit status: {EXIT_STATUSES}")
@click.argument("paths", nargs=-1, required=True, metavar="PATH...")
@click.option(
    "-g",
    "--glob",
    "patterns",
    multiple=True,
    metavar="PATTERN",
    help="File-name pattern of the scripts looked for in folders, case-insensitive; may be given "
    f"several times. Default: the extensions {' '.join(SQL_EXTENSIONS)}.",
)
@_format_option
@_output_option
@click.option(
    "-j",
    "--jobs",
    type=click.IntRange(min=1),
    default=os.process_cpu_count() or 1,
    show_default="the number of cores",
    help="Files assessed at once (at most four threads per core run).",
)
@click.option("--objects", "with_object_rows", is_flag=True,
              help="Also list every object the files define (procedures, views, tables...), each graded.")
@click.option("--engine", type=click.Choice(["local", "spark"]), default="local", show_default=True,
              help="Where the files are assessed: in this process, or on Spark (needs the spark extra and Java).")
@click.option("--master", default="local[*]", show_default=True, help="Spark master URL, with --engine spark.")
@_verbose_option
def assess(
    paths: tuple[str, ...], patterns: tuple[str, ...], fmt: str | None, output: Path | None, jobs: int,
    engine: str, master: str, verbose: bool, with_object_rows: bool = False,
) -> None:
    """Assess every SQL script under the given files and folders.

    Each file gets its size, line counts, grade, construct counts, agent-turn budgets, reading
    plan and construct categories; the summary totals them over the estate and counts the files
    left out by name. Files that cannot be read are listed with the reason, and the rest are
    still assessed. A jsonl report ends with a {"row": "summary"} line; without it, the stream
    was cut short.
    """
    if engine == "spark":
        from .spark_engine import require_spark

        require_spark()
    with exit_statuses():
        failed = _assess(paths, patterns, fmt, output, jobs, verbose, with_object_rows,
                         master if engine == "spark" else None)
    if failed:
        sys.exit(UNREADABLE_FILES)


_ERROR_AT = REPORT_FIELDS.index("error")


def _local_rows(
    targets: Iterable[Target], jobs: int, verbose: bool, objects: bool
) -> Iterator[tuple[tuple[object, ...], list[dict[str, object]] | None]]:
    """Each file's row, and with ``objects`` its object rows (none when it failed)."""
    # The modules' debug events come from their own entry points, which the native batch
    # does not go through: asked for them, the command takes the per-file path.
    pairs = ((t, assess_file(t).as_tuple()) for t in targets) if verbose else assess_target_rows(targets, jobs)
    for target, row in pairs:
        if not objects:
            yield row, None
        else:
            yield row, [] if row[_ERROR_AT] is not None else file_object_rows(target)


def _assess(
    paths: tuple[str, ...], patterns: tuple[str, ...], fmt: str | None, output: Path | None, jobs: int,
    verbose: bool, with_object_rows: bool = False, spark_master: str | None = None,
) -> bool:
    skipped: Counter[str] = Counter()
    with report_destination(output, None if output is None else shown(output)) as out:
        fmt = _resolve_format(fmt, out)
        report = STREAMED_REPORTS[fmt](out, objects=with_object_rows)
        builder = SummaryBuilder()
        # Kept only when asked for: the objects of a whole estate.
        object_rows: list[dict[str, object]] | None = [] if with_object_rows else None
        # Rows streamed to the terminal show the progress themselves, and debug events would
        # tear through a bar.
        with _progress(None, enabled=not verbose and not (fmt == "jsonl" and out.isatty())) as advance:
            rows: Iterable[tuple[tuple[object, ...], list[dict[str, object]] | None]]
            if spark_master is not None:
                from .spark_engine import assess_on_spark

                rows = assess_on_spark(paths, patterns, spark_master, skipped, with_object_rows)
            else:
                rows = _local_rows(discover(paths, patterns, skipped), jobs, verbose, with_object_rows)
            for row, found in rows:
                builder.add(row)
                report.row(row)
                if object_rows is not None:
                    report.objects_of_row(found or [])
                    object_rows += found or []
                if advance is not None:
                    advance()
        summary = builder.summary(skipped)
        if summary.files == 0:
            wanted = " ".join(patterns) if patterns else "SQL scripts"
            _warn(f"no files matching {wanted} under {', '.join(paths)}")
        report.finish(summary, object_rows)
    if summary.failed:
        _warn(f"{summary.failed} of {summary.files} files could not be read")
    return summary.failed > 0


@cli.command()
@click.argument("files", nargs=-1, required=True, metavar="FILE...")
@_format_option
@_output_option
@_verbose_option
def classify(files: tuple[str, ...], fmt: str | None, output: Path | None, verbose: bool) -> None:
    """Grade files and give their agent-turn budgets.

    For each file: the grade, the construct counts behind it and the turn budgets.

    Exit status 1 when any file could not be read.
    """
    reports = [classify_file(Target(Path(name), shown(Path(name)))) for name in files]
    rows = [project(report, CLASSIFY_FIELDS) for report in reports]
    with exit_statuses(), _destination(output) as out:
        fmt = _resolve_format(fmt, out)
        if fmt == "json":
            write_json(rows, out)
        elif fmt == "jsonl":
            for row in rows:
                write_jsonl_row(row, out)
        elif fmt == "csv":
            write_csv(rows, CLASSIFY_FIELDS, out)
        else:
            print_files(console_for(out), reports, CLASSIFY_COLUMNS, "Classification")
    failed = [report for report in reports if report.failed]
    for report in failed:
        _warn(f"{report.path}: {report.error}")
    if failed:
        sys.exit(1)


def _read_or_exit(name: str) -> str:
    try:
        return read_sql(Path(name))
    except UnreadableFile as error:
        _warn(f"{shown(Path(name))}: {error}")
        sys.exit(1)


@cli.command()
@click.argument("file", metavar="FILE")
@click.option("--by-object", is_flag=True, help="Cut the sections along the objects FILE defines.")
@max_lines_option
@_verbose_option
def plan(file: str, verbose: bool, by_object: bool = False, max_section_lines: int = 1500) -> None:
    """Print the reading instructions for FILE.

    The text that tells an agent how to read FILE with its Read tool: whole, or first the head
    and then section by section. With --by-object, each section holds one object (or a part of
    a long one) and none is longer than --max-section-lines.
    """
    if by_object:
        click.echo(by_object_instructions(file, _read_or_exit(file), max_section_lines))
        return
    strategy = plan_reading_strategy(DecodedFile(_read_or_exit(file)))  # type: ignore[arg-type]  # it has read_text
    click.echo(strategy.format_reading_instructions(shown(Path(file))))


def _document(_ctx: click.Context, param: click.Parameter, value: str | None) -> str | None:
    if value is None:
        return None
    try:
        return decode_text(read_bytes(Path(value)))
    except UnreadableFile as error:
        raise click.BadParameter(f"cannot read {value}: {error}") from None


def _words(text: str) -> int:
    return len(text.split())


@cli.command()
@click.argument("file", metavar="FILE")
@click.option("-m", "--mapping", required=True, callback=_document, metavar="M",
              help="The full type and function mapping reference (Markdown).")
@click.option("-g", "--gotchas", required=True, callback=_document, metavar="G",
              help="The full list of gotchas (Markdown).")
@click.option("-l", "--limitations", callback=_document, metavar="L",
              help="The limitations document, passed through whole.")
@click.option("--out", "out_dir", type=click.Path(file_okay=False, path_type=Path),
              help="Write mapping.md, gotchas.md (and limitations.md) into DIR instead of stdout.",
              metavar="DIR")
@_verbose_option
def knowledge(
    file: str, mapping: str, gotchas: str, limitations: str | None, out_dir: Path | None, verbose: bool
) -> None:
    """Cut the knowledge documents down for FILE.

    Prints the construct categories found in FILE, then the documents cut down to the sections
    that those categories call for (or writes them into DIR), and how many words the cut saved.
    """
    categories = detect_construct_categories(_read_or_exit(file))
    selected = select_knowledge(
        categories, full_mapping=mapping, full_gotchas=gotchas, full_limitations=limitations or ""
    )
    documents = {"mapping": mapping, "gotchas": gotchas}
    if limitations is not None:
        documents["limitations"] = limitations

    click.echo(f"categories: {', '.join(sorted(categories)) or '(none)'}")
    for name, full in documents.items():
        line = f"{name}: {_words(selected[name]):,} of {_words(full):,} words"
        if out_dir is not None:
            target = out_dir / f"{name}.md"
            try:
                out_dir.mkdir(parents=True, exist_ok=True)
                target.write_text(selected[name], encoding="utf-8")
            except OSError as error:
                raise click.ClickException(f"cannot write {target}: {error.strerror or error}") from None
            click.echo(f"{line} -> {shown(target)}")
        else:
            click.echo(f"\n===== {line} =====")
            click.echo(selected[name])

    # The same measure the selection is logged with: mapping and gotchas only, since the
    # limitations document is always passed through whole.
    kept = _words(selected["mapping"]) + _words(selected["gotchas"])
    whole = _words(mapping) + _words(gotchas)
    saved = round((1 - kept / max(whole, 1)) * 100)
    if out_dir is None:
        click.echo()
    click.echo(f"saved: {whole - kept:,} of {whole:,} words ({saved}%)")


from .dialect import dialect  # noqa: E402

cli.add_command(dialect)
cli.add_command(objects_command)


def main() -> None:
    cli(prog_name="tessera")


from .report import report as _report  # noqa: E402  # registered last: it builds on the commands above

cli.add_command(_report)
