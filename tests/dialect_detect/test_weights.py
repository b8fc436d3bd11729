"""The weights compiled into the module are the ones the fitting script derives from the corpus and the
current lexicon: a lexicon or catalogue change without a refit shows up here."""

import re
import subprocess
import sys
from pathlib import Path

from agents.tessera import dialect_probe
from agents.tessera.dialect_detect import _LEXICON
from agents.tessera.dialect_signatures import PLATFORM_MARKERS

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


def test_an_entry_weighs_the_same_towards_every_platform_it_names():
    # Which of an entry's platforms the corpus's few repositories use it in says more about their authors
    # than about the platforms: a per-platform fit named legacy BigQuery scripts, which comment with the
    # `#` MySQL shares, MySQL.
    columns = ("DATABRICKS", "SNOWFLAKE", "POSTGRESQL", "MYSQL", "SQLSERVER", "ORACLE", "REDSHIFT", "BIGQUERY",
               "TERADATA", "HIVE")
    order = [getattr(dialect_probe, f"PLATFORM_{name}") for name in columns]
    named = {m.id: set(m.platforms) for m in PLATFORM_MARKERS} | {ident: set(p) for ident, p, _ in _LEXICON}
    table = (ROOT / "native" / "dialect_detect" / "weights.hpp").read_text(encoding="utf-8")
    rows = re.findall(r'\{"([\w.]+)", \{([^}]*)\}\}', table)
    assert {ident for ident, _ in rows} == set(named)
    for ident, values in rows:
        weights = dict(zip(order, map(float, values.split(","))))
        assert {p for p, w in weights.items() if w} <= named[ident], ident
        assert len({weights[p] for p in named[ident]}) == 1, ident
