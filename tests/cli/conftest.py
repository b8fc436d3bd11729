import os
import subprocess
import sys
from pathlib import Path

import pytest

from agents.tessera.complexity import classify_sql_file, plan_reading_strategy
from agents.tessera.dialect_detect import detect_dialect_file
from agents.tessera.reference_curator import detect_construct_categories
from tessera_cli.estate import SQL_EXTENSIONS

ROOT = Path(__file__).resolve().parents[2]


def _run_cli(*args: str, env: dict[str, str] | None = None, cwd: Path = ROOT) -> subprocess.CompletedProcess:
    """The command as a user runs it, from the top of the checkout so that report paths are the
    relative ones typed here."""
    base = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "FORCE_COLOR", "COLUMNS")}
    return subprocess.run(
        [sys.executable, "-m", "tessera_cli", *args],
        cwd=cwd,
        env={**base, **(env or {})},
        capture_output=True,
        text=True,
        timeout=600,
    )


def module_row(path: Path, shown: str) -> dict:
    """What the modules themselves say about one file, through their own file entry points."""
    result = classify_sql_file(path)
    plan = plan_reading_strategy(path)
    size = path.stat().st_size
    return {
        "path": shown,
        "bytes": size,
        "empty": size == 0,
        "total_lines": plan.total_lines,
        "effective_lines": result.effective_lines,
        "grade": result.complexity.value,
        "stored_proc_count": result.stored_proc_count,
        "complex_construct_count": result.complex_construct_count,
        "moderate_construct_count": result.moderate_construct_count,
        "temp_table_count": result.temp_table_count,
        "cte_count": result.cte_count,
        "analysis_turns": result.recommended_analysis_turns,
        "conversion_turns": result.recommended_conversion_turns,
        "audit_turns": result.recommended_audit_turns,
        "chunked": plan.should_chunk,
        "sections": len(plan.section_boundaries),
        "categories": sorted(detect_construct_categories(path.read_text(encoding="utf-8"))),
        "dialect": detect_dialect_file(path).platform or "undecided",
        "error": None,
    }


@pytest.fixture(scope="session")
def run_cli():
    return _run_cli


@pytest.fixture(scope="session")
def estates() -> dict[str, list[dict]]:
    """Every SQL file of the shipped examples and of the shared corpus, as the modules see it,
    keyed by the path given on the command line."""
    found = {}
    for given in ("examples/", "../shared/corpus/"):
        root = ROOT / given
        if root.is_dir():
            files = sorted(
                p.relative_to(ROOT).as_posix()
                for p in root.rglob("*")
                if p.is_file() and p.suffix.lower() in SQL_EXTENSIONS
            )
            found[given] = [module_row(ROOT / name, name) for name in files]
    return found
