"""The labelled corpus of the dialect detector and its one fixed split into fitting and held-out parts.

Shared by scripts/fit_dialect_weights.py (which reads only the fitting part) and bench/bench_dialect.py
(which reports on the held-out part), so both always see the same split.
"""

from __future__ import annotations

import argparse
import hashlib
import sys
from collections.abc import Iterator
from pathlib import Path

PLATFORMS = (
    "databricks",
    "snowflake",
    "postgresql",
    "mysql",
    "sqlserver",
    "oracle",
    "redshift",
    "bigquery",
    "teradata",
    "hive",
)

# Parser-fixture folders and the platform each stands for; any other folder is unlabelled.
FIXTURE_PLATFORMS = {
    "tsql": "sqlserver",
    "postgres": "postgresql",
    "sparksql": "databricks",
    "databricks": "databricks",
    **{p: p for p in PLATFORMS if p not in ("sqlserver", "postgresql", "databricks")},
}

HELD_OUT_PERCENT = 30


def find_corpus(start: Path | None = None) -> Path | None:
    """The shared corpus: `shared/corpus` beside the checkout or beside one of its parents."""
    here = (start or Path(__file__)).resolve()
    for parent in here.parents:
        candidate = parent / "shared" / "corpus"
        if candidate.is_dir():
            return candidate
    return None


def table_arguments(doc: str, out: Path, owner: str) -> tuple[Path | None, Path]:
    """The corpus and the output file of a script that writes a table from the corpus (--corpus,
    --out): the corpus is None, with the reason printed, when there is none to be found."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=None)
    parser.add_argument("--out", type=Path, default=out, help=f"where to write the table (default: the {owner}'s)")
    args = parser.parse_args()
    corpus = args.corpus or find_corpus()
    if corpus is None:
        print("no corpus found; pass --corpus", file=sys.stderr)
    return corpus, args.out


def part_of(key: str) -> str:
    """'fit' or 'held_out', fixed by a hash of the file's place in the corpus."""
    bucket = int.from_bytes(hashlib.sha256(key.encode("utf-8")).digest()[:4], "big") % 100
    return "held_out" if bucket < HELD_OUT_PERCENT else "fit"


def labelled_files(corpus: Path) -> Iterator[tuple[str, str | None, Path, str]]:
    """(kind, platform, path, part) for every file of the two labelled sets, in a fixed order.

    kind is "real" (dialects/) or "fixture" (sqlfluff/); platform is None for unlabelled fixtures.
    """
    for kind, folder, labels in (("real", "dialects", None), ("fixture", "sqlfluff", FIXTURE_PLATFORMS)):
        root = corpus / folder
        if not root.is_dir():
            continue
        for sub in sorted(p for p in root.iterdir() if p.is_dir()):
            platform = sub.name if labels is None else labels.get(sub.name)
            for path in sorted(p for p in sub.rglob("*") if p.is_file()):
                key = f"{folder}/{path.relative_to(root).as_posix()}"
                yield kind, platform, path, part_of(key)
