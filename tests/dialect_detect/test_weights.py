"""The weights compiled into the module are the ones the fitting script derives from the corpus and the
current lexicon: a lexicon or catalogue change without a refit shows up here."""

import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def test_the_committed_weights_are_the_fitted_ones(corpus, tmp_path):
    out = tmp_path / "weights.hpp"
    run = subprocess.run(
        [sys.executable, str(ROOT / "scripts" / "fit_dialect_weights.py"), "--corpus", str(corpus), "--out", str(out)],
        capture_output=True, text=True, timeout=600,
    )
    assert run.returncode == 0, run.stderr
    committed = (ROOT / "native" / "dialect_detect" / "weights.hpp").read_text(encoding="utf-8")
    assert out.read_text(encoding="utf-8") == committed
