"""Rows per second per core: the Spark path (local mode, Arrow batches through mapInArrow into the
native batch) against the native batch called directly in this process, on the same texts.

    .venv/bin/python bench/bench_spark.py [--rows N] [--cores C] [--repeat R] [--corpus DIR] [--objects]

Two sets of texts: a query log (the example scripts' statements, many times over: short texts,
where the per-row and per-batch overhead shows) and SQL scripts (the corpus files, or the example
scripts when there is no corpus). The local path hands the same Arrow batches (10,000 rows, Spark's
default) to the native batch on one thread; Spark runs ``local[C]`` over C partitions (default 1:
where the cores are shared with other work, two Spark workers mostly measure that work), and its
rate is divided by C. The overhead is the local rate per core over Spark's. Best of R runs each,
taken in turns so that a change in the machine's load falls on both alike; the DataFrame is cached
beforehand so that only the assessment is timed. With ``--objects`` both sides also work out the
``objects`` column.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

import pyarrow as pa
from pyspark.sql import functions as F

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "examples"))

from _timing import best_of  # noqa: E402
from query_log import statements  # noqa: E402
from tessera_spark import assess_texts, session  # noqa: E402
from tessera_spark._api import quiet_logging  # noqa: E402
from tessera_spark._objects import object_column  # noqa: E402
from tessera_spark._rows import assess_column  # noqa: E402

BATCH = 10_000


def scripts(corpus: Path) -> list[str]:
    files = sorted(corpus.rglob("*.sql")) if corpus.is_dir() else sorted((ROOT / "examples").glob("*.sql"))
    return [path.read_text(encoding="utf-8", errors="replace") for path in files]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=200_000)
    parser.add_argument("--cores", type=int, default=1)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus")
    parser.add_argument("--objects", action="store_true", help="with the objects column on both sides")
    args = parser.parse_args()
    # As in Spark's workers: the modules' per-call debug events would be timed along here.
    quiet_logging()

    def in_process(batch: pa.Array) -> object:
        added = assess_column(batch)
        return object_column(batch, added.column("error")) if args.objects else added

    spark = session(f"local[{args.cores}]", app_name="tessera bench", conf={"spark.sql.shuffle.partitions": str(args.cores)})
    print(f"{'texts':<12} {'rows':>8} {'MB':>7} {'local rows/s/core':>18} {'Spark rows/s/core':>18} {'overhead':>9}")
    try:
        for name, distinct, rows in [("query log", statements(), args.rows), ("SQL scripts", scripts(args.corpus), args.rows // 10)]:
            texts = [distinct[i % len(distinct)] for i in range(rows)]
            megabytes = sum(len(t.encode()) for t in texts) / 1e6
            batches = [pa.array(texts[i : i + BATCH], pa.string()) for i in range(0, rows, BATCH)]
            df = spark.createDataFrame([(t,) for t in texts], "text string").repartition(args.cores).cache()
            df.count()
            run = lambda: assess_texts(df, objects=args.objects).agg(F.count("grade")).collect()  # noqa: E731
            run()  # starts the Python workers
            # Taken in turns, so that a change in the machine's load falls on both alike.
            local, on_spark = float("inf"), float("inf")
            for _ in range(args.repeat):
                local = min(local, best_of(1, lambda: [in_process(batch) for batch in batches]))
                on_spark = min(on_spark, best_of(1, run))
            df.unpersist()

            local_rate = rows / local
            spark_rate = rows / on_spark / args.cores
            print(f"{name:<12} {rows:>8,} {megabytes:>7.1f} {local_rate:>18,.0f} {spark_rate:>18,.0f} "
                  f"{local_rate / spark_rate:>8.2f}x")
    finally:
        spark.stop()


if __name__ == "__main__":
    main()
