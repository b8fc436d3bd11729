"""The trigram counts compiled into the matcher, by which the literal scan keys each literal, are the
ones the measuring script derives from the corpus: a corpus change without a re-measure shows up here,
as does a table edited by hand."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
CORPUS = Path(os.environ.get("TESSERA_CORPUS") or ROOT.parent / "shared" / "corpus")


def test_the_committed_trigrams_are_the_measured_ones(tmp_path):
    if not CORPUS.is_dir():
        pytest.skip("no corpus beside the checkout (set TESSERA_CORPUS to its folder)")
    out = tmp_path / "trigrams.hpp"
    run = subprocess.run(
        [sys.executable, str(ROOT / "scripts" / "measure_trigrams.py"), "--corpus", str(CORPUS), "--out", str(out)],
        capture_output=True, text=True, timeout=600,
    )
    assert run.returncode == 0, run.stderr
    assert out.read_text(encoding="utf-8") == (ROOT / "native" / "regex" / "trigrams.hpp").read_text(encoding="utf-8")
