"""Finding, reading and assessing the SQL files of an estate."""

from __future__ import annotations

import fnmatch
import heapq
import os
import re
import stat
from collections import Counter
from collections.abc import Callable, Iterable, Iterator, Sequence
from dataclasses import asdict, dataclass, field, fields
from pathlib import Path
from typing import Any

from agents.tessera.complexity import ComplexityResult, SQLComplexity, classify_sql, plan_reading_strategy
from agents.tessera.reference_curator import detect_construct_categories

from .dialect import dialect_mix, dialect_of


class UnreadableFile(Exception):
    """A file that cannot be assessed; the message is the one-line reason shown to the user."""


def _reason(error: OSError) -> str:
    text = error.strerror or str(error)
    return text[:1].lower() + text[1:]


def _without_blocking(path: str, flags: int) -> int:
    # A FIFO named *.sql would otherwise block the open until some writer turned up.
    return os.open(path, flags | os.O_NONBLOCK)


def read_bytes(path: Path | str) -> bytes:
    try:
        with open(path, "rb", opener=_without_blocking) as stream:
            if not stat.S_ISREG(os.fstat(stream.fileno()).st_mode):
                raise UnreadableFile("not a regular file")
            return stream.read()
    except OSError as error:
        raise UnreadableFile(_reason(error)) from error


def decode_text(data: bytes) -> str:
    """The text that the host's ``Path.read_text(encoding="utf-8")`` would deliver for ``data``.

    Decoding here rather than through ``read_text`` lets a bad byte be reported by its value and
    offset, and lets one read of the file feed every question asked about it.
    """
    # Universal newlines, as the modules' own file entry points read text; without this a CRLF
    # script would get other line and comment counts here than from them. Done on the bytes, where
    # it is several times cheaper than on the text and gives the same result: in UTF-8 a CR or LF
    # byte is always a whole character.
    translated = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n") if b"\r" in data else data
    try:
        return translated.decode("utf-8")
    except UnicodeDecodeError as error:
        failure = error
    if translated is not data:
        # The reason names the offset in the file's own bytes, before line ends were translated.
        try:
            data.decode("utf-8")
        except UnicodeDecodeError as error:
            failure = error
    raise UnreadableFile(
        f"not valid UTF-8 (byte 0x{data[failure.start]:02x} at offset {failure.start})"
    ) from failure


def read_sql_sized(path: Path | str) -> tuple[str, int]:
    """The text of the script at ``path`` as ``read_text(encoding="utf-8")`` gives it, and the
    file's size in bytes.

    Read through a text stream: its decoder translates line ends while decoding, which is
    markedly cheaper than translating and decoding apart, and that work holds the GIL that the
    other jobs are waiting for.
    """
    try:
        with open(path, encoding="utf-8", opener=_without_blocking) as stream:
            status = os.fstat(stream.fileno())
            if not stat.S_ISREG(status.st_mode):
                raise UnreadableFile("not a regular file")
            return stream.read(), status.st_size
    except OSError as error:
        raise UnreadableFile(_reason(error)) from error
    except UnicodeDecodeError:
        # The stream's decoder counts offsets within its last chunk; the reason should name the
        # offset within the file.
        data = read_bytes(path)
        return decode_text(data), len(data)


def read_sql(path: Path | str) -> str:
    return read_sql_sized(path)[0]


class DecodedFile:
    """Something with ``read_text`` that hands the planner the text already read, so the plan
    comes from the same bytes as the grade and the file is not opened twice."""

    __slots__ = ("_text",)

    def __init__(self, text: str) -> None:
        self._text = text

    def read_text(self, encoding: str = "utf-8") -> str:
        return self._text


def shown(path: Path) -> str:
    """The path as reports show it: posix style, with any byte that is not UTF-8 in a file name
    written as an escape rather than failing the report's encoding."""
    return path.as_posix().encode("utf-8", "backslashreplace").decode("utf-8")


# What an estate is made of when no pattern is given: every extension under which SQL scripts are
# kept (T-SQL, Hive, Oracle packages and triggers, Teradata scripts), matched whatever the case.
SQL_EXTENSIONS: tuple[str, ...] = (
    ".sql", ".hql", ".q", ".ddl", ".dml", ".prc", ".fnc", ".trg", ".vw",
    ".pks", ".pkb", ".pls", ".pck", ".plsql", ".bteq", ".btq",
)


def name_filter(patterns: Sequence[str] | None = None) -> Callable[[str], bool]:
    """Whether a file name belongs to the estate: it ends with one of SQL_EXTENSIONS, or, when
    patterns are given, matches any of them; either way without regard to case."""
    if not patterns:
        return lambda name: name.lower().endswith(SQL_EXTENSIONS)
    # File names, not scripts: the shell-style patterns become one case-insensitive expression.
    matcher = re.compile("|".join(fnmatch.translate(p) for p in patterns), re.IGNORECASE)
    return lambda name: matcher.match(name) is not None


def extension_of(name: str) -> str:
    return os.path.splitext(name)[1].lower() or "(none)"


@dataclass(frozen=True, slots=True)
class Target:
    path: Path | str
    display: str
    # Set when the file was known to be unreachable while the estate was listed.
    error: str | None = None


def _shown_name(name: str) -> str:
    return name.encode("utf-8", "backslashreplace").decode("utf-8")


def _walk(root: Path, accept: Callable[[str], bool], skipped: Callable[[str, str], None]) -> Iterator[Target]:
    """The targets under the folder ``root`` in the order of their shown paths, one folder's
    listing held at a time.

    Sorting each folder's entries by name, a folder's by its name and a slash, yields whole paths
    in sorted order: everything under ``a/b/`` sorts together, between the names that sort before
    and after ``b/``. A folder whose name matches is also a target of its own (it fails as "is a
    directory" rather than vanish from an estate that claims to list every match).
    """
    # Each level: its folder on disk, its shown path with a slash, and an iterator over its
    # entries as (sort key, kind, name) in key order; kind 0 is a target, 1 a folder to go into.
    # Only the names are held, not the listing's entries: a folder of a million scripts costs
    # their names.
    Level = tuple[str, str, Iterator[tuple[str, int, str]]]
    stack: list[Level] = [("", "", iter([("", 1, os.fspath(root))]))]
    root_shown = shown(root)
    while stack:
        folder, prefix, entries = stack[-1]
        entry = next(entries, None)
        if entry is None:
            stack.pop()
            continue
        key, kind, name = entry
        path = os.path.join(folder, name) if folder else name
        display = prefix + key.removesuffix("/") if folder else root_shown
        if kind == 0:
            yield Target(path, display)
            continue
        listed: list[tuple[str, int, str]] = []
        try:
            with os.scandir(path) as listing:
                for item in listing:
                    item_name = item.name
                    try:
                        # A link to a folder is a folder here, as os.walk has it, but is not followed.
                        is_folder = item.is_dir()
                        descend = is_folder and not item.is_symlink()
                    except OSError:
                        is_folder = descend = False
                    item_key = _shown_name(item_name)
                    if accept(item_name):
                        listed.append((item_key, 0, item_name))
                    elif not is_folder:
                        skipped(item.path, item_name)
                    if descend:
                        listed.append((item_key + "/", 1, item_name))
        except OSError as error:
            yield Target(path, display, f"cannot list directory: {_reason(error)}")
            continue
        listed.sort()
        # As Path joins them: "." adds nothing in front of a name, "/" no second slash.
        inner = "" if display == "." else display if display.endswith("/") else display + "/"
        stack.append((path, inner, iter(listed)))


def _overlap(roots: Sequence[str]) -> bool:
    """Whether any root is another or lies inside another. With a separator on each, the roots
    inside a folder sort right after it, so neighbours tell."""
    keys = sorted(root if root.endswith(os.sep) else root + os.sep for root in roots)
    return any(after.startswith(before) for before, after in zip(keys, keys[1:]))


def discover(
    paths: Sequence[str],
    patterns: Sequence[str] | str | None = None,
    skipped: Counter[str] | None = None,
) -> Iterator[Target]:
    """Every file under ``paths`` whose name passes name_filter(patterns), once each, in the
    order of their shown paths. Files of other names are counted by extension into ``skipped``.

    A path given explicitly is taken whatever its name, and one that does not exist still gets a
    target, so that it is reported rather than silently skipped. The listing is lazy: memory holds
    one folder's entries per level, not the estate.
    """
    accept = name_filter([patterns] if isinstance(patterns, str) else patterns)
    counted = skipped if skipped is not None else Counter()
    roots = [Path(given) for given in paths]
    absolute = [os.path.abspath(root) for root in roots]
    seen: set[str] | None = set() if _overlap(absolute) else None

    def skip(path: str, name: str) -> None:
        if seen is not None:
            # The same folder listed twice must not count its files twice.
            where = os.path.abspath(path)
            if where in seen:
                return
            seen.add(where)
        counted[extension_of(name)] += 1

    def from_root(root: Path) -> Iterator[Target]:
        if root.is_dir():
            yield from _walk(root, accept, skip)
        else:
            yield Target(root, shown(root))

    if seen is None:
        yield from heapq.merge(*(from_root(root) for root in roots), key=lambda target: target.display)
        return
    # Overlapping roots (a folder and a file in it, say): the estate is gathered whole so that each
    # file is taken once, under the path it was first reached by.
    targets: dict[str, Target] = {}
    for root in roots:
        for target in from_root(root):
            targets.setdefault(os.path.abspath(target.path), target)
    yield from sorted(targets.values(), key=lambda target: target.display)


@dataclass(frozen=True, slots=True)
class FileReport:
    """One row of the estate report; a file that could not be read has only ``path`` and
    ``error``."""

    path: str
    bytes: int | None = None
    empty: bool | None = None
    total_lines: int | None = None
    effective_lines: int | None = None
    grade: str | None = None
    stored_proc_count: int | None = None
    complex_construct_count: int | None = None
    moderate_construct_count: int | None = None
    temp_table_count: int | None = None
    cte_count: int | None = None
    analysis_turns: int | None = None
    conversion_turns: int | None = None
    audit_turns: int | None = None
    chunked: bool | None = None
    sections: int | None = None
    categories: tuple[str, ...] | None = None
    dialect: str | None = None
    error: str | None = None

    @property
    def failed(self) -> bool:
        return self.error is not None

    def as_tuple(self) -> tuple[object, ...]:
        return tuple(getattr(self, name) for name in REPORT_FIELDS)

    def as_row(self) -> dict[str, object]:
        # Flat on purpose: dataclasses.asdict copies deeply and costs more than the scans do.
        row = {name: getattr(self, name) for name in REPORT_FIELDS}
        if self.categories is not None:
            row["categories"] = list(self.categories)
        return row


REPORT_FIELDS: tuple[str, ...] = tuple(field.name for field in fields(FileReport))


def graded_fields(result: ComplexityResult) -> dict[str, object]:
    """The fields a report row takes from a grading, named as the rows name them, in the order
    of the object rows (a file row takes them by name)."""
    return {
        "grade": str(result.complexity),
        "effective_lines": result.effective_lines,
        "stored_proc_count": result.stored_proc_count,
        "complex_construct_count": result.complex_construct_count,
        "moderate_construct_count": result.moderate_construct_count,
        "temp_table_count": result.temp_table_count,
        "cte_count": result.cte_count,
        "analysis_turns": result.recommended_analysis_turns,
        "conversion_turns": result.recommended_conversion_turns,
        "audit_turns": result.recommended_audit_turns,
    }


def _graded(text: str) -> dict[str, object]:
    return graded_fields(classify_sql(text))


def classify_file(target: Target) -> FileReport:
    """The grade, counts and budgets of one file, without its reading plan or categories."""
    try:
        return FileReport(target.display, **_graded(read_sql(target.path)))  # type: ignore[arg-type]
    except UnreadableFile as error:
        return FileReport(target.display, error=str(error))


def assess_file(target: Target) -> FileReport:
    if target.error is not None:
        return FileReport(target.display, error=target.error)
    try:
        text, size = read_sql_sized(target.path)
    except UnreadableFile as error:
        return FileReport(target.display, error=str(error))
    try:
        plan = plan_reading_strategy(DecodedFile(text))  # type: ignore[arg-type]  # it has read_text
        return FileReport(
            target.display,
            bytes=size,
            empty=size == 0,
            total_lines=plan.total_lines,
            chunked=plan.should_chunk,
            sections=len(plan.section_boundaries),
            categories=tuple(sorted(detect_construct_categories(text))),
            dialect=dialect_of(text),
            **_graded(text),  # type: ignore[arg-type]
        )
    except Exception as error:  # noqa: BLE001
        # One script that breaks the analysis (out of memory, say) must not cost the report of
        # the thousands already done; it is listed as failed like an unreadable one.
        return FileReport(target.display, error=f"analysis failed: {type(error).__name__}: {error}")


def assess_all(
    targets: Iterable[Target], jobs: int, on_done: Callable[[], None] | None = None
) -> Iterator[FileReport]:
    """The reports of ``targets`` in their order, worked out by the native batch (the rows of
    assess_file, without the GIL); ``on_done`` is called once per report."""
    from .rows import assess_rows

    for row in assess_rows(targets, jobs):
        if on_done is not None:
            on_done()
        yield FileReport(*row)  # type: ignore[arg-type]  # a row is the fields in order


@dataclass(frozen=True, slots=True)
class Summary:
    files: int
    assessed: int
    failed: int
    empty: int
    bytes: int
    total_lines: int
    effective_lines: int
    grades: dict[str, int]
    turns: dict[str, int]
    chunked: list[dict[str, object]]
    categories: list[dict[str, object]]
    dialects: list[dict[str, object]]
    failures: list[dict[str, str]]
    # Files under the folders whose names are not those of scripts, by extension: left out, but
    # never without the user knowing.
    skipped: dict[str, int] = field(default_factory=dict)

    def as_dict(self) -> dict[str, object]:
        return asdict(self)


_AT = {name: index for index, name in enumerate(REPORT_FIELDS)}
_PATH, _BYTES, _EMPTY, _TOTAL = 0, _AT["bytes"], _AT["empty"], _AT["total_lines"]
_EFFECTIVE, _GRADE = _AT["effective_lines"], _AT["grade"]
_ANALYSIS, _CONVERSION, _AUDIT = _AT["analysis_turns"], _AT["conversion_turns"], _AT["audit_turns"]
_CHUNKED, _SECTIONS, _CATEGORIES, _ERROR = _AT["chunked"], _AT["sections"], _AT["categories"], _AT["error"]
_DIALECT = _AT["dialect"]


class SummaryBuilder:
    """The summary of an estate, taken row by row as the rows stream past, so that nothing but
    the chunked files and the failures is kept."""

    def __init__(self) -> None:
        self.files = 0
        self.failed = 0
        self.empty = 0
        self.bytes = 0
        self.total_lines = 0
        self.effective_lines = 0
        self.grades: Counter[str] = Counter()
        self.turns = [0, 0, 0]
        self.chunked: list[dict[str, object]] = []
        self.category_sets: Counter[tuple[str, ...]] = Counter()
        self.failures: list[dict[str, str]] = []
        self.dialects: Counter[str] = Counter()

    def add(self, row: Sequence[Any]) -> None:
        """One row, as a tuple in the order of REPORT_FIELDS."""
        self.files += 1
        error = row[_ERROR]
        if error is not None:
            self.failed += 1
            self.failures.append({"path": row[_PATH], "reason": error})
            return
        # A report made by hand may leave numbers out; they count as nothing, as before.
        size, lines = row[_BYTES] or 0, row[_TOTAL] or 0
        if row[_EMPTY]:
            self.empty += 1
        self.bytes += size
        self.total_lines += lines
        self.effective_lines += row[_EFFECTIVE] or 0
        self.grades[row[_GRADE]] += 1
        turns = self.turns
        turns[0] += row[_ANALYSIS] or 0
        turns[1] += row[_CONVERSION] or 0
        turns[2] += row[_AUDIT] or 0
        if row[_CHUNKED]:
            self.chunked.append({"path": row[_PATH], "total_lines": lines, "sections": row[_SECTIONS]})
        # Rows share one tuple per set of categories, so counting the sets is cheap; they are
        # spread over the categories once, at the end.
        self.category_sets[row[_CATEGORIES] or ()] += 1
        if row[_DIALECT] is not None:
            self.dialects[row[_DIALECT]] += 1

    def summary(self, skipped: Counter[str] | None = None) -> Summary:
        categories: Counter[str] = Counter()
        for names, count in self.category_sets.items():
            for name in names:
                categories[name] += count
        return Summary(
            files=self.files,
            assessed=self.files - self.failed,
            failed=self.failed,
            empty=self.empty,
            bytes=self.bytes,
            total_lines=self.total_lines,
            effective_lines=self.effective_lines,
            grades={grade.value: self.grades[grade.value] for grade in SQLComplexity},
            turns=dict(zip(("analysis", "conversion", "audit"), self.turns)),
            chunked=self.chunked,
            categories=[
                {"category": category, "files": count}
                for category, count in sorted(categories.items(), key=lambda item: (-item[1], item[0]))
            ],
            dialects=dialect_mix(self.dialects.elements()),
            failures=self.failures,
            skipped=dict(sorted((skipped or {}).items(), key=lambda item: (-item[1], item[0]))),
        )


def summarize(reports: Iterable[FileReport], skipped: Counter[str] | None = None) -> Summary:
    builder = SummaryBuilder()
    for report in reports:
        builder.add(report.as_tuple())
    return builder.summary(skipped)
