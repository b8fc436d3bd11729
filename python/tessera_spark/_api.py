from __future__ import annotations

import logging
import os
import sys
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import Any
from urllib.parse import unquote, urlsplit

import pyarrow as pa
import structlog
from pyspark.sql import Column, DataFrame, SparkSession
from pyspark.sql import functions as F
from pyspark.sql.types import (
    ArrayType,
    BinaryType,
    BooleanType,
    DataType,
    LongType,
    StringType,
    StructField,
    StructType,
)

from agents.tessera.complexity import SQLComplexity
from agents.tessera.inventory import ObjectKind
from tessera_cli.estate import SQL_EXTENSIONS, Summary
from tessera_cli.objects import HARDEST_KEYS, HARDEST_SHOWN

from ._columns import ASSESSMENT_FIELDS
from ._objects import OBJECT_TYPE, OBJECTS_FIELD, local_file_objects, object_column
from ._rows import assess_column, assess_local_file

ASSESSMENT_COLUMNS: tuple[str, ...] = tuple(field.name for field in ASSESSMENT_FIELDS)

_SPARK_TYPES: dict[pa.DataType, DataType] = {
    pa.int64(): LongType(),
    pa.bool_(): BooleanType(),
    pa.string(): StringType(),
    pa.list_(pa.string()): ArrayType(StringType()),
}

_ASSESSMENT_STRUCT = [StructField(field.name, _SPARK_TYPES[field.type]) for field in ASSESSMENT_FIELDS]
_OBJECTS_STRUCT = StructField(
    OBJECTS_FIELD.name, ArrayType(StructType([StructField(field.name, _SPARK_TYPES[field.type]) for field in OBJECT_TYPE]))
)


def _added_struct(objects: bool) -> list[StructField]:
    return [*_ASSESSMENT_STRUCT, _OBJECTS_STRUCT] if objects else _ASSESSMENT_STRUCT


def session(master: str = "local[*]", app_name: str = "tessera", conf: dict[str, str] | None = None) -> SparkSession:
    """A Spark session (the active one, if any) whose Python workers run this interpreter.

    Without it a local worker would start whatever ``python3`` is first on the PATH, which may
    not have the native modules, or may be another minor version that Spark refuses.
    """
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    os.environ.setdefault("PYSPARK_DRIVER_PYTHON", sys.executable)
    builder = (
        SparkSession.builder.master(master)
        .appName(app_name)
        .config("spark.ui.enabled", "false")
        .config("spark.ui.showConsoleProgress", "false")
        # Spark packs small files into one task by a notional cost per file opened, sized for
        # data files; SQL scripts are a few KB, and at the default an estate is cut into tasks
        # of a few dozen files, each a round trip to a Python worker.
        .config("spark.sql.files.openCostInBytes", str(64 * 1024))
    )
    for key, value in (conf or {}).items():
        builder = builder.config(key, value)
    spark = builder.getOrCreate()
    spark.sparkContext.setLogLevel("ERROR")
    return spark


def quiet_logging() -> None:
    """Keep the modules' per-call debug events out of a Python worker's stderr (or out of the
    timings of a benchmark that stands for one).

    A worker runs none of the driver's set-up, so structlog there prints every event: a line per
    row, millions over a query log, on each executor's log. Info and above still show; a worker
    whose logging was configured (by a ``sitecustomize``, say) is left as it is.
    """
    if not structlog.is_configured():
        structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO))


def _mapper(
    text_index: int, keep: Sequence[int], objects: bool
) -> Callable[[Iterator[pa.RecordBatch]], Iterator[pa.RecordBatch]]:
    def assess_batches(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        quiet_logging()
        for batch in batches:
            texts = batch.column(text_index)
            added = assess_column(texts)
            columns = [*(batch.column(i) for i in keep), *added.columns]
            names = [*(batch.schema.names[i] for i in keep), *added.schema.names]
            if objects:
                columns.append(object_column(texts, added.column("error")))
                names.append(OBJECTS_FIELD.name)
            yield pa.RecordBatch.from_arrays(columns, names=names)

    return assess_batches


def assess_texts(df: DataFrame, text_col: str = "text", objects: bool = False) -> DataFrame:
    """``df`` with the assessment columns added (see the module's documentation), one output row
    per input row; with ``objects``, also the ``objects`` column.

    ``text_col`` holds the SQL texts, as strings or as bytes (decoded as UTF-8 like a file). A
    null text gives a row whose ``error`` says so; a text that is not valid UTF-8, or that the
    analysis fails on, gives a row with the reason. No row fails the job.
    """
    names = df.columns
    if text_col not in names:
        raise ValueError(f"no column {text_col!r} among {names}")
    clashes = sorted(set(names) & {*ASSESSMENT_COLUMNS, *((OBJECTS_FIELD.name,) if objects else ())})
    if clashes:
        raise ValueError(f"the input already has assessment columns: {', '.join(clashes)}")
    text_type = df.schema[text_col].dataType
    if not isinstance(text_type, StringType | BinaryType):
        raise TypeError(f"column {text_col!r} must be string or binary, not {text_type.simpleString()}")
    schema = StructType([*df.schema.fields, *_added_struct(objects)])
    return df.mapInArrow(_mapper(names.index(text_col), range(len(names)), objects), schema)


def default_globs() -> tuple[str, ...]:
    """The file-name patterns of the SQL scripts that ``tessera assess`` looks for."""
    return tuple(f"*{extension}" for extension in SQL_EXTENSIONS)


def _case_insensitive(glob: str) -> str:
    """``glob`` (fnmatch syntax) as a pattern of Hadoop's glob syntax that matches regardless of
    case, which that syntax has no flag for."""
    out: list[str] = []
    index = 0
    while index < len(glob):
        char = glob[index]
        if char == "[" and (end := glob.find("]", index + 2)) != -1:
            body = glob[index + 1 : end]
            negated = body.startswith("!")
            body = body[1:] if negated else body
            out.append(f"[{'^' if negated else ''}{body}{body.swapcase() if body != body.swapcase() else ''}]")
            index = end + 1
            continue
        if char in "{},\\":
            out.append("\\" + char)
        elif char.lower() != char.upper() and len(char.upper()) == len(char.lower()) == 1:
            out.append(f"[{char.lower()}{char.upper()}]")
        else:
            out.append(char)
        index += 1
    return "".join(out)


def glob_filter(globs: Iterable[str]) -> str:
    patterns = [_case_insensitive(glob) for glob in globs]
    if not patterns:
        raise ValueError("no file-name patterns given")
    return patterns[0] if len(patterns) == 1 else "{" + ",".join(patterns) + "}"


def _is_local(path: str) -> bool:
    scheme = urlsplit(path).scheme
    return scheme in ("", "file") or len(scheme) == 1  # a drive letter is no scheme


def _spark_name(uri: str) -> str:
    """The name the binary file source gives a file in its ``path`` column, for the URI that the
    listing gives it: the same but for the ``file:///`` form and percent-escapes."""
    parts = urlsplit(uri)
    authority = f"//{parts.netloc}" if parts.netloc else ""
    return f"{parts.scheme}:{authority}{unquote(parts.path)}"


def assess_files(
    spark: SparkSession, path: str | Sequence[str], globs: Sequence[str] | None = None, objects: bool = False
) -> DataFrame:
    """One row per file under ``path`` (files and folders, searched recursively, on any storage
    Spark reads) whose name matches one of ``globs``, case-insensitively (default:
    :func:`default_globs`): ``path`` as Spark names it (a URI), then the assessment columns, and
    with ``objects`` the ``objects`` column.

    Files are read with Spark's binary file source and decoded as the command decodes them; a
    file that is not valid UTF-8 gets the command's one-line reason in ``error`` instead of
    failing the job, and so, on a local or mounted file system, does one that cannot be read.
    """
    paths = [path] if isinstance(path, str) else list(path)
    local = all(_is_local(given) for given in paths)
    reader = (
        spark.read.format("binaryFile")
        .option("recursiveFileLookup", "true")
        .option("pathGlobFilter", glob_filter(default_globs() if globs is None else globs))
        # Locally a file that vanishes or fails between listing and reading can be looked at
        # again to give the reason; elsewhere such a file fails the job rather than be taken
        # for one of the empty files the reader skips.
        .option("ignoreMissingFiles", str(local).lower())
        .option("ignoreCorruptFiles", str(local).lower())
    )
    files = reader.load(paths)
    schema = StructType([StructField("path", StringType(), False), *_added_struct(objects)])
    read = files.select("path", "content").mapInArrow(_mapper(1, [0], objects), schema)
    # The reader skips empty files, so the rows read are joined to the listing, which the
    # driver holds already; only the small assessed rows are shuffled, never the contents.
    listing = spark.createDataFrame([(_spark_name(uri),) for uri in files.inputFiles()], "path string")
    joined = listing.join(read.withColumn(_READ, F.lit(True)), "path", "left")
    return joined.mapInArrow(_complete, schema)


_READ = "_tessera_read"


def _unread_row(name: str, objects: bool) -> dict[str, object]:
    """The row of a listed file that the reader gave no row for: empty, or unreadable."""
    parts = urlsplit(name)
    if parts.scheme != "file":
        empty: dict[str, object] = assess_column(pa.array([b""], pa.binary())).to_pylist()[0]
        return {**empty, OBJECTS_FIELD.name: []} if objects else empty
    row = assess_local_file(unquote(parts.path))
    if objects:
        row[OBJECTS_FIELD.name] = None if row.get("error") is not None else local_file_objects(unquote(parts.path))
    return row


def _complete(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
    quiet_logging()
    for batch in batches:
        read = batch.column(_READ)
        kept = batch.drop_columns([_READ])
        if read.null_count == 0:
            yield kept
            continue
        rows = kept.to_pylist()
        for index, was_read in enumerate(read.to_pylist()):
            if not was_read:
                rows[index] = {
                    "path": rows[index]["path"],
                    **dict.fromkeys(ASSESSMENT_COLUMNS),
                    **_unread_row(rows[index]["path"], OBJECTS_FIELD.name in kept.schema.names),
                }
        yield pa.RecordBatch.from_pylist(rows, schema=kept.schema)


def _first(row: Any, name: str) -> int:
    return int(row[name] or 0)


def summarize(df: DataFrame, key: str = "path") -> dict[str, object]:
    """The estate summary of assessed rows, with the keys and order of the ``summary`` of
    ``tessera assess --format json``, computed by Spark aggregations; only the lists (chunked
    files, categories, failures) are brought to the driver.

    ``key`` names the column that identifies a row in the lists of chunked and failed rows
    (``path`` for files; a query id for a query log); without it they show null. Rows with the
    ``objects`` column add the ``objects`` block of ``tessera assess --objects``: the objects by
    kind and by grade, their turns, and the hardest of them, each named by ``key``.
    """
    # Four queries (six with the objects) read the rows; unless the caller keeps them, they are kept for the duration
    # rather than assessed four times over.
    kept = not df.is_cached
    if kept:
        df = df.persist()
    try:
        return _summary(df, key)
    finally:
        if kept:
            df.unpersist()


def _summary(df: DataFrame, key: str) -> dict[str, object]:
    ok = F.col("error").isNull()
    ident: Column = F.col(key) if key in df.columns else F.lit(None).cast("string")

    def count(condition: Column) -> Column:
        return F.count(F.when(condition, F.lit(1)))

    def total(name: str) -> Column:
        return F.sum(F.when(ok, F.col(name)))

    grades = [grade.value for grade in SQLComplexity]
    phases = ("analysis", "conversion", "audit")
    totals = df.agg(
        F.count(F.lit(1)).alias("files"),
        count(ok).alias("assessed"),
        count(ok & F.col("empty")).alias("empty"),
        *(total(name).alias(name) for name in ("bytes", "total_lines", "effective_lines")),
        *(count(ok & (F.col("grade") == grade)).alias(f"grade_{grade}") for grade in grades),
        *(total(f"{phase}_turns").alias(f"turns_{phase}") for phase in phases),
    ).first()
    assert totals is not None

    chunked = (
        df.where(ok & F.col("chunked"))
        .select(ident.alias("key"), "total_lines", "sections")
        .orderBy("key")
        .collect()
    )
    categories = (
        df.where(ok)
        .select(F.explode("categories").alias("category"))
        .groupBy("category")
        .count()
        .orderBy(F.desc("count"), "category")
        .collect()
    )
    dialects = df.where(ok).groupBy("dialect").count().collect()
    failures = df.where(~ok).select(ident.alias("key"), "error").orderBy("key").collect()
    summary = Summary(
        files=_first(totals, "files"),
        assessed=_first(totals, "assessed"),
        failed=_first(totals, "files") - _first(totals, "assessed"),
        empty=_first(totals, "empty"),
        bytes=_first(totals, "bytes"),
        total_lines=_first(totals, "total_lines"),
        effective_lines=_first(totals, "effective_lines"),
        grades={grade: _first(totals, f"grade_{grade}") for grade in grades},
        turns={phase: _first(totals, f"turns_{phase}") for phase in phases},
        chunked=[{"path": r["key"], "total_lines": r["total_lines"], "sections": r["sections"]} for r in chunked],
        categories=[{"category": r["category"], "files": r["count"]} for r in categories],
        dialects=[
            {"dialect": r["dialect"], "files": r["count"]}
            for r in sorted((r for r in dialects if r["dialect"] is not None),
                            key=lambda r: (-r["count"], r["dialect"]))
        ],
        failures=[{"path": r["key"], "reason": r["error"]} for r in failures],
    ).as_dict()
    if OBJECTS_FIELD.name in df.columns:
        summary[OBJECTS_FIELD.name] = _object_summary(df.where(ok), ident)
    return summary


_PHASES = ("analysis", "conversion", "audit")


def _object_summary(df: DataFrame, ident: Column) -> dict[str, object]:
    """The ``objects`` block of the summary, as the command makes it from its object rows."""
    objects = df.select(ident.alias("key"), F.posexplode("objects").alias("position", "object")).select(
        "key", "position", "object.*"
    )
    kinds = [kind.value for kind in ObjectKind]
    grades = [grade.value for grade in SQLComplexity]
    totals = objects.agg(
        F.count(F.lit(1)).alias("objects"),
        *(F.count(F.when(F.col("kind") == kind, 1)).alias(f"kind_{kind}") for kind in kinds),
        *(F.count(F.when(F.col("grade") == grade, 1)).alias(f"grade_{grade}") for grade in grades),
        *(F.sum(f"{phase}_turns").alias(f"turns_{phase}") for phase in _PHASES),
    ).first()
    assert totals is not None
    # Ties keep the estate's order: its rows by key, each row's objects as its text has them.
    hardest = (
        objects.orderBy(F.desc("conversion_turns"), F.desc("effective_lines"), "key", "position")
        .limit(HARDEST_SHOWN)
        .collect()
    )
    return {
        "objects": _first(totals, "objects"),
        "by_kind": {kind: _first(totals, f"kind_{kind}") for kind in kinds if _first(totals, f"kind_{kind}")},
        "by_grade": {grade: _first(totals, f"grade_{grade}") for grade in grades},
        "turns": {phase: _first(totals, f"turns_{phase}") for phase in _PHASES},
        "hardest": [{name: r["key" if name == "path" else name] for name in HARDEST_KEYS} for r in hardest],
    }
