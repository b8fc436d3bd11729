"""The scanners' instruction-set paths: one choice for the whole process, whichever module forces it or
reads TESSERA_ISA, and every path gives the answers of the fastest."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

import agents.tessera.complexity as cx
import agents.tessera.dialect_detect as dd
import agents.tessera.inventory as inv
import agents.tessera.reference_curator as rc
from agents.tessera import _matcher

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus"
LARGE = sorted((CORPUS / "tsql-large").glob("*.sql"))[:4]


def answers(text):
    return (cx.classify_sql(text), rc.detect_construct_categories(text), dd.detect_dialect(text),
            inv.find_objects(text))


@pytest.mark.parametrize("path", LARGE, ids=lambda p: p.name)
def test_every_path_answers_as_the_automatic_one(path, force_isa):
    one = path.read_text(encoding="utf-8")
    one = "".join(c if ord(c) < 256 else "?" for c in one)
    for text in (one, one + "\n-- \u2014", one + "\nSELECT '\U0001f600'"):
        expected = answers(text)
        for isa in _matcher.available_isas():
            force_isa(isa)
            assert _matcher.current_isa() == isa
            assert answers(text) == expected, isa
        force_isa(None)


def python(code, isa=None, check=True):
    env = {k: v for k, v in os.environ.items() if k != "TESSERA_ISA"}
    if isa is not None:
        env["TESSERA_ISA"] = isa
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=120)
    assert not check or run.returncode == 0, run.stderr
    return run


def test_the_environment_sets_the_path_once_for_every_module():
    # Loaded first, a scanning module brings the matcher module, which reads TESSERA_ISA for all.
    slowest = _matcher.available_isas()[0]
    shown = python("import sys, agents.tessera.complexity as cx; cx.classify_sql('x');"
                   "print(sys.modules['agents.tessera._matcher'].current_isa())", slowest)
    assert shown.stdout.split()[-1] == slowest
    unknown = python("import agents.tessera.complexity", "sse9", check=False)
    assert "ValueError: TESSERA_ISA=sse9 names no instruction-set path" in unknown.stderr
    python("import agents.tessera.complexity", "auto")
    # A module loaded where the matcher module cannot be imported keeps a path of its own.
    alone = python("import sys; sys.modules['agents.tessera._matcher'] = None\n"
                   "import agents.tessera.complexity as cx\nprint(cx.classify_sql('MERGE x').complexity)", slowest)
    assert alone.stdout.split()[-1] == "complex"
