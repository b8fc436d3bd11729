"""The report formats: JSON, JSON lines, CSV and rich tables for people."""

from __future__ import annotations

import csv
import json
import os
from collections.abc import Callable, Collection, Iterable, Sequence
from dataclasses import dataclass
from typing import IO, TypeGuard

from rich import box
from rich.console import Console, JustifyMethod
from rich.table import Table
from rich.text import Text

from .estate import REPORT_FIELDS, FileReport, Summary

FORMATS = ("table", "json", "jsonl", "csv")

CLASSIFY_FIELDS = (
    "path",
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
    "error",
)

GRADE_STYLES = {"simple": "green", "moderate": "yellow", "complex": "red"}


def project(report: FileReport, keys: Sequence[str]) -> dict[str, object]:
    row = report.as_row()
    return {key: row[key] for key in keys}


def _is_row_list(value: object) -> TypeGuard[list[dict[str, object]]]:
    return isinstance(value, list) and bool(value) and all(isinstance(item, dict) for item in value)


def _json_text(value: object, level: int) -> str:
    """Indented JSON in which each record of a list of records takes one compact line.

    Easier to scan and to grep than a record spread over twenty lines, and written by the C
    encoder: the pure-Python one that indenting needs took longer than assessing the estate.
    """
    inner = "  " * (level + 1)
    if isinstance(value, dict) and value:
        members = [f"{inner}{json.dumps(key)}: {_json_text(item, level + 1)}" for key, item in value.items()]
        return "{\n" + ",\n".join(members) + "\n" + "  " * level + "}"
    if _is_row_list(value):
        rows = [inner + json.dumps(row, ensure_ascii=False) for row in value]
        return "[\n" + ",\n".join(rows) + "\n" + "  " * level + "]"
    return json.dumps(value, ensure_ascii=False, indent=2).replace("\n", "\n" + "  " * level)


def write_json(document: object, out: IO[str]) -> None:
    out.write(_json_text(document, 0))
    out.write("\n")


def write_jsonl_row(row: dict[str, object], out: IO[str]) -> None:
    out.write(json.dumps(row, ensure_ascii=False) + "\n")
    out.flush()


def _csv_cell(value: object) -> object:
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (list, tuple)):
        return ";".join(value)
    return value


def write_csv(rows: Iterable[dict[str, object]], keys: Sequence[str], out: IO[str]) -> None:
    writer = csv.writer(out)
    writer.writerow(keys)
    for row in rows:
        writer.writerow([_csv_cell(row[key]) for key in keys])


def console_for(out: IO[str]) -> Console:
    # Off a terminal rich would wrap at 80 columns, which folds every row of a wide report.
    width = None if out.isatty() or os.environ.get("COLUMNS") else 160
    return Console(file=out, width=width, highlight=False, emoji=False)


def _number(value: int | None) -> str:
    return "" if value is None else f"{value:,}"


def _grade(report: FileReport) -> Text:
    if report.grade is None:
        return Text("failed", style="bold red")
    return grade_text(report.grade)


def _file(report: FileReport) -> Text:
    # The categories go under the path rather than in a column of their own: a list of up to
    # fourteen names would take the width that the numbers need.
    text = Text(report.path)
    if report.failed:
        text.append(f"\n{report.error}", style="red")
    elif report.empty:
        text.append("\nempty file", style="italic")
    elif report.categories:
        text.append("\n" + ", ".join(report.categories), style="dim")
    return text


def _reading(report: FileReport) -> str:
    if report.chunked is None:
        return ""
    return f"{report.sections} sections" if report.chunked else "whole"


def _turns(report: FileReport) -> str:
    if report.analysis_turns is None:
        return ""
    return f"{report.analysis_turns}/{report.conversion_turns}/{report.audit_turns}"


@dataclass(frozen=True, slots=True)
class Column:
    header: str
    cell: Callable[[FileReport], str | Text]
    justify: JustifyMethod = "right"
    # Columns with a rank are left out, highest rank first, when the console is too narrow.
    drop_rank: int | None = None


_COUNT_COLUMNS = [
    Column("Proc", lambda r: _number(r.stored_proc_count), drop_rank=4),
    Column("Cplx", lambda r: _number(r.complex_construct_count), drop_rank=5),
    Column("Mod", lambda r: _number(r.moderate_construct_count), drop_rank=6),
    Column("Tmp", lambda r: _number(r.temp_table_count), drop_rank=8),
    Column("CTE", lambda r: _number(r.cte_count), drop_rank=7),
]

ASSESS_COLUMNS = [
    Column("File / categories", _file, "left"),
    Column("Bytes", lambda r: _number(r.bytes), drop_rank=9),
    Column("Lines", lambda r: _number(r.total_lines), drop_rank=3),
    Column("Eff.", lambda r: _number(r.effective_lines), drop_rank=2),
    Column("Grade", _grade, "left"),
    *_COUNT_COLUMNS,
    Column("Turns", _turns, drop_rank=1),
    Column("Reading", _reading, "left"),
    Column("Dialect", lambda r: r.dialect or "", "left", drop_rank=10),
]

ASSESS_CAPTION = (
    "Eff.: non-blank lines once comments are removed. Proc: stored procedures. Cplx, Mod: kinds of "
    "complex and moderate construct found. Tmp: temp-table references. CTE: common table "
    "expressions. Turns: agent turns for analysis/conversion/audit. Dialect: the SQL platform the script was written for."
)

CLASSIFY_COLUMNS = [
    Column("File", lambda r: Text(r.path) + Text(f"\n{r.error}" if r.failed else "", style="red"),
           "left"),
    Column("Grade", _grade, "left"),
    Column("Eff.", lambda r: _number(r.effective_lines), drop_rank=2),
    *_COUNT_COLUMNS,
    Column("Analysis", lambda r: _number(r.analysis_turns), drop_rank=1),
    Column("Conversion", lambda r: _number(r.conversion_turns), drop_rank=1),
    Column("Audit", lambda r: _number(r.audit_turns), drop_rank=3),
]

# Columns are dropped until the paths fit whole, or this wide at least; longer ones fold.
_PATH_WIDTH = 48


def print_files(console: Console, reports: Sequence[FileReport], columns: Sequence[Column],
                title: str, caption: str | None = None) -> None:
    """A table of ``reports``; the first column is the path, which folds before any column is
    left out to fit the console."""
    cells = [[Text(cell) if isinstance(cell := column.cell(report), str) else cell for column in columns]
             for report in reports]
    # The widths are settled here from the cells' own lengths: measuring tens of thousands of
    # cells itself, rich takes seconds over a large estate.
    widths = [
        max(len(line) for cell in (Text(column.header), *(row[index] for row in cells))
            for line in cell.plain.split("\n"))
        for index, column in enumerate(columns)
    ]

    def beside_path(kept: list[int]) -> int:
        # Each column also takes a blank either side and a one-blank rule.
        return sum(widths[index] + 3 for index in kept[1:])

    kept = list(range(len(columns)))
    droppable = sorted((i for i, c in enumerate(columns) if c.drop_rank), key=lambda i: -(columns[i].drop_rank or 0))
    wanted = min(max(len(report.path) for report in reports), _PATH_WIDTH) + 4
    while droppable and wanted + beside_path(kept) > console.width:
        kept.remove(droppable.pop(0))
    widths[0] = max(min(widths[0], console.width - beside_path(kept) - 4), 12)

    table = Table(title=title, caption=caption, box=box.SIMPLE_HEAD, title_justify="left",
                  title_style="bold", caption_justify="left")
    for index in kept:
        # Paths and categories fold; the numbers never do.
        table.add_column(columns[index].header, justify=columns[index].justify, overflow="fold",
                         no_wrap=index > 0, width=widths[index])
    for row in cells:
        table.add_row(*(row[index] for index in kept))
    console.print(table)
    dropped = [column.header for index, column in enumerate(columns) if index not in kept]
    if dropped:
        console.print(f"[dim]Left out to fit the width: {', '.join(dropped)}; "
                      "--format csv or json has every column.[/]")
        console.print()


def small_table(title: str, *headers: str, left: Collection[str] = ()) -> Table:
    """A titled table whose first column and the columns named in ``left`` are justified left,
    the numbers right."""
    table = Table(title=title, box=box.SIMPLE_HEAD, title_justify="left", title_style="bold")
    for index, header in enumerate(headers):
        table.add_column(header, justify="left" if index == 0 or header in left else "right", overflow="fold")
    return table


def grade_text(grade: str) -> Text:
    return Text(grade, style=GRADE_STYLES.get(grade, ""))


def _files(count: int) -> str:
    return f"{count:,} file" if count == 1 else f"{count:,} files"


def _share(count: int, total: int) -> str:
    return f"{100 * count / total:.0f}%" if total else "-"


def print_summary(console: Console, summary: Summary) -> None:
    console.print(
        f"[bold]{_files(summary.files)}[/]: {summary.assessed:,} assessed, "
        f"{summary.failed:,} failed, {summary.empty:,} empty; {summary.bytes:,} bytes, "
        f"{summary.total_lines:,} lines ({summary.effective_lines:,} effective)"
    )
    console.print()

    grades = small_table("Files per grade", "Grade", "Files", "Share")
    for grade, count in summary.grades.items():
        grades.add_row(grade_text(grade), f"{count:,}",
                       _share(count, summary.assessed))
    console.print(grades)

    turns = small_table("Turn budgets", "Phase", "Turns")
    for phase, count in summary.turns.items():
        turns.add_row(phase, f"{count:,}")
    turns.add_row(Text("total", style="bold"), f"{sum(summary.turns.values()):,}")
    console.print(turns)

    if summary.chunked:
        chunked = small_table(f"Read in chunks ({_files(len(summary.chunked))})", "File", "Lines",
                               "Sections")
        for entry in summary.chunked:
            chunked.add_row(str(entry["path"]), f"{entry['total_lines']:,}", str(entry["sections"]))
        console.print(chunked)
    else:
        console.print("[bold]Read in chunks[/]: none, every file can be read whole.")
        console.print()

    if summary.categories:
        categories = small_table("Construct categories", "Category", "Files", "Share")
        for entry in summary.categories:
            count = int(entry["files"])  # type: ignore[call-overload]
            categories.add_row(str(entry["category"]), f"{count:,}", _share(count, summary.assessed))
        console.print(categories)

    if summary.dialects:
        dialects = small_table("Dialect mix", "Dialect", "Files", "Share")
        for entry in summary.dialects:
            count = int(entry["files"])  # type: ignore[call-overload]
            dialects.add_row(str(entry["dialect"]), f"{count:,}", _share(count, summary.assessed))
        console.print(dialects)

    if summary.skipped:
        kinds = ", ".join(f"{extension} {count:,}" for extension, count in summary.skipped.items())
        console.print(f"[bold]Not SQL by name, left out[/] ({_files(sum(summary.skipped.values()))}): {kinds}")
        console.print()

    if summary.failures:
        failures = small_table(f"Could not be read ({_files(len(summary.failures))})", "File",
                               "Reason", left={"Reason"})
        for failure in summary.failures:
            failures.add_row(failure["path"], Text(failure["reason"], style="red"))
        console.print(failures)


# ---- reports written as the rows come ----------------------------------------------------------

_encode = json.JSONEncoder(ensure_ascii=False).encode


class StreamedReport:
    """A report written row by row, so that an estate of any size costs the memory of its summary
    only. ``row`` takes rows as tuples in the order of REPORT_FIELDS."""

    def __init__(self, out: IO[str], objects: bool = False) -> None:
        self.out = out
        # With the objects the files define (assess --objects): they come to finish().
        self.objects = objects

    def row(self, row: Sequence[object]) -> None:
        raise NotImplementedError

    def objects_of_row(self, rows: Sequence[dict[str, object]]) -> None:
        """The object rows of the file whose row came last; most formats keep them for finish()."""

    def finish(self, summary: Summary, objects: Sequence[dict[str, object]] | None = None) -> None:
        pass

    @staticmethod
    def _summary(summary: Summary, objects: Sequence[dict[str, object]] | None) -> dict[str, object]:
        document = summary.as_dict()
        if objects is not None:
            from .objects import summarize_objects

            document["objects"] = summarize_objects(objects)
        return document


class JsonLinesReport(StreamedReport):
    """One object per line: ``{"row": "file", ...}`` per file, then ``{"row": "summary", ...}``
    last, so that a reader can tell a finished stream from a cut one."""

    def __init__(self, out: IO[str], objects: bool = False) -> None:
        super().__init__(out, objects)
        # Line by line to a person watching; in blocks to a file or a pipe.
        self._live = out.isatty()

    def row(self, row: Sequence[object]) -> None:
        record: dict[str, object] = {"row": "file"}
        record.update(zip(REPORT_FIELDS, row))
        self._line(record)

    def objects_of_row(self, rows: Sequence[dict[str, object]]) -> None:
        # Each file's objects follow its own row.
        for row in rows:
            self._line(row)

    def _line(self, record: dict[str, object]) -> None:
        self.out.write(_encode(record) + "\n")
        if self._live:
            self.out.flush()

    def finish(self, summary: Summary, objects: Sequence[dict[str, object]] | None = None) -> None:
        self.out.write(_encode({"row": "summary", **self._summary(summary, objects)}) + "\n")


class JsonReport(StreamedReport):
    """The document write_json gives for ``{"files": rows, "summary": summary}``, written as the
    rows come."""

    def __init__(self, out: IO[str], objects: bool = False) -> None:
        super().__init__(out, objects)
        self._separator = '{\n  "files": [\n    '

    def row(self, row: Sequence[object]) -> None:
        self.out.write(self._separator + _encode(dict(zip(REPORT_FIELDS, row))))
        self._separator = ",\n    "

    def finish(self, summary: Summary, objects: Sequence[dict[str, object]] | None = None) -> None:
        head = '{\n  "files": []' if self._separator.startswith("{") else "\n  ]"
        self.out.write(f'{head},\n  "summary": {_json_text(self._summary(summary, objects), 1)}')
        if objects is not None:
            self.out.write(f',\n  "objects": {_json_text(list(objects), 1)}')
        self.out.write("\n}\n")


class CsvReport(StreamedReport):
    """The file rows; with the objects, the object rows instead."""

    def __init__(self, out: IO[str], objects: bool = False) -> None:
        super().__init__(out, objects)
        self._writer = csv.writer(out)
        if not objects:
            self._writer.writerow(REPORT_FIELDS)

    def row(self, row: Sequence[object]) -> None:
        if not self.objects:
            self._writer.writerow([_csv_cell(value) for value in row])

    def finish(self, summary: Summary, objects: Sequence[dict[str, object]] | None = None) -> None:
        if objects is not None:
            from .objects import OBJECT_FIELDS

            write_csv(objects, OBJECT_FIELDS, self.out)


class TableReport(StreamedReport):
    """Tables for people: the widths depend on every row, so the rows are kept."""

    def __init__(self, out: IO[str], objects: bool = False) -> None:
        super().__init__(out, objects)
        self._reports: list[FileReport] = []

    def row(self, row: Sequence[object]) -> None:
        self._reports.append(FileReport(*row))  # type: ignore[arg-type]

    def finish(self, summary: Summary, objects: Sequence[dict[str, object]] | None = None) -> None:
        console = console_for(self.out)
        if self._reports:
            print_files(console, self._reports, ASSESS_COLUMNS, "SQL files", ASSESS_CAPTION)
        print_summary(console, summary)
        if objects is not None:
            from .objects import print_object_summary, print_objects, summarize_objects

            print_objects(console, objects)
            print_object_summary(console, summarize_objects(objects))


STREAMED_REPORTS: dict[str, Callable[..., StreamedReport]] = {
    "json": JsonReport,
    "jsonl": JsonLinesReport,
    "csv": CsvReport,
    "table": TableReport,
}
