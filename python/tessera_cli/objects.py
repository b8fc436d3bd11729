"""The object inventory in the command: ``tessera objects``, the object rows and summary of
``tessera assess --objects``, and ``tessera plan --by-object``."""

from __future__ import annotations

from collections import Counter
from collections.abc import Iterable, Sequence
from pathlib import Path
from typing import IO

import click
from rich.console import Console

from agents.tessera.complexity import SQLComplexity
from agents.tessera.inventory import (
    GradedObject,
    ObjectKind,
    format_object_reading_instructions,
    grade_objects,
    plan_object_reading,
)

from .estate import Target, UnreadableFile, graded_fields, read_sql, shown
from .output import grade_text, small_table, write_csv, write_json, write_jsonl_row

OBJECT_FIELDS: tuple[str, ...] = (
    "row",
    "path",
    "kind",
    "name",
    "raw_name",
    "statement",
    "first_line",
    "last_line",
    "lines",
    "grade",
    "effective_lines",
    "stored_proc_count",
    "complex_construct_count",
    "moderate_construct_count",
    "temp_table_count",
    "cte_count",
    "analysis_turns",
    "conversion_turns",
    "audit_turns",
)

HARDEST_SHOWN = 20
# What the summary tells of each of the hardest objects.
HARDEST_KEYS = ("path", "kind", "name", "first_line", "last_line", "grade", "effective_lines", "conversion_turns")


def object_fields(graded: GradedObject) -> dict[str, object]:
    """An object's row without its ``row`` and ``path``: what it is, where, and its grading on
    its own lines."""
    o = graded.object
    return {
        "kind": str(o.kind),
        "name": o.name,
        "raw_name": o.raw_name,
        "statement": o.statement,
        "first_line": o.first_line,
        "last_line": o.last_line,
        "lines": o.last_line - o.first_line + 1,
        **graded_fields(graded.result),
    }


def object_rows(path: str, text: str) -> list[dict[str, object]]:
    """One row per object that the script defines, graded on the object's own lines."""
    return [{"row": "object", "path": path, **object_fields(graded)} for graded in grade_objects(text)]


def file_object_rows(target: Target) -> list[dict[str, object]]:
    """The object rows of one file of an estate; a file that can't be read has none (its file
    row already says why)."""
    try:
        return object_rows(target.display, read_sql(target.path))
    except UnreadableFile:
        return []


def _hardness(row: dict[str, object]) -> tuple[int, int]:
    return (int(row["conversion_turns"]), int(row["effective_lines"]))  # type: ignore[call-overload]


def hardest(rows: Iterable[dict[str, object]], count: int = HARDEST_SHOWN) -> list[dict[str, object]]:
    """The objects with the most conversion turns, then the most effective lines; ties keep the
    estate's order."""
    return sorted(rows, key=_hardness, reverse=True)[:count]


def summarize_objects(rows: Sequence[dict[str, object]]) -> dict[str, object]:
    kinds = Counter(row["kind"] for row in rows)
    grades = Counter(row["grade"] for row in rows)
    return {
        "objects": len(rows),
        "by_kind": {kind.value: kinds[kind.value] for kind in ObjectKind if kinds[kind.value]},
        "by_grade": {grade.value: grades[grade.value] for grade in SQLComplexity},
        "turns": {
            phase: sum(int(row[f"{phase}_turns"]) for row in rows)  # type: ignore[call-overload]
            for phase in ("analysis", "conversion", "audit")
        },
        "hardest": [
            {key: row[key] for key in HARDEST_KEYS}
            for row in hardest(rows)
        ],
    }


def print_objects(console: Console, rows: Sequence[dict[str, object]]) -> None:
    if not rows:
        return
    table = small_table("Objects", "File", "Kind", "Name", "Lines", "Eff.", "Grade", "Turns",
                        left={"Kind", "Name", "Grade"})
    for row in rows:
        table.add_row(
            str(row["path"]),
            str(row["kind"]),
            str(row["name"]),
            f"{row['first_line']}-{row['last_line']}",
            f"{row['effective_lines']:,}",
            grade_text(str(row["grade"])),
            f"{row['analysis_turns']}/{row['conversion_turns']}/{row['audit_turns']}",
        )
    console.print(table)


def print_object_summary(console: Console, summary: dict[str, object]) -> None:
    console.print(f"{summary['objects']:,} objects")
    by_kind: dict[str, int] = summary["by_kind"]  # type: ignore[assignment]
    by_grade: dict[str, int] = summary["by_grade"]  # type: ignore[assignment]
    turns: dict[str, int] = summary["turns"]  # type: ignore[assignment]
    if by_kind:
        table = small_table("Objects per kind", "Kind", "Objects")
        for kind, count in by_kind.items():
            table.add_row(kind, f"{count:,}")
        console.print(table)
    table = small_table("Objects per grade", "Grade", "Objects")
    for grade, count in by_grade.items():
        table.add_row(grade_text(grade), f"{count:,}")
    console.print(table)
    console.print("Turns over the objects: " + ", ".join(f"{phase} {count:,}" for phase, count in turns.items()))
    hardest_rows: list[dict[str, object]] = summary["hardest"]  # type: ignore[assignment]
    if hardest_rows:
        table = small_table(f"Hardest objects ({len(hardest_rows)})", "File", "Object", "Lines", "Eff.",
                            "Conversion turns", left={"Object"})
        for row in hardest_rows:
            table.add_row(str(row["path"]), f"{row['kind']} {row['name']}", f"{row['first_line']}-{row['last_line']}",
                          f"{row['effective_lines']:,}", str(row["conversion_turns"]))
        console.print(table)


def inventory(files: Sequence[str]) -> tuple[list[dict[str, object]], list[str]]:
    """The object rows of the given files, and a one-line reason for each file that could not be read."""
    rows: list[dict[str, object]] = []
    failures: list[str] = []
    for name in files:
        path = Path(name)
        try:
            text = read_sql(path)
        except UnreadableFile as error:
            failures.append(f"{shown(path)}: {error}")
            continue
        rows.extend(object_rows(shown(path), text))
    return rows, failures


def by_object_instructions(file: str, text: str, max_section_lines: int) -> str:
    plan = plan_object_reading(text, max_section_lines)
    return format_object_reading_instructions(plan, shown(Path(file)))


def write_objects(rows: Sequence[dict[str, object]], fmt: str, out: IO[str], console: Console) -> None:
    if fmt == "json":
        write_json({"objects": list(rows), "summary": summarize_objects(rows)}, out)
    elif fmt == "jsonl":
        for row in rows:
            write_jsonl_row(row, out)
    elif fmt == "csv":
        write_csv(rows, OBJECT_FIELDS, out)
    else:
        print_objects(console, rows)
        print_object_summary(console, summarize_objects(rows))


def max_lines_option(command: click.Command) -> click.Command:
    return click.option(
        "--max-section-lines",
        type=click.IntRange(min=50),
        default=1500,
        show_default=True,
        help="With --by-object: the most lines one section may hold.",
    )(command)


@click.command("objects")
@click.argument("files", nargs=-1, required=True, metavar="FILE...")
@click.option("-f", "--format", "fmt", type=click.Choice(("table", "json", "jsonl", "csv")), default=None,
              help="Report format. Default: table when writing to a terminal, json otherwise.")
@click.option("-o", "--output", type=click.Path(dir_okay=False, writable=True, path_type=Path),
              help="Write the report to FILE instead of stdout.")
def objects_command(files: tuple[str, ...], fmt: str | None, output: Path | None) -> None:
    """List the objects the files define, each graded.

    For each procedure, function, view, trigger, table and other object: its kind, name, line
    range, grade, construct counts and agent-turn budgets; then the objects by kind and grade,
    the turns over all of them, and the hardest ones.

    Exit status 1 when any file could not be read.
    """
    from .main import _destination, _resolve_format, _warn
    from .output import console_for

    rows, failures = inventory(files)
    with _destination(output) as out:
        write_objects(rows, _resolve_format(fmt, out), out, console_for(out))
    for failure in failures:
        _warn(failure)
    if failures:
        raise SystemExit(1)
