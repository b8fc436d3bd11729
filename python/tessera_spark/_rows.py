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
    if "dialect" not in columns:
        columns["dialect"] = _dialects(texts, columns["error"])
    return _batch_of(columns)


def _dialects(texts: pa.Array, errors: list[object]) -> list[str | None]:
    """The platform of every text that was assessed, as the command names it, for a native batch
    without its detector (see ``agents.tessera._batch``): each text is turned into a str here,
    decoded and with its line endings translated as the command reads a file, so that both engines
    still give the same answer."""
    from tessera_cli.dialect import dialect_of

    # Read as bytes: a Spark string may hold bytes that are not UTF-8 (those rows have an error).
    if pa.types.is_string(texts.type):
        texts = texts.view(pa.binary())
    elif pa.types.is_large_string(texts.type):
        texts = texts.view(pa.large_binary())
    found: list[str | None] = []
    for value, error in zip(texts.to_pylist(), errors):
        if error is not None or value is None:
            found.append(None)
            continue
        text = value.decode("utf-8")
        found.append(dialect_of(text.replace("\r\n", "\n").replace("\r", "\n")))
    return found


def assess_local_file(path: str) -> dict[str, object]:
    """The row of a file on a local or mounted file system, read and assessed as the command
    does, failures with the command's reasons."""
    row = dict(zip(_batch.COLUMNS[1:], next(_batch.assess_paths([(path, os.fsencode(path))]))[1:]))
    if row.get("error") is None and "dialect" not in row:
        from tessera_cli.dialect import dialect_of
        from tessera_cli.estate import read_sql

        row["dialect"] = dialect_of(read_sql(path))
    return row
