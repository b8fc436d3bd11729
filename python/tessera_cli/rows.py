"""The rows of an estate report, worked out by the native batch module while this thread writes."""

from __future__ import annotations

import os
from collections import deque
from collections.abc import Callable, Iterable, Iterator

from agents.tessera import _batch

from .estate import REPORT_FIELDS, Target, UnreadableFile, read_sql

Row = tuple[object, ...]


def _items(targets: Iterable[Target]) -> Iterator[tuple[str, bytes | str]]:
    for target in targets:
        yield target.display, (target.error if target.error is not None else os.fsencode(target.path))


def _dialect(target: Target) -> object:
    # Through the estate module, as its per-file path calls it (a host or a test may replace it).
    from . import estate

    try:
        return estate.dialect_of(read_sql(target.path))
    except UnreadableFile:
        return None


# The report's columns that the native rows may lack, asked here of each assessed file: the dialect
# when the batch module found no detector it could use (see agents.tessera._batch).
_IN_PYTHON: dict[str, Callable[[Target], object]] = {"dialect": _dialect}


def assess_rows(targets: Iterable[Target], jobs: int) -> Iterator[Row]:
    """One row per target, in the targets' order, as tuples in the order of REPORT_FIELDS.

    The targets are taken lazily, a window ahead of the row being written; on an early stop (an
    interrupt, a closed pipe) the workers finish the file each is on and the rest is dropped.
    """
    if _batch.COLUMNS == REPORT_FIELDS:
        rows = _batch.assess_paths(_items(targets), jobs=jobs)
        try:
            yield from rows
        finally:
            rows.close()
        return
    for _target, row in assess_target_rows(targets, jobs):
        yield row


def assess_target_rows(targets: Iterable[Target], jobs: int) -> Iterator[tuple[Target, Row]]:
    """assess_rows, each row with the target it is of (for the questions asked of a file after
    its row, such as its objects)."""
    pending: deque[Target] = deque()

    def remembered() -> Iterator[tuple[str, bytes | str]]:
        for target in targets:
            pending.append(target)
            yield target.display, (target.error if target.error is not None else os.fsencode(target.path))

    where = {name: index for index, name in enumerate(_batch.COLUMNS)}
    same = _batch.COLUMNS == REPORT_FIELDS
    error_at = where["error"]
    rows = _batch.assess_paths(remembered(), jobs=jobs)
    try:
        for row in rows:
            # The targets are taken a window ahead of the rows and in the same order: the oldest
            # one is this row's.
            target = pending.popleft()
            if not same:
                failed = row[error_at] is not None
                row = tuple(
                    row[where[name]] if name in where
                    else None if failed or name not in _IN_PYTHON else _IN_PYTHON[name](target)
                    for name in REPORT_FIELDS
                )
            yield target, row
    finally:
        rows.close()
