"""The per-row work of the Spark path: a whole Arrow column of texts in, the assessment columns
out, with every failure kept in its row's ``error``."""

from __future__ import annotations

import os

import pyarrow as pa

from agents.tessera import _batch

from ._columns import ASSESSMENT_FIELDS, ASSESSMENT_SCHEMA


def _batch_of(columns: dict[str, list[object]]) -> pa.RecordBatch:
    return pa.RecordBatch.from_arrays(
        [pa.array(columns[field.name], type=field.type) for field in ASSESSMENT_FIELDS], schema=ASSESSMENT_SCHEMA
    )


def assess_column(texts: pa.Array) -> pa.RecordBatch:
    """The assessment columns for a column of texts, strings or bytes, one row per entry, in order.

    The native batch reads the column's own Arrow buffers in place, with the GIL released: no
    text is copied or turned into a Python object on the way in. Bytes are decoded as the command
    decodes files, so a bad byte (which a Spark string may hold too) is the row's error.
    """
    if not (pa.types.is_binary(texts.type) or pa.types.is_string(texts.type)
            or pa.types.is_large_binary(texts.type) or pa.types.is_large_string(texts.type)):
        raise TypeError(f"texts must be an Arrow string or binary array, not {texts.type}")
    if len(texts) == 0:
        return _batch_of({field.name: [] for field in ASSESSMENT_FIELDS})
    validity, offsets, data = texts.buffers()[:3]
    columns = _batch.assess_buffers(
        # An array of empty texts may have no value buffer at all.
        data if data is not None else b"",
        offsets,
        validity if texts.null_count else None,
        offsets_64=pa.types.is_large_binary(texts.type) or pa.types.is_large_string(texts.type),
        offset=texts.offset,
        length=len(texts),
    )
    return _batch_of(columns)


def assess_local_file(path: str) -> dict[str, object]:
    """The row of a file on a local or mounted file system, read and assessed as the command
    does, failures with the command's reasons."""
    row = next(_batch.assess_paths([(path, os.fsencode(path))]))
    return dict(zip(_batch.COLUMNS[1:], row[1:]))
