import json
import os
from pathlib import Path

import pytest

from tessera_cli.estate import FileReport, Target, assess_file, discover, read_sql, summarize as local_summary
from tessera_cli.objects import object_rows, summarize_objects

pytestmark = pytest.mark.spark


def _uri(path: Path) -> str:
    return "file:" + os.path.abspath(path)


def _local_rows(root: Path, patterns: list[str] | None = None) -> dict[str, dict]:
    """The local engine's rows for the files under ``root``, keyed by the URI Spark names them by."""
    return {
        _uri(target.path): assess_file(Target(target.path, _uri(target.path))).as_row()
        for target in discover([str(root)], patterns)
    }


def _in_row(objects: list[dict]) -> list[dict]:
    """The command's object rows as the ``objects`` column holds them: without row and path."""
    return [{k: v for k, v in o.items() if k not in ("row", "path")} for o in objects]


def _with_objects(rows: dict[str, dict]) -> dict[str, dict]:
    """The local rows, each with the objects the command finds in its file."""
    return {
        uri: {**row, "objects": None if row["error"] else _in_row(object_rows(uri, read_sql(uri.removeprefix("file:"))))}
        for uri, row in rows.items()
    }


def _rows(df) -> dict[str, dict]:
    rows = {row["path"]: row.asDict() for row in df.collect()}
    for row in rows.values():
        if row.get("objects"):
            row["objects"] = [o.asDict() for o in row["objects"]]
    return rows


@pytest.fixture(scope="module")
def corpus_rows(spark, corpus):
    from tessera_spark import assess_files

    df = assess_files(spark, str(corpus), objects=True).cache()
    yield df, _rows(df)
    df.unpersist()


def test_every_corpus_file_gets_the_local_engines_row_and_summary(corpus_rows, corpus):
    from tessera_spark import summarize

    df, rows = corpus_rows
    expected = _with_objects(_local_rows(corpus))
    assert rows.keys() == expected.keys()
    differing = [path for path in expected if rows[path] != expected[path]]
    assert differing == [], f"{len(differing)} rows differ, first {differing[:3]}"
    assert sum(len(row["objects"] or ()) for row in rows.values()) > 1000

    ordered = sorted(expected.items())
    reports = [FileReport(**{**{k: v for k, v in row.items() if k != "objects"},
                             "categories": tuple(row["categories"] or ())}) for _, row in ordered]
    local = local_summary(reports).as_dict()
    # Ties among the hardest objects keep the estate's order, as the command's list does.
    local["objects"] = summarize_objects([{"path": path, **o} for path, row in ordered for o in row["objects"] or ()])
    assert summarize(df) == local


def _estate(tmp_path: Path) -> Path:
    estate = tmp_path / "estate"
    (estate / "nested" / "deeper").mkdir(parents=True)
    (estate / "good.sql").write_text("CREATE PROCEDURE p AS\nBEGIN\n  SELECT 1\nEND\n")
    (estate / "latin1.sql").write_bytes("SELECT 'café'".encode("latin-1"))
    (estate / "binary.sql").write_bytes(bytes(range(256)))
    (estate / "empty.sql").write_bytes(b"")
    (estate / "crlf.sql").write_bytes(b"-- head\r\nSELECT a\r\nFROM t\r\n")
    (estate / "bom.sql").write_bytes(b"\xef\xbb\xbfSELECT 1")
    (estate / "SHOUTED.SQL").write_text("SELECT 2")
    (estate / "notes.txt").write_text("SELECT 3")
    (estate / "nested" / "deeper" / "inner.hql").write_text("INSERT OVERWRITE TABLE t SELECT * FROM s")
    (estate / "nested" / "deeper" / "inner.sql").write_text("WITH c AS (SELECT 1) SELECT * FROM c")
    return estate


def test_bad_files_are_rows_with_the_commands_reasons(spark, tmp_path):
    from tessera_spark import assess_files

    estate = _estate(tmp_path)
    rows = _rows(assess_files(spark, str(estate), objects=True))
    expected = _with_objects(_local_rows(estate))
    assert rows == expected
    assert [o["name"] for o in rows[_uri(estate / "good.sql")]["objects"]] == ["p"]
    assert (rows[_uri(estate / "empty.sql")]["objects"], rows[_uri(estate / "binary.sql")]["objects"]) == ([], None)
    # Every SQL extension, whatever its case, as the command's default list has them.
    assert {Path(path).name for path in rows} >= {"SHOUTED.SQL", "inner.hql"}
    assert not any(path.endswith("notes.txt") for path in rows)
    assert rows[_uri(estate / "latin1.sql")]["error"] == "not valid UTF-8 (byte 0xe9 at offset 11)"
    assert rows[_uri(estate / "binary.sql")]["error"] == "not valid UTF-8 (byte 0x80 at offset 128)"
    assert rows[_uri(estate / "empty.sql")]["empty"] is True

    picked = _rows(assess_files(spark, [str(estate / "nested")], globs=["*.HQL", "inner.s?l"]))
    assert sorted(Path(path).name for path in picked) == ["inner.hql", "inner.sql"]


def test_texts_keep_their_rows_and_get_the_files_answers(spark, tmp_path):
    from pyspark.sql import functions as F

    from tessera_spark import ASSESSMENT_COLUMNS, assess_texts

    texts = [
        "SELECT 1",
        "",
        None,
        "-- head\r\nSELECT a\r\nFROM t\r\n",
        "CREATE PROCEDURE p AS BEGIN DECLARE c CURSOR FOR SELECT 1; MERGE INTO t USING s ON 1=1; END",
        "SELECT 'naïve — ☃ 𝔘'",
    ] * 300
    df = spark.createDataFrame([(i, text, i % 2 == 0) for i, text in enumerate(texts)], "id int, text string, even boolean")
    out = assess_texts(df, objects=True).orderBy("id").collect()

    assert [row["id"] for row in out] == list(range(len(texts)))
    assert [row["even"] for row in out] == [i % 2 == 0 for i in range(len(texts))]
    for index, text in enumerate(texts[:6]):
        row = {name: out[index][name] for name in ("path", *ASSESSMENT_COLUMNS) if name != "path"}
        if text is None:
            assert row == {**dict.fromkeys(ASSESSMENT_COLUMNS), "error": "null"}
            continue
        # A text gives the row a file holding it gives.
        held = tmp_path / f"{index}.sql"
        held.write_bytes(text.encode("utf-8"))
        assert row == {k: v for k, v in assess_file(Target(held, "x")).as_row().items() if k != "path"}
        assert [o.asDict() for o in out[index]["objects"]] == _in_row(object_rows("x", read_sql(held)))
    assert out[2]["objects"] is None and [o["kind"] for o in out[4]["objects"]] == ["procedure"]

    # Bytes are read as files are: a bad byte is the row's error, and Spark's own strings may
    # hold such bytes too.
    raw = spark.createDataFrame([(b"SELECT 1",), (b"\xffSELECT",)], "text binary")
    cast = raw.select(F.col("text").cast("string").alias("text"))
    for frame in (raw, cast):
        assert [row["error"] for row in assess_texts(frame).collect()] == [None, "not valid UTF-8 (byte 0xff at offset 0)"]


def test_a_fifty_megabyte_text_is_assessed_in_one_row(spark):
    from pyspark.sql import functions as F

    from agents.tessera.complexity import classify_sql
    from tessera_spark import assess_texts

    line = "SELECT a, b FROM t WHERE c > 1 -- note\n"
    repeats = 50 * 1024 * 1024 // len(line)
    # Built in the JVM, so that only the assessment carries it to Python.
    df = spark.range(1).select(F.repeat(F.lit(line), repeats).alias("text"))
    row = assess_texts(df).select("bytes", "total_lines", "effective_lines", "grade", "chunked", "sections", "error").first()
    expected = classify_sql(line * repeats)
    assert row.asDict() == {
        "bytes": len(line) * repeats,
        "total_lines": repeats,
        "effective_lines": expected.effective_lines,
        "grade": expected.complexity.value,
        "chunked": True,
        "sections": row["sections"],
        "error": None,
    }
    assert 1 <= row["sections"] <= 5


def test_misuse_is_refused_before_any_job(spark):
    from tessera_spark import assess_texts

    df = spark.createDataFrame([(1, "x")], "n int, text string")
    with pytest.raises(ValueError, match="no column 'sql'"):
        assess_texts(df, "sql")
    with pytest.raises(TypeError, match="must be string or binary, not int"):
        assess_texts(df, "n")
    with pytest.raises(ValueError, match="already has assessment columns: grade"):
        assess_texts(df.withColumnRenamed("n", "grade"))
    with pytest.raises(ValueError, match="already has assessment columns: objects"):
        assess_texts(df.withColumnRenamed("n", "objects"), objects=True)
    # Without the objects, a column of that name is the caller's own.
    assert assess_texts(df.withColumnRenamed("n", "objects")).columns[0] == "objects"


def test_summary_of_a_query_log_names_rows_by_the_given_key(spark):
    from tessera_spark import assess_texts, summarize

    long_query = "SELECT 1\n" * 600
    df = spark.createDataFrame([("q1", "SELECT 1"), ("q2", None), ("q3", long_query), ("q4", "")], "qid string, text string")
    summary = summarize(assess_texts(df), key="qid")
    assert (summary["files"], summary["assessed"], summary["failed"], summary["empty"]) == (4, 3, 1, 1)
    assert summary["chunked"] == [{"path": "q3", "total_lines": 600, "sections": summary["chunked"][0]["sections"]}]
    assert summary["failures"] == [{"path": "q2", "reason": "null"}]
    assert summary["categories"] == [{"category": "query", "files": 2}]
    assert summarize(assess_texts(df))["failures"] == [{"path": None, "reason": "null"}]
    assert "objects" not in summary


def test_summary_of_objects_counts_them_and_ranks_ties_in_the_logs_order(spark):
    from tessera_spark import assess_texts, summarize

    procedure = "CREATE PROCEDURE p{} AS\nBEGIN\n  DECLARE c CURSOR FOR SELECT 1;\n  SELECT {}\nEND\nGO\n"
    texts = {
        "q1": "CREATE TABLE t (x int);\nCREATE VIEW v AS SELECT 1;\n",
        # Two texts of equal procedures, each with equal ones: ties all the way down.
        "q3": procedure.format(1, 1) + procedure.format(2, 2),
        "q2": procedure.format(3, 3) + "CREATE FUNCTION f() RETURNS int AS BEGIN RETURN 1 END\n",
        "q4": None,
        "q5": "SELECT 1",
    }
    df = spark.createDataFrame(list(texts.items()), "qid string, text string").repartition(2)
    summary = summarize(assess_texts(df, objects=True), key="qid")
    local = [{"path": qid, **o} for qid, text in sorted(texts.items()) if text for o in _in_row(object_rows(qid, text))]
    assert summary["objects"] == summarize_objects(local)
    assert summary["objects"]["by_kind"] == {"procedure": 3, "function": 1, "view": 1, "table": 1}
    assert [(o["path"], o["name"]) for o in summary["objects"]["hardest"][:3]] == [("q2", "p3"), ("q3", "p1"), ("q3", "p2")]


def test_the_command_on_spark_writes_the_local_engines_report(run_cli, corpus, tmp_path):
    local = run_cli("assess", str(corpus), "--objects", "--format", "json")
    spark = run_cli("assess", str(corpus), "--objects", "--format", "json", "--engine", "spark", "--master", "local[2]")
    assert (spark.returncode, local.returncode) == (0, 0), spark.stderr
    report = json.loads(spark.stdout)
    assert report == json.loads(local.stdout)
    assert len(report["objects"]) == report["summary"]["objects"]["objects"] > 1000
    # The workers' per-call debug events stay out of the command's stderr, as the local run's do.
    assert "objects_graded" not in spark.stderr and "dialect_detected" not in spark.stderr

    # jsonl: each file's object rows right after its own row, as the local engine writes them.
    examples = str(Path(__file__).resolve().parents[2] / "examples")
    lines = [run_cli("assess", examples, "--objects", "--format", "jsonl", *engine).stdout
             for engine in ((), ("--engine", "spark", "--master", "local[1]"))]
    assert lines[0] == lines[1] and '"row": "object"' in lines[0]
