"""Every instruction-set path of the scanners gives the same answers: the differential tests run again
under each path this CPU has besides the fastest (which the ordinary run takes), each in an interpreter
of its own, the path chosen through TESSERA_ISA when the modules load."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

TESTS = Path(__file__).resolve().parents[1]
DIFFERENTIAL = sorted(str(p) for p in TESTS.glob("*/test_differential_*.py"))
PATHS = ["sse2", "sse4.1", "avx2"]


def fastest_path():
    try:
        flags = next(line for line in Path("/proc/cpuinfo").read_text().splitlines() if line.startswith("flags"))
    except (OSError, StopIteration):
        return None
    flags = set(flags.split())
    return "avx2" if "avx2" in flags else "sse4.1" if "sse4_1" in flags else "sse2"


def load_under(value):
    return subprocess.run([sys.executable, "-c", "import agents.tessera.complexity"], capture_output=True, text=True,
                          env={**os.environ, "TESSERA_ISA": value}, timeout=120)


@pytest.mark.parametrize("path", PATHS)
def test_differential_tests_pass_on_every_path(path):
    if os.environ.get("TESSERA_ISA"):
        pytest.skip("this run is itself on a forced path")
    if path == fastest_path():
        pytest.skip(f"{path} is the path the ordinary run takes")
    probe = load_under(path)
    if "this CPU cannot run" in probe.stderr:
        pytest.skip(f"this CPU has no {path}")
    assert probe.returncode == 0, probe.stderr
    run = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "-x", *DIFFERENTIAL],
                         capture_output=True, text=True, cwd=TESTS.parent, env={**os.environ, "TESSERA_ISA": path},
                         timeout=3600)
    assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-2000:]


def test_a_path_that_cannot_be_honoured_fails_the_import():
    unknown = load_under("sse9")
    assert "ValueError: TESSERA_ISA=sse9 names no instruction-set path" in unknown.stderr
    assert load_under("auto").returncode == 0
