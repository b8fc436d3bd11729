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
