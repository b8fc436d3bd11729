"""What loading leaves in the module, and how a refused or failed load behaves (fresh interpreters)."""

import json
import re
import subprocess
import sys
import textwrap

import oracle

from agents.tessera import reference_curator as curator

NAME = "agents.tessera.reference_curator"


def test_module_namespace_in_load_order():
    names = [n for n in vars(curator) if not n.startswith("__")]
    assert names == ["re", "structlog", "logger", "CONSTRUCT_TO_MAPPING_SECTIONS", "CONSTRUCT_TO_GOTCHA_SECTIONS",
                     "ALWAYS_INCLUDE_MAPPING", "ALWAYS_INCLUDE_GOTCHAS", "_CATEGORY_PATTERNS",
                     "detect_construct_categories", "select_knowledge", "extract_sections"]
    assert curator.re is re and curator.structlog is sys.modules["structlog"]
    for name in ["CONSTRUCT_TO_MAPPING_SECTIONS", "CONSTRUCT_TO_GOTCHA_SECTIONS", "ALWAYS_INCLUDE_MAPPING",
                 "ALWAYS_INCLUDE_GOTCHAS"]:
        assert repr(getattr(curator, name)) == repr(getattr(oracle, name))
    patterns = curator._CATEGORY_PATTERNS
    assert list(patterns) == list(oracle.CATEGORY_PATTERNS)
    assert all(type(p) is re.Pattern and p.flags == re.IGNORECASE | re.UNICODE for p in patterns.values())
    assert [p.pattern for p in patterns.values()] == [p.pattern for p in oracle.CATEGORY_PATTERNS.values()]


def run(script, tmp_path):
    program = "import importlib, importlib.util, json, sys, traceback\nout = {}\n" + textwrap.dedent(script)
    program += "\nprint(json.dumps(out))\n"
    proc = subprocess.run([sys.executable, "-c", program], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout)


def test_second_initialisation_is_refused(tmp_path):
    out = run(
        f"""
        import {NAME} as first
        second = importlib.util.module_from_spec(importlib.util.find_spec("{NAME}"))
        try:
            second.__spec__.loader.exec_module(second)
        except RuntimeError as exc:
            out["error"] = str(exc)
        out["still_works"] = first.detect_construct_categories("select 1") == {{"query"}}
        """,
        tmp_path,
    )
    assert out == {
        "error": "Module 'reference_curator' has already been imported. Re-initialisation is not supported.",
        "still_works": True,
    }


def test_missing_structlog_fails_the_import_and_leaves_nothing(tmp_path):
    out = run(
        f"""
        sys.modules["structlog"] = None
        try:
            import {NAME}
        except ImportError as exc:
            out["frames"] = [f.name for f in traceback.extract_tb(exc.__traceback__)]
        out["left_behind"] = "{NAME}" in sys.modules
        del sys.modules["structlog"]
        import {NAME} as again
        out["later"] = sorted(again.detect_construct_categories("MERGE t -- SELECT"))
        """,
        tmp_path,
    )
    assert f"init {NAME}" in out["frames"]
    assert out["left_behind"] is False
    assert out["later"] == ["merge"]
