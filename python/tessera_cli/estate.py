"""Finding, reading and assessing the SQL files of an estate."""

from __future__ import annotations

import fnmatch
import os
import stat
from collections import Counter
from collections.abc import Callable, Iterator, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import asdict, dataclass, fields
from pathlib import Path

from agents.tessera.complexity import SQLComplexity, classify_sql, plan_reading_strategy
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


def read_bytes(path: Path) -> bytes:
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


def read_sql_sized(path: Path) -> tuple[str, int]:
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


def read_sql(path: Path) -> str:
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


@dataclass(frozen=True, slots=True)
class Target:
    path: Path
    display: str
    # Set when the file was known to be unreachable while the estate was listed.
    error: str | None = None


def discover(paths: Sequence[str], pattern: str) -> list[Target]:
    """Every file under ``paths`` whose name matches ``pattern``, once each, sorted by path.

    A path given explicitly is taken whatever its name, and one that does not exist still gets a
    target, so that it is reported rather than silently skipped.
    """
    targets: dict[str, Target] = {}

    def add(target: Target) -> None:
        targets.setdefault(os.path.abspath(target.path), target)

    def unlistable(error: OSError) -> None:
        where = Path(error.filename)
        add(Target(where, shown(where), f"cannot list directory: {_reason(error)}"))

    for given in paths:
        root = Path(given)
        if not root.is_dir():
            add(Target(root, shown(root)))
            continue
        for folder, dirnames, filenames in os.walk(root, onerror=unlistable):
            # Directories whose names match are kept too: they fail as "is a directory" rather
            # than vanish from an estate that claims to list every match.
            for name in fnmatch.filter(dirnames + filenames, pattern):
                where = Path(folder, name)
                add(Target(where, shown(where)))
            dirnames.sort()
    return sorted(targets.values(), key=lambda target: target.display)


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

    def as_row(self) -> dict[str, object]:
        # Flat on purpose: dataclasses.asdict copies deeply and costs more than the scans do.
        row = {name: getattr(self, name) for name in REPORT_FIELDS}
        if self.categories is not None:
            row["categories"] = list(self.categories)
        return row


REPORT_FIELDS: tuple[str, ...] = tuple(field.name for field in fields(FileReport))


def _graded(text: str) -> dict[str, object]:
    result = classify_sql(text)
    return {
        "effective_lines": result.effective_lines,
        "grade": str(result.complexity),
        "stored_proc_count": result.stored_proc_count,
        "complex_construct_count": result.complex_construct_count,
        "moderate_construct_count": result.moderate_construct_count,
        "temp_table_count": result.temp_table_count,
        "cte_count": result.cte_count,
        "analysis_turns": result.recommended_analysis_turns,
        "conversion_turns": result.recommended_conversion_turns,
        "audit_turns": result.recommended_audit_turns,
    }


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
    targets: Sequence[Target], jobs: int, on_done: Callable[[], None] | None = None
) -> Iterator[FileReport]:
    """Reports in the order of ``targets``, each yielded as soon as it and those before it are
    done, whatever order the threads finish in.

    Threads are enough for parallelism: the modules release the GIL while they scan.
    """
    pool = ThreadPoolExecutor(max_workers=jobs, thread_name_prefix="tessera")
    try:
        futures = [pool.submit(assess_file, target) for target in targets]
        if on_done is not None:
            for future in futures:
                future.add_done_callback(lambda _f: on_done())
        for future in futures:
            yield future.result()
    finally:
        # On an interrupt, or when the consumer stops early, the files not yet started are dropped.
        pool.shutdown(wait=True, cancel_futures=True)


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

    def as_dict(self) -> dict[str, object]:
        return asdict(self)


def summarize(reports: Sequence[FileReport]) -> Summary:
    assessed = [report for report in reports if not report.failed]
    grades = Counter(report.grade for report in assessed)
    categories = Counter(category for report in assessed for category in report.categories or ())
    return Summary(
        files=len(reports),
        assessed=len(assessed),
        failed=len(reports) - len(assessed),
        empty=sum(1 for report in assessed if report.empty),
        bytes=sum(report.bytes or 0 for report in assessed),
        total_lines=sum(report.total_lines or 0 for report in assessed),
        effective_lines=sum(report.effective_lines or 0 for report in assessed),
        grades={grade.value: grades[grade.value] for grade in SQLComplexity},
        turns={
            "analysis": sum(report.analysis_turns or 0 for report in assessed),
            "conversion": sum(report.conversion_turns or 0 for report in assessed),
            "audit": sum(report.audit_turns or 0 for report in assessed),
        },
        chunked=[
            {"path": report.path, "total_lines": report.total_lines, "sections": report.sections}
            for report in assessed
            if report.chunked
        ],
        categories=[
            {"category": category, "files": count}
            for category, count in sorted(categories.items(), key=lambda item: (-item[1], item[0]))
        ],
        dialects=dialect_mix(report.dialect for report in assessed),
        failures=[{"path": report.path, "reason": report.error or ""} for report in reports if report.failed],
    )
