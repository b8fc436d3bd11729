"""The rows of an estate report, worked out by the native batch module while this thread writes."""

from __future__ import annotations

import os
from collections import deque
from collections.abc import Iterable, Iterator

from agents.tessera import _batch

from .estate import REPORT_FIELDS, Target

Row = tuple[object, ...]


def _items(targets: Iterable[Target]) -> Iterator[tuple[str, bytes | str]]:
    for target in targets:
        yield target.display, (target.error if target.error is not None else os.fsencode(target.path))


def assess_rows(targets: Iterable[Target], jobs: int) -> Iterator[Row]:
    """One row per target, in the targets' order, as tuples in the order of REPORT_FIELDS.

    The targets are taken lazily, a window ahead of the row being written; on an early stop (an
    interrupt, a closed pipe) the workers finish the file each is on and the rest is dropped.
    """
    rows = _batch.assess_paths(_items(targets), jobs=jobs)
    try:
        if _batch.COLUMNS == REPORT_FIELDS:
            yield from rows
        else:
            # Columns that one side has and the other has not yet: the report's own, by name.
            where = {name: index for index, name in enumerate(_batch.COLUMNS)}
            picks = [where.get(name) for name in REPORT_FIELDS]
            for row in rows:
                yield tuple(None if index is None else row[index] for index in picks)
    finally:
        rows.close()


def assess_target_rows(targets: Iterable[Target], jobs: int) -> Iterator[tuple[Target, Row]]:
    """assess_rows, each row with the target it is of (for the questions asked of a file after
    its row, such as its objects)."""
    pending: deque[Target] = deque()

    def remembered() -> Iterator[Target]:
        for target in targets:
            pending.append(target)
            yield target

    for row in assess_rows(remembered(), jobs):
        # The targets are taken a window ahead of the rows and in the same order: the oldest one
        # is this row's.
        yield pending.popleft(), row
