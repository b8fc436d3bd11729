"""The report as an Excel workbook: a summary with native charts, then the rows themselves."""

from __future__ import annotations

from collections.abc import Iterable, Sequence
from pathlib import Path
from typing import Any

import xlsxwriter
from xlsxwriter.worksheet import Worksheet

from .data import GRADES, PHASES, Estate, hardest
from .html import tiles as tile_list

# Excel's hard limit, header row included.
MAX_ROWS = 1_048_576


class _Sheets:
    """Rows written across as many sheets as the row limit needs: ``Files``, ``Files (2)``, ...
    each with the header, frozen, filtered and sized alike."""

    def __init__(
        self,
        book: xlsxwriter.Workbook,
        title: str,
        columns: Sequence[tuple[str, float, Any]],
        max_rows: int,
    ) -> None:
        self.book = book
        self.title = title
        self.columns = columns
        self.per_sheet = max_rows - 1
        self.header = book.add_format({"bold": True, "bg_color": "#F5F7FA", "bottom": 1})
        self.sheet: Worksheet | None = None
        self.sheets = 0
        self.row = 0

    def _open(self) -> None:
        self._close()
        self.sheets += 1
        name = self.title if self.sheets == 1 else f"{self.title} ({self.sheets})"
        sheet = self.book.add_worksheet(name)
        for col, (heading, width, fmt) in enumerate(self.columns):
            sheet.set_column(col, col, width, fmt)
            sheet.write_string(0, col, heading, self.header)
        sheet.freeze_panes(1, 0)
        self.sheet, self.row = sheet, 0

    def _close(self) -> None:
        if self.sheet is not None:
            self.sheet.autofilter(0, 0, max(self.row, 1), len(self.columns) - 1)

    def write(self, rows: Iterable[Sequence[Any]]) -> None:
        for values in rows:
            if self.sheet is None or self.row == self.per_sheet:
                self._open()
            self.row += 1
            for col, value in enumerate(values):
                if value is None:
                    continue
                if isinstance(value, str):
                    # Strings as strings, always: a file named "=HYPERLINK(...)" stays a name.
                    self.sheet.write_string(self.row, col, value)  # type: ignore[union-attr]
                else:
                    self.sheet.write_number(self.row, col, value)  # type: ignore[union-attr]

    def finish(self) -> None:
        if self.sheet is None:
            self._open()
        self._close()


def _summary(book: xlsxwriter.Workbook, estate: Estate, data: dict[str, Any]) -> None:
    sheet = book.add_worksheet("Summary")
    bold = book.add_format({"bold": True})
    title = book.add_format({"bold": True, "font_size": 14})
    count = book.add_format({"num_format": "#,##0"})
    sheet.set_column(0, 0, 28)
    sheet.set_column(1, 4, 14, count)
    sheet.write_string(0, 0, "SQL estate report", title)

    row = 2
    for tile in tile_list(data):
        if tile["key"] in ("turns",):
            continue
        sheet.write_string(row, 0, tile["label"])
        value = tile["value"]
        if value == "not available":
            sheet.write_string(row, 1, value)
        else:
            sheet.write_number(row, 1, int(value.replace(",", "")), count)
        row += 1

    def table(heading: Sequence[str], rows: Sequence[Sequence[Any]]) -> tuple[int, int]:
        nonlocal row
        row += 1
        for col, text in enumerate(heading):
            sheet.write_string(row, col, text, bold)
        first = row + 1
        for values in rows:
            row += 1
            for col, value in enumerate(values):
                if isinstance(value, str):
                    sheet.write_string(row, col, value)
                else:
                    sheet.write_number(row, col, value, count)
        return first, row

    charts = data["charts"]
    objects = charts["grades"]["objects"]
    grade_rows = [
        [g, charts["grades"]["files"][i]] + ([objects[i]] if objects is not None else []) for i, g in enumerate(GRADES)
    ]
    g_first, g_last = table(["grade", "files"] + (["objects"] if objects is not None else []), grade_rows)
    chart = book.add_chart({"type": "column"})
    for col, name in enumerate(["files", "objects"][: 2 if objects is not None else 1], start=1):
        chart.add_series({
            "name": name,
            "categories": ["Summary", g_first, 0, g_last, 0],
            "values": ["Summary", g_first, col, g_last, col],
            "data_labels": {"value": True},
        })
    chart.set_title({"name": "Files and objects per grade" if objects is not None else "Files per grade"})
    chart.set_legend({"position": "bottom"})
    sheet.insert_chart(2, 6, chart, {"x_scale": 1.1, "y_scale": 1.0})

    turns = charts["turns"]
    t_first, t_last = table(
        ["top-level folder", *PHASES],
        [[folder] + [turns[phase][i] for phase in PHASES] for i, folder in enumerate(turns["folders"])],
    )
    chart = book.add_chart({"type": "bar", "subtype": "stacked"})
    for col, phase in enumerate(PHASES, start=1):
        chart.add_series({
            "name": ["Summary", t_first - 1, col],
            "categories": ["Summary", t_first, 0, max(t_last, t_first), 0],
            "values": ["Summary", t_first, col, max(t_last, t_first), col],
        })
    chart.set_title({"name": "Agent turns per top-level folder"})
    chart.set_legend({"position": "bottom"})
    sheet.insert_chart(18, 6, chart, {"x_scale": 1.1, "y_scale": 1.2})

    dialects = charts["dialects"]
    if dialects is not None:
        d_first, d_last = table(["dialect", "files"], list(zip(dialects["names"], dialects["files"], strict=True)))
        chart = book.add_chart({"type": "pie"})
        chart.add_series({
            "name": "Dialect mix",
            "categories": ["Summary", d_first, 0, max(d_last, d_first), 0],
            "values": ["Summary", d_first, 1, max(d_last, d_first), 1],
            "data_labels": {"percentage": True, "category": True},
        })
        chart.set_title({"name": "Dialect mix"})
        sheet.insert_chart(36, 6, chart)
    else:
        row += 1
        sheet.write_string(row, 0, "dialects: not available")

    table(["category", "files"], [[c["category"], c["files"]] for c in estate.summary.categories])
    if estate.objects is not None:
        table(
            ["hardest object", "kind", "file", "conversion turns", "effective lines"],
            [[o.name, o.kind, o.path, o.conversion_turns, o.effective_lines] for o in hardest(estate.objects)],
        )


def write(estate: Estate, data: dict[str, Any], destination: Path, *, max_rows: int = MAX_ROWS) -> None:
    """Write the workbook to ``destination``.

    ``max_rows`` is Excel's row limit; it is a parameter so that the continuation sheets can be
    seen at work without a million rows.
    """
    book = xlsxwriter.Workbook(
        str(destination),
        {
            # Rows go out as they are written rather than piling up for a hundred thousand files.
            "constant_memory": True,
            # Names are data: nothing in them may turn into a formula, link or number.
            "strings_to_formulas": False,
            "strings_to_urls": False,
            "strings_to_numbers": False,
        },
    )
    count = book.add_format({"num_format": "#,##0"})
    text = book.add_format({})
    _summary(book, estate, data)

    dialects = estate.dialects
    file_columns: list[tuple[str, float, Any]] = [
        ("path", 60, text), ("grade", 10, text),
    ]
    if dialects is not None:
        file_columns.append(("dialect", 12, text))
    file_columns += [
        ("bytes", 12, count), ("lines", 10, count), ("effective lines", 10, count),
        ("stored procedures", 10, count), ("complex constructs", 10, count), ("moderate constructs", 10, count),
        ("temp tables", 10, count), ("CTEs", 8, count),
        ("analysis turns", 10, count), ("conversion turns", 10, count), ("audit turns", 10, count),
        ("sections", 10, count), ("categories", 50, text), ("error", 40, text),
    ]

    def file_rows() -> Iterable[list[Any]]:
        for index, r in enumerate(estate.files):
            row: list[Any] = [r.path, "failed" if r.failed else r.grade]
            if dialects is not None:
                row.append(dialects[index])
            row += [
                r.bytes, r.total_lines, r.effective_lines, r.stored_proc_count, r.complex_construct_count,
                r.moderate_construct_count, r.temp_table_count, r.cte_count,
                r.analysis_turns, r.conversion_turns, r.audit_turns,
                (r.sections if r.chunked else 0) if not r.failed else None,
                None if r.categories is None else ", ".join(r.categories),
                r.error,
            ]
            yield row

    sheets = _Sheets(book, "Files", file_columns, max_rows)
    sheets.write(file_rows())
    sheets.finish()

    if estate.objects is not None:
        objects = _Sheets(book, "Objects", [
            ("file", 50, text), ("kind", 12, text), ("name", 40, text), ("statement", 16, text),
            ("first line", 10, count), ("last line", 10, count), ("grade", 10, text), ("effective lines", 10, count),
            ("analysis turns", 10, count), ("conversion turns", 10, count), ("audit turns", 10, count),
        ], max_rows)
        objects.write(
            [o.path, o.kind, o.name, o.statement, o.first_line, o.last_line, o.grade, o.effective_lines,
             o.analysis_turns, o.conversion_turns, o.audit_turns]
            for o in estate.objects
        )
        objects.finish()

    failures = _Sheets(book, "Failures", [("path", 60, text), ("reason", 60, text)], max_rows)
    failures.write([f["path"], f["reason"]] for f in estate.summary.failures)
    failures.finish()
    book.close()

