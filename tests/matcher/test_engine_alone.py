"""The matcher builds and runs without the interpreter: its sources and a test with a Unicode adapter of
its own, compiled by the C++ compiler alone (no Python headers on the include path)."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def compiler():
    for name in (os.environ.get("CXX"), "c++", "g++", "clang++"):
        if name and shutil.which(name):
            return name
    if os.environ.get("CI"):
        pytest.fail("no C++ compiler, which CI must have")
    pytest.skip("no C++ compiler on PATH")


def test_engine_links_and_runs_without_the_interpreter(tmp_path):
    cxx = compiler()
    sources = sorted(str(p) for p in (ROOT / "native" / "regex").glob("*.cpp"))
    exe = tmp_path / "engine_test"
    build = subprocess.run([cxx, "-std=c++20", "-O1", "-w", "-I", str(ROOT / "native"), *sources,
                            str(ROOT / "tests" / "matcher" / "engine" / "engine_test.cpp"), "-o", str(exe)],
                           capture_output=True, text=True, timeout=900)
    assert build.returncode == 0, build.stderr[-4000:]
    run = subprocess.run([str(exe)], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert "all passed" in run.stdout
