"""A warehouse's query log assessed on Spark: a few hundred thousand query texts, their grades,
their dialects where the dialect module is installed, the objects they define, and the hardest
of them.

The log is made from the statements of the example scripts beside this file (and the whole
scripts, as a log holds procedure bodies too), each run many times over, as an exported history
holds the same statements again and again.

    python examples/query_log.py [--rows 300000] [--master local[*]]
"""

from __future__ import annotations

import argparse
from pathlib import Path

from pyspark.sql import DataFrame, SparkSession
from pyspark.sql import functions as F

from tessera_spark import assess_texts, session, summarize

HERE = Path(__file__).resolve().parent


def statements() -> list[str]:
    """The statements of the example scripts: cut at semicolons that end a line and at batch
    separators, the way a query log records them one by one, plus each script whole."""
    found: list[str] = []
    for script in sorted(HERE.glob("*.sql")):
        text = script.read_text(encoding="utf-8")
        found.append(text)
        current: list[str] = []
        for line in text.splitlines():
            if line.strip().upper() != "GO":
                current.append(line)
            if line.rstrip().endswith(";") or line.strip().upper() == "GO":
                if "".join(current).strip():
                    found.append("\n".join(current).strip())
                current = []
    return found


def query_log(spark: SparkSession, rows: int) -> DataFrame:
    """``rows`` query texts with an id and a user, built in Spark rather than in this process."""
    texts = statements()
    distinct = spark.createDataFrame(list(enumerate(texts)), "statement_id int, statement string")
    runs = spark.range(rows).withColumnRenamed("id", "query_id")
    return (
        runs.join(F.broadcast(distinct), F.col("query_id") % len(texts) == F.col("statement_id"))
        .select(
            "query_id",
            F.concat(F.lit("etl_"), (F.col("query_id") % 7).cast("string")).alias("user_name"),
            # Each run carries its own trailing comment, as tools tag the queries they send.
            F.concat("statement", F.lit("\n-- run "), F.col("query_id").cast("string")).alias("text"),
        )
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=300_000)
    parser.add_argument("--master", default="local[*]")
    args = parser.parse_args()

    spark = session(args.master, app_name="tessera query log")
    try:
        assessed = assess_texts(query_log(spark, args.rows), objects=True).cache()
        summary = summarize(assessed, key="query_id")
        print(f"{summary['files']:,} queries: {summary['assessed']:,} assessed, {summary['failed']:,} failed, "
              f"{summary['effective_lines']:,} effective lines")
        print("grades:", ", ".join(f"{grade} {count:,}" for grade, count in summary["grades"].items()))
        if "dialect" in assessed.columns:
            mix = assessed.groupBy("dialect").count().orderBy(F.desc("count")).collect()
            print("dialects:", ", ".join(f"{row['dialect'] or 'unknown'} {row['count']:,}" for row in mix))
        else:
            print("dialects: not assessed (the dialect module is not installed)")
        print("categories:", ", ".join(f"{c['category']} {c['files']:,}" for c in summary["categories"][:6]))
        objects = summary["objects"]
        print(f"objects: {objects['objects']:,} defined: "
              + ", ".join(f"{kind} {count:,}" for kind, count in objects["by_kind"].items()))
        print("hardest queries:")
        hardest = (
            assessed.where(F.col("error").isNull())
            .dropDuplicates(["complex_construct_count", "effective_lines", "stored_proc_count"])
            .orderBy(F.desc("complex_construct_count"), F.desc("stored_proc_count"), F.desc("effective_lines"))
            .limit(5)
            .collect()
        )
        for row in hardest:
            head = " ".join(row["text"].split())[:60]
            print(f"  #{row['query_id']:<8} {row['grade']:<9} {row['complex_construct_count']} complex, "
                  f"{row['effective_lines']:>4} lines, turns {row['analysis_turns']}/{row['conversion_turns']}/"
                  f"{row['audit_turns']}  {head}")
    finally:
        spark.stop()


if __name__ == "__main__":
    main()
