"""The assessment columns: the keys of a file row of ``tessera assess --format jsonl``, with the
types they carry in Arrow and in Spark."""

from __future__ import annotations

import pyarrow as pa

_INT = pa.int64()

# In the order of the command's rows, ``path`` left out: a file's path comes from Spark's
# listing, and a table of query texts has keys of its own.
ASSESSMENT_FIELDS: tuple[pa.Field, ...] = (
    pa.field("bytes", _INT),
    pa.field("empty", pa.bool_()),
    pa.field("total_lines", _INT),
    pa.field("effective_lines", _INT),
    pa.field("grade", pa.string()),
    pa.field("stored_proc_count", _INT),
    pa.field("complex_construct_count", _INT),
    pa.field("moderate_construct_count", _INT),
    pa.field("temp_table_count", _INT),
    pa.field("cte_count", _INT),
    pa.field("analysis_turns", _INT),
    pa.field("conversion_turns", _INT),
    pa.field("audit_turns", _INT),
    pa.field("chunked", pa.bool_()),
    pa.field("sections", _INT),
    pa.field("categories", pa.list_(pa.string())),
    pa.field("error", pa.string()),
)

ASSESSMENT_SCHEMA = pa.schema(ASSESSMENT_FIELDS)

# Arrow type -> the Spark DDL type the column is declared with.
_DDL = {
    _INT: "BIGINT",
    pa.bool_(): "BOOLEAN",
    pa.string(): "STRING",
    pa.list_(pa.string()): "ARRAY<STRING>",
}


def ddl(fields: tuple[pa.Field, ...] = ASSESSMENT_FIELDS) -> str:
    return ", ".join(f"`{field.name}` {_DDL[field.type]}" for field in fields)

