"""The per-row work of the Spark path: a whole Arrow column of texts in, the assessment columns
out, with every failure kept in its row's ``error``."""

from __future__ import annotations

import logging

import pyarrow as pa
import structlog

from agents.tessera.complexity import plan_reading_strategy
from agents.tessera.reference_curator import detect_construct_categories
from tessera_cli.estate import DecodedFile, UnreadableFile, _graded, decode_text

from ._columns import ASSESSMENT_FIELDS, ASSESSMENT_SCHEMA

NULL_TEXT = "no text (null)"

_NAMES = tuple(field.name for field in ASSESSMENT_FIELDS)


def quiet_logging() -> None:
    """Keep the modules' per-call debug events out of a worker's output.

    A Spark worker starts with structlog's defaults, which print every event: one per row over a
    query log of millions. A host that configured structlog itself keeps its configuration.
    """
    if not structlog.is_configured():
        structlog.configure(
            wrapper_class=structlog.make_filtering_bound_logger(logging.INFO),
            cache_logger_on_first_use=True,
        )


def _assessed(text: str, size: int) -> dict[str, object]:
    plan = plan_reading_strategy(DecodedFile(text))  # type: ignore[arg-type]  # it has read_text
    return {
        "bytes": size,
        "empty": size == 0,
        "total_lines": plan.total_lines,
        "chunked": plan.should_chunk,
        "sections": len(plan.section_boundaries),
        "categories": sorted(detect_construct_categories(text)),
        **_graded(text),
    }


def assess_bytes(value: bytes | None) -> dict[str, object]:
    if value is None:
        return {"error": NULL_TEXT}
    try:
        return _assessed(decode_text(value), len(value))
    except UnreadableFile as error:
        return {"error": str(error)}
    except Exception as error:  # noqa: BLE001
        # One text that breaks the analysis (out of memory, say) must not fail the job and with it
        # every row already done.
        return {"error": f"analysis failed: {type(error).__name__}: {error}"}


def _as_bytes(texts: pa.Array | pa.ChunkedArray) -> pa.Array | pa.ChunkedArray:
    # Read as bytes, strings too: Spark lets a string hold bytes that are not UTF-8 (a cast from
    # binary, say), and decoding them here reports that in the row instead of failing the batch.
    # Texts also get the same line-end translation as files, so a script gives the same row
    # whichever way it is held.
    if pa.types.is_string(texts.type):
        return texts.cast(pa.binary())
    if pa.types.is_large_string(texts.type):
        return texts.cast(pa.large_binary())
    return texts


def assess_column(texts: pa.Array | pa.ChunkedArray) -> pa.RecordBatch:
    """The assessment columns for a column of texts (string: query texts; binary: file contents,
    decoded as the command decodes files), one row per input row, in order."""
    rows = [assess_bytes(value) for value in _as_bytes(texts).to_pylist()]
    columns = [pa.array([row.get(name) for row in rows], type=field.type) for name, field in zip(_NAMES, ASSESSMENT_FIELDS)]
    return pa.RecordBatch.from_arrays(columns, schema=ASSESSMENT_SCHEMA)
