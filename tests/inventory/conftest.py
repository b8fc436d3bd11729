from pathlib import Path

import pytest

from agents.tessera.inventory import find_objects


def _corpus() -> Path | None:
    # Kept beside the checkout (read-only); a worktree sits one folder deeper than the main checkout.
    for folder in Path(__file__).resolve().parents:
        if (folder / "shared" / "corpus").is_dir():
            return folder / "shared" / "corpus"
    return None


CORPUS = _corpus()


@pytest.fixture
def objects():
    """(kind, name, statement, first_line, last_line) of each object of a script."""

    def run(text):
        return [(o.kind.value, o.name, o.statement, o.first_line, o.last_line) for o in find_objects(text)]

    return run
