"""The estate as the report shows it: the per-file results ``assess`` computes, the dialect and
object results when those modules are installed, and the aggregates the charts draw."""

from __future__ import annotations

import importlib
from collections import Counter, defaultdict
from collections.abc import Callable, Iterable, Mapping, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any

from ..estate import FileReport, Summary, Target, UnreadableFile, assess_all, read_sql, summarize

GRADES = ("simple", "moderate", "complex")
PHASES = ("analysis", "conversion", "audit")
UNDECIDED = "undecided"
# Beyond this many folders the turns chart groups the smallest, so that a wide estate still reads.
MAX_FOLDERS = 30
# Beyond this many distinct points the scatter rounds effective lines, so that the page stays
# light on any estate while the large files, the outliers, stay where they are.
MAX_POINTS = 4000
HARDEST = 20


def _optional(module: str) -> Any:
    """The module if it is installed; a report made before it lands leaves its part out."""
    try:
        return importlib.import_module(module)
    except ImportError:
        return None


@dataclass(slots=True)
class ObjectRow:
    path: str
    kind: str
    name: str
    statement: str
    first_line: int
    last_line: int
    grade: str
    effective_lines: int
    analysis_turns: int
    conversion_turns: int
    audit_turns: int


def _get(item: Any, key: str, default: Any = None) -> Any:
    if isinstance(item, Mapping):
        return item.get(key, default)
    return getattr(item, key, default)


def object_row(path: str, item: Any) -> ObjectRow:
    """One object, whether it comes as the inventory module's graded record (``object`` and
    ``result``) or as the flat row that ``assess --objects`` writes."""
    obj = _get(item, "object", item)
    result = _get(item, "result", None)

    def number(key: str, result_key: str) -> int:
        if result is not None:
            value = getattr(result, result_key)
        else:
            value = _get(item, key, 0)
        return int(value or 0)

    grade = _get(result, "complexity") if result is not None else _get(item, "grade")
    return ObjectRow(
        path=path,
        kind=str(_get(obj, "kind", "") or ""),
        name=str(_get(obj, "name", "") or ""),
        statement=str(_get(obj, "statement", "") or ""),
        first_line=int(_get(obj, "first_line", 0) or 0),
        last_line=int(_get(obj, "last_line", 0) or 0),
        grade=str(grade or ""),
        effective_lines=number("effective_lines", "effective_lines"),
        analysis_turns=number("analysis_turns", "recommended_analysis_turns"),
        conversion_turns=number("conversion_turns", "recommended_conversion_turns"),
        audit_turns=number("audit_turns", "recommended_audit_turns"),
    )


@dataclass(slots=True)
class Estate:
    files: list[FileReport]
    summary: Summary
    # None where the module that answers is not installed (and the reports do not carry it).
    dialects: list[str | None] | None = None
    objects: list[ObjectRow] | None = None


class _Extras:
    """The dialect and object questions, asked of a file only where ``assess`` did not already
    answer them."""

    def __init__(self, detect: Callable[[str], Any] | None, inventory: Callable[[str], Any] | None) -> None:
        self.detect = detect
        self.inventory = inventory

    def __call__(self, target: Target, report: FileReport) -> tuple[str | None, list[Any] | None]:
        dialect = getattr(report, "dialect", None)
        objects = getattr(report, "objects", None)
        if report.failed:
            return dialect, objects
        need_dialect = dialect is None and self.detect is not None
        need_objects = objects is None and self.inventory is not None
        if not (need_dialect or need_objects):
            return dialect, objects
        try:
            text = read_sql(target.path)
        except UnreadableFile:
            # Changed since it was assessed; the row keeps what assess found.
            return dialect, objects
        # As in assess: one script that breaks a module must not cost the report of the rest; the
        # file keeps its row, without that module's answer.
        if need_dialect:
            try:
                dialect = self.detect(text).platform or UNDECIDED  # type: ignore[misc]
            except Exception:  # noqa: BLE001
                dialect = None
        if need_objects:
            try:
                objects = list(self.inventory(text))  # type: ignore[misc]
            except Exception:  # noqa: BLE001
                objects = None
        return dialect, objects


def _has_field(name: str) -> bool:
    return name in getattr(FileReport, "__dataclass_fields__", {})


def collect(
    targets: Sequence[Target],
    jobs: int,
    on_done: Callable[[], None] | None = None,
    *,
    modules: Mapping[str, Any] | None = None,
) -> Estate:
    """Assess the estate as ``assess`` does, then add what the optional modules say.

    ``modules`` replaces the import of the optional modules (for a report made as though one of
    them were missing).
    """
    found = (
        dict(modules)
        if modules is not None
        else {
            "dialect_detect": _optional("agents.tessera.dialect_detect"),
            "inventory": _optional("agents.tessera.inventory"),
        }
    )
    detect_module = found.get("dialect_detect")
    inventory_module = found.get("inventory")
    extras = _Extras(
        getattr(detect_module, "detect_dialect", None),
        getattr(inventory_module, "grade_objects", None),
    )
    # Gone through twice (assessed, then asked the optional questions): a lazy listing is held.
    targets = list(targets)
    files = list(assess_all(targets, jobs, on_done))
    want_dialect = _has_field("dialect") or extras.detect is not None
    want_objects = _has_field("objects") or extras.inventory is not None

    dialects: list[str | None] | None = None
    objects: list[ObjectRow] | None = None
    if want_dialect or want_objects:
        with ThreadPoolExecutor(max_workers=jobs, thread_name_prefix="tessera-report") as pool:
            answers = list(pool.map(extras, targets, files))
        if want_dialect:
            dialects = [None if report.failed else (dialect or UNDECIDED) for report, (dialect, _) in zip(files, answers)]
        if want_objects:
            objects = [
                object_row(report.path, item)
                for report, (_, found_objects) in zip(files, answers)
                for item in found_objects or ()
            ]
    return Estate(files, summarize(files), dialects, objects)


def top_folder(paths: Sequence[str]) -> list[str]:
    """The top-level folder of each path within the estate: the first folder below the one that
    all of them share, or that shared folder itself for the files directly in it."""
    parts = [path.split("/") for path in paths]
    folders = [p[:-1] for p in parts]
    common = 0
    if folders:
        shortest = min(folders, key=len)
        while common < len(shortest) and all(f[common] == shortest[common] for f in folders):
            common += 1
    base = "/".join(folders[0][:common]) + "/" if folders and common else "./"
    return [base + f[common] + "/" if len(f) > common else base for f in folders]


def _turns_by_folder(estate: Estate) -> dict[str, Any]:
    totals: dict[str, list[int]] = defaultdict(lambda: [0, 0, 0])
    for report, folder in zip(estate.files, top_folder([r.path for r in estate.files])):
        if report.failed:
            continue
        row = totals[folder]
        row[0] += report.analysis_turns or 0
        row[1] += report.conversion_turns or 0
        row[2] += report.audit_turns or 0
    ranked = sorted(totals.items(), key=lambda item: (-sum(item[1]), item[0]))
    if len(ranked) > MAX_FOLDERS:
        rest = ranked[MAX_FOLDERS - 1 :]
        merged = [sum(row[i] for _, row in rest) for i in range(3)]
        ranked = ranked[: MAX_FOLDERS - 1] + [(f"({len(rest)} other folders)", merged)]
    return {
        "folders": [name for name, _ in ranked],
        **{phase: [row[i] for _, row in ranked] for i, phase in enumerate(PHASES)},
    }


def _points(estate: Estate) -> dict[str, Any]:
    """Effective lines against conversion turns, one point per distinct (grade, lines, turns),
    with the number of files behind it and one of their paths."""

    def gather(step: Callable[[int], int]) -> dict[tuple[int, int, int], list[int]]:
        seen: dict[tuple[int, int, int], list[int]] = {}
        for index, report in enumerate(estate.files):
            if report.failed:
                continue
            lines = report.effective_lines or 0
            key = (GRADES.index(report.grade or "simple"), step(lines), report.conversion_turns or 0)
            if key in seen:
                entry = seen[key]
                entry[0] += 1
                entry[2] += lines
            else:
                seen[key] = [1, index, lines]
        return seen

    seen = gather(lambda lines: lines)
    digits = 3
    while len(seen) > MAX_POINTS and digits > 0:
        # Merged by a few significant digits of their lines: small files merge, large ones stay
        # apart, and each point stands at the mean of the files behind it.
        def step(lines: int, digits: int = digits) -> int:
            scale = 10 ** max(0, len(str(lines)) - digits)
            return lines - lines % scale

        seen = gather(step)
        digits -= 1
    keys = sorted(seen)
    return {
        "g": [k[0] for k in keys],
        "e": [round(seen[k][2] / seen[k][0]) for k in keys],
        "c": [k[2] for k in keys],
        "n": [seen[k][0] for k in keys],
        "f": [seen[k][1] for k in keys],
    }


def hardest(objects: Iterable[ObjectRow], count: int = HARDEST) -> list[ObjectRow]:
    """The objects with the most conversion turns, then the most effective lines."""
    return sorted(objects, key=lambda o: (-o.conversion_turns, -o.effective_lines, o.path, o.first_line))[:count]


def _index(values: Iterable[str]) -> tuple[list[str], dict[str, int]]:
    names = sorted(set(values))
    return names, {name: i for i, name in enumerate(names)}


def columnar(estate: Estate) -> dict[str, Any]:
    """Everything the page needs, once: the files as parallel arrays (a folder table and the
    names within it, codes for grades, dialects, categories and failure reasons), and the chart
    aggregates.

    One object per row would repeat every key a hundred thousand times; arrays of small numbers
    keep a large estate's page a few megabytes.
    """
    files = estate.files
    summary = estate.summary
    dirs, dir_index = _index(r.path.rpartition("/")[0] for r in files)
    category_names = [c["category"] for c in summary.categories]
    category_bit = {name: i for i, name in enumerate(category_names)}
    reasons, reason_index = _index(r.error or "" for r in files if r.failed)
    dialect_names: list[str] | None = None
    dialect_codes: list[int] | None = None
    dialect_mix: dict[str, list[Any]] | None = None
    if estate.dialects is not None:
        counts = Counter(d for d in estate.dialects if d is not None)
        dialect_names = sorted(counts, key=lambda d: (d == UNDECIDED, -counts[d], d))
        code = {d: i for i, d in enumerate(dialect_names)}
        dialect_codes = [-1 if d is None else code[d] for d in estate.dialects]
        dialect_mix = {"names": dialect_names, "files": [counts[d] for d in dialect_names]}

    def masks(report: FileReport) -> int | list[int]:
        bits = [category_bit[c] for c in report.categories or ()]
        # Past 52 categories a bit mask would lose precision as a JavaScript number.
        if len(category_names) > 52:
            return bits
        return sum(1 << b for b in bits)

    def col(name: str) -> list[int]:
        return [getattr(r, name) or 0 for r in files]

    data: dict[str, Any] = {
        "tiles": {
            "files": summary.files,
            "assessed": summary.assessed,
            "objects": None if estate.objects is None else len(estate.objects),
            "total_lines": summary.total_lines,
            "effective_lines": summary.effective_lines,
            "turns": summary.turns,
            "chunked": len(summary.chunked),
            "failed": summary.failed,
        },
        "grades": list(GRADES),
        "categories": category_names,
        "dialects": dialect_names,
        "dirs": dirs,
        "reasons": reasons,
        "files": {
            "dir": [dir_index[r.path.rpartition("/")[0]] for r in files],
            "name": [r.path.rpartition("/")[2] for r in files],
            "grade": [-1 if r.failed else GRADES.index(r.grade or "simple") for r in files],
            "dialect": dialect_codes,
            "bytes": col("bytes"),
            "lines": col("total_lines"),
            "eff": col("effective_lines"),
            "ta": col("analysis_turns"),
            "tc": col("conversion_turns"),
            "tu": col("audit_turns"),
            "sections": [r.sections if r.chunked else 0 for r in files],
            "cats": [masks(r) for r in files],
            "error": [reason_index[r.error or ""] if r.failed else -1 for r in files],
        },
        "charts": {
            "grades": {
                "files": [summary.grades.get(g, 0) for g in GRADES],
                "objects": None
                if estate.objects is None
                else [sum(1 for o in estate.objects if o.grade == g) for g in GRADES],
            },
            "turns": _turns_by_folder(estate),
            "dialects": dialect_mix,
            "categories": {"names": category_names, "files": [c["files"] for c in summary.categories]},
            "points": _points(estate),
        },
        # Rows of the files above, by index: their paths and figures are not repeated.
        "chunked": [i for i, r in enumerate(files) if r.chunked and not r.failed],
        "failures": [i for i, r in enumerate(files) if r.failed],
        "hardest": None
        if estate.objects is None
        else [
            [o.path, o.kind, o.name, o.first_line, o.last_line, o.grade, o.effective_lines, o.conversion_turns]
            for o in hardest(estate.objects)
        ],
    }
    return data
