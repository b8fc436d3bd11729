import os
import subprocess
import sys
from pathlib import Path

import pytest

from tessera_cli.spark_engine import missing_requirement

ROOT = Path(__file__).resolve().parents[2]
CORPUS = ROOT.parent / "shared" / "corpus"


def _sanitized() -> bool:
    return "libasan" in os.environ.get("LD_PRELOAD", "")


def pytest_runtest_setup(item: pytest.Item) -> None:
    if item.get_closest_marker("spark") is None:
        return
    if _sanitized():
        # The JVM and Spark's Python workers would inherit the preloaded sanitizer runtimes, and
        # neither is built for them; these tests ran in the normal pass.
        pytest.skip("Spark tests skipped in the sanitizer run: LD_PRELOAD holds libasan, which the JVM "
                    "and Spark's Python workers would inherit; they ran in the normal pass")
    problem = missing_requirement()
    if problem is not None:
        if os.environ.get("CI"):
            pytest.fail(f"CI must run the Spark tests: {problem}")
        pytest.skip(f"Spark tests need what is missing here: {problem}")


@pytest.fixture(scope="session")
def spark():
    """One local Spark for the whole run: starting the JVM costs more than every test together."""
    from tessera_spark import session

    spark = session("local[2]", app_name="tessera tests", conf={
        "spark.sql.shuffle.partitions": "2",
        "spark.default.parallelism": "2",
        # Small batches, so that the tests' few rows still span several batches per task.
        "spark.sql.execution.arrow.maxRecordsPerBatch": "500",
    })
    yield spark
    spark.stop()


@pytest.fixture(scope="session")
def corpus() -> Path:
    """The shared corpus; beside a checkout in CI, or named by TESSERA_CORPUS in a worktree."""
    where = Path(os.environ.get("TESSERA_CORPUS", CORPUS))
    if not where.is_dir():
        if os.environ.get("CI"):
            pytest.fail(f"the shared corpus is missing at {where}")
        pytest.skip(f"no shared corpus at {where} (set TESSERA_CORPUS)")
    return where


def _run_cli(*args: str, env: dict[str, str] | None = None) -> subprocess.CompletedProcess:
    base = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "FORCE_COLOR", "COLUMNS")}
    return subprocess.run(
        [sys.executable, "-m", "tessera_cli", *args],
        cwd=ROOT, env={**base, **(env or {})}, capture_output=True, text=True, timeout=900,
    )


@pytest.fixture(scope="session")
def run_cli():
    return _run_cli
