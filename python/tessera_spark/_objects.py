"""The ``objects`` column: the objects each text defines, as the command's object rows give them,
worked out in the same worker as the rest of the row."""

from __future__ import annotations

import pyarrow as pa

from agents.tessera.inventory import grade_objects
from tessera_cli.estate import UnreadableFile, decode_text, read_sql
from tessera_cli.objects import OBJECT_FIELDS, object_fields

# The keys of a ``{"row": "object"}`` row of ``tessera assess --objects --format jsonl``, in its
# order, but for ``row`` and ``path``: an object sits in the row of its text.
_TEXTS = {"kind", "name", "raw_name", "statement", "grade"}
OBJECT_TYPE = pa.struct([
    pa.field(name, pa.string() if name in _TEXTS else pa.int64())
    for name in OBJECT_FIELDS if name not in ("row", "path")
])
OBJECTS_FIELD = pa.field("objects", pa.list_(OBJECT_TYPE))

Objects = list[dict[str, object]] | None


def _graded(text: str) -> Objects:
    try:
        return [object_fields(graded) for graded in grade_objects(text)]
    except Exception:  # noqa: BLE001
        # As for the other columns, one text the inventory fails on must not fail the job; its
        # objects are unknown, which a null says.
        return None


def object_column(texts: pa.Array, errors: pa.Array) -> pa.Array:
    """The objects of each text whose row has no error, in order; null for the others.

    The inventory takes a str: each such text is decoded here as the command decodes a file,
    line ends translated, so that a text gives the objects a file holding it gives.
    """
    if pa.types.is_string(texts.type):
        texts = texts.view(pa.binary())
    elif pa.types.is_large_string(texts.type):
        texts = texts.view(pa.large_binary())
    found: list[Objects] = []
    for value, error in zip(texts.to_pylist(), errors.to_pylist()):
        # A row without error was valid UTF-8: the native batch checked it.
        found.append(None if error is not None or value is None else _graded(decode_text(value)))
    return pa.array(found, type=OBJECTS_FIELD.type)


def local_file_objects(path: str) -> Objects:
    """The objects of a file on a local or mounted file system, read as the command reads it."""
    try:
        return _graded(read_sql(path))
    except UnreadableFile:
        return None
