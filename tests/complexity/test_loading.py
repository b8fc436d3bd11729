"""Loading the module, each case in a fresh interpreter: a second initialisation is refused, and a body that
fails (structlog missing) leaves nothing behind, so a later import starts afresh."""

import json
import subprocess
import sys
import textwrap

import pytest

NAME = "agents.tessera.complexity"

PROLOGUE = """
import importlib, importlib.util, json, sys, traceback
out = {}

def failure(exc):
    return {
        "type": type(exc).__name__,
        "message": str(exc),
        "frames": [frame.name for frame in traceback.extract_tb(exc.__traceback__)],
    }

def works(module):
    return module.classify_sql("MERGE t").recommended_conversion_turns == 11
"""


def run(script, tmp_path):
    program = PROLOGUE + textwrap.dedent(script) + "\nprint(json.dumps(out))\n"
    proc = subprocess.run([sys.executable, "-c", program], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout.splitlines()[-1])  # the debug events print before it


def test_second_initialisation_is_refused(tmp_path):
    out = run(
        f"""
        import {NAME} as first
        spec = importlib.util.find_spec("{NAME}")
        try:
            second = importlib.util.module_from_spec(spec)
            spec.loader.exec_module(second)
        except Exception as exc:
            out["error"] = failure(exc)
        out["first_works"] = works(first)
        out["same"] = sys.modules["{NAME}"] is first
        out["reload"] = importlib.reload(first) is first and works(first)
        """,
        tmp_path,
    )
    assert out["error"]["type"] == "RuntimeError"
    assert out["error"]["message"] == (
        "Module 'complexity' has already been imported. Re-initialisation is not supported."
    )
    assert out["first_works"] and out["same"]
    assert out["reload"]


SHADOW = "raise ImportError('structlog is broken here')\n"


@pytest.mark.parametrize("how", ["none_in_sys_modules", "shadowing_package"])
def test_missing_structlog_fails_the_import_and_a_later_import_succeeds(tmp_path, how):
    if how == "shadowing_package":
        (tmp_path / "shadow").mkdir()
        (tmp_path / "shadow" / "structlog.py").write_text(SHADOW)
        hide, restore = "sys.path.insert(0, 'shadow')", "sys.path.remove('shadow'); sys.modules.pop('structlog', None)"
    else:
        hide, restore = "sys.modules['structlog'] = None", "del sys.modules['structlog']"
    out = run(
        f"""
        {hide}
        try:
            import {NAME}
        except BaseException as exc:
            out["error"] = failure(exc)
            out["is_import_error"] = isinstance(exc, ImportError)
        out["left_behind"] = "{NAME}" in sys.modules
        {restore}
        import {NAME} as module
        out["later_works"] = works(module)
        """,
        tmp_path,
    )
    assert out["is_import_error"], out["error"]
    assert f"init {NAME}" in out["error"]["frames"]
    assert not out["left_behind"]
    assert out["later_works"]


def test_importing_loads_no_more_than_it_needs(tmp_path):
    out = run(
        f"""
        import {NAME} as module
        out["file"] = module.__file__
        out["names"] = sorted(n for n in vars(module) if not n.startswith("__"))
        """,
        tmp_path,
    )
    assert out["file"].endswith(".so") and "/agents/tessera/complexity." in out["file"]
    assert {"classify_sql", "classify_sql_file", "logger", "SQLComplexity", "ComplexityResult"} <= set(out["names"])


def test_a_deleted_global_fails_as_in_a_python_function(tmp_path):
    # Each global the functions read at call time, deleted in turn (in a fresh interpreter, as the
    # module's namespace order is itself under test elsewhere).
    (tmp_path / "long.sql").write_text("SELECT 1\n" * 600)
    out = run(
        f"""
        import pathlib
        import {NAME} as cx
        path = pathlib.Path("long.sql")
        cases = [
            ("SQLComplexity", lambda: cx.classify_sql("SELECT 1")),
            ("ComplexityResult", lambda: cx.classify_sql("SELECT 1")),
            ("logger", lambda: cx.classify_sql("SELECT 1")),
            ("classify_sql", lambda: cx.classify_sql_file(path)),
            ("logger", lambda: cx.plan_reading_strategy(path)),
            ("FileReadingStrategy", lambda: cx.plan_reading_strategy(path)),
        ]
        out["errors"] = []
        for name, call in cases:
            saved = getattr(cx, name)
            delattr(cx, name)
            try:
                call()
            except Exception as exc:
                out["errors"].append([type(exc).__name__, str(exc), getattr(exc, "name", None)])
            setattr(cx, name, saved)
        """,
        tmp_path,
    )
    names = ["SQLComplexity", "ComplexityResult", "logger", "classify_sql", "logger", "FileReadingStrategy"]
    assert out["errors"] == [["NameError", f"name '{n}' is not defined", n] for n in names]
