import os
import sys
from pathlib import Path

from hypothesis import HealthCheck, settings

# The `re` transcription that the native modules are checked against lives beside the tests.
sys.path.insert(0, str(Path(__file__).resolve().parent))

settings.register_profile(
    "ci",
    max_examples=300,
    deadline=None,
    derandomize=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
settings.register_profile(
    "dev",
    max_examples=150,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
# For a long hunt after a change to the matcher: HYPOTHESIS_PROFILE=thorough.
settings.register_profile(
    "thorough",
    max_examples=5000,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci" if os.environ.get("CI") else "dev"))

# Real scripts and documents from public repositories, kept beside the checkout (read-only).
CORPUS = Path(__file__).resolve().parents[1].parent / "shared" / "corpus"

# The scanners' instruction-set paths: forcing one through the matcher module switches every module.
import itertools  # noqa: E402

import pytest  # noqa: E402

from agents.tessera import _matcher  # noqa: E402

ISA_PATHS = _matcher.available_isas()
_next_path = itertools.cycle(ISA_PATHS)


@pytest.fixture
def force_isa():
    """force_isa(path) for the rest of the test; the automatic choice comes back after it."""
    yield _matcher.force_isa
    _matcher.force_isa(None)


@pytest.fixture(autouse=True)
def differential_paths(request):
    # The differential tests take this CPU's paths in turn, one test each, so that every path is held
    # to the transcription on generated text and on the corpus without running the tests once per
    # path. A run under TESSERA_ISA stays on the path it asked for.
    if os.environ.get("TESSERA_ISA") or not request.module.__name__.rpartition(".")[2].startswith("test_differential_"):
        yield
        return
    _matcher.force_isa(next(_next_path))
    try:
        yield
    finally:
        _matcher.force_isa(None)
