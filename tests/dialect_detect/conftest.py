import os
import sys
from pathlib import Path

import pytest
import structlog

# This folder's test files share their `re` loops.
sys.path.insert(0, str(Path(__file__).resolve().parent))


def _corpus() -> Path | None:
    if os.environ.get("TESSERA_CORPUS"):
        return Path(os.environ["TESSERA_CORPUS"])
    # Beside the checkout, or beside a parent of it (a worktree).
    for parent in Path(__file__).resolve().parents:
        if (parent / "shared" / "corpus").is_dir():
            return parent / "shared" / "corpus"
    return None


CORPUS = _corpus()


@pytest.fixture
def corpus() -> Path:
    if CORPUS is None or not CORPUS.is_dir():
        pytest.skip("no corpus beside the checkout (set TESSERA_CORPUS to its folder)")
    return CORPUS


@pytest.fixture(autouse=True)
def quiet_logs():
    with structlog.testing.capture_logs() as logs:
        yield logs
