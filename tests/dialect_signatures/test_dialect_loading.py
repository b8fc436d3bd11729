"""Loading the catalogue against other dialect_probe modules, each in a fresh interpreter.

A temp dir holding agents/tessera/dialect_probe.py goes first on sys.path: agents and agents.tessera are
namespace packages whose portions are searched in sys.path order, so that probe shadows the installed one
while the compiled catalogue still comes from the installed portion.
"""

import importlib.util
import json
import subprocess
import sys
import textwrap

import pytest

import agents.tessera.dialect_signatures as catalogue

NAMES = ["Marker"] + [f"PLATFORM_{p}" for p in
                      "DATABRICKS SNOWFLAKE POSTGRESQL MYSQL SQLSERVER ORACLE REDSHIFT BIGQUERY TERADATA HIVE".split()]
CONSTANTS = "".join(f"{name} = {name[9:].lower()!r}\n" for name in NAMES[1:])
INIT_FRAME = "init agents.tessera.dialect_signatures"
PROLOGUE = """
import json, sys, traceback
sys.path.insert(0, {root!r})
out = {{}}

def attempt(load):  # the outcome of a load that is expected to fail with ImportError or ValueError
    try:
        load()
    except (ImportError, ValueError) as exc:
        tb = [f.name for f in traceback.extract_tb(exc.__traceback__)]
        return [str(exc), getattr(exc, "name", None), getattr(exc, "path", None), getattr(exc, "name_from", None), tb]

def load_catalogue():
    import agents.tessera.dialect_signatures
"""


@pytest.fixture
def run_with_probe(tmp_path):
    def run(probe_source, script):
        probe = tmp_path / "agents" / "tessera" / "dialect_probe.py"
        probe.parent.mkdir(parents=True)
        probe.write_text(textwrap.dedent(probe_source))
        script = PROLOGUE.format(root=str(tmp_path)) + textwrap.dedent(script) + """
out["probe"] = sys.modules["agents.tessera.dialect_probe"].__file__
print(json.dumps(out))
"""
        proc = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, capture_output=True, text=True, timeout=120)
        assert proc.returncode == 0, proc.stderr
        out = json.loads(proc.stdout)
        assert out.pop("probe") == str(probe)
        return out

    return run


@pytest.mark.parametrize("fail_at", [1, 133])
def test_a_failing_marker_leaves_nothing_behind_and_each_record_is_one_keyword_call(run_with_probe, fail_at):
    out = run_with_probe(CONSTANTS + textwrap.dedent("""
        import sys, weakref
        CALLS, BUILT, FAIL_AT = [], weakref.WeakSet(), None

        class Record:
            def __init__(self, kwargs):
                self.kwargs = kwargs

        def Marker(*args, **kwargs):
            bound = hasattr(sys.modules.get("agents.tessera.dialect_signatures"), "PLATFORM_MARKERS")
            CALLS.append([len(args), list(kwargs)[:4], bound])
            if len(CALLS) == FAIL_AT:
                raise ValueError("refused")
            BUILT.add(record := Record(kwargs))
            return record
        """), f"""
        import gc
        import agents.tessera.dialect_probe as probe
        probe.FAIL_AT = {fail_at}
        out["failure"] = attempt(load_catalogue)
        gc.collect()
        out["after_failure"] = ["agents.tessera.dialect_signatures" in sys.modules, len(probe.BUILT), len(probe.CALLS)]
        probe.FAIL_AT, probe.CALLS[:] = None, []
        import agents.tessera.dialect_signatures as catalogue
        markers = catalogue.PLATFORM_MARKERS
        out["calls"] = probe.CALLS
        out["records"] = [len(markers), len(probe.BUILT), len({{id(m.kwargs["platforms"]) for m in markers}})]
        out["extras"] = [[m.kwargs["id"], *list(m.kwargs.items())[4:]] for m in markers if len(m.kwargs) > 4]
        """)
    assert out["failure"][0] == "refused" and INIT_FRAME in out["failure"][4]
    assert out["after_failure"] == [False, 0, fail_at]
    assert out["records"] == [133, 133, 133]
    assert out["calls"] == [[0, ["id", "platforms", "confidence", "pattern"], False]] * 133
    assert len(out["extras"]) == 15 and all(len(e) == 2 for e in out["extras"])
    extras = {marker_id: tuple(extra) for marker_id, extra in out["extras"]}
    assert {k for k, v in extras.items() if v == ("scope", "comment")} == {
        "databricks.notebook_header", "databricks.optimizer_hint", "mysql.version_comment"}
    assert {k for k, v in extras.items() if v == ("corroborating_only", False)} == {
        "hive.msck_repair", "hive.string_angle_bracket_colon", "shared.select_star_except"}
    assert sum(v == ("corroborating_only", True) for v in extras.values()) == 9


@pytest.mark.parametrize("missing", [["PLATFORM_SNOWFLAKE", "PLATFORM_HIVE"], ["Marker"]])
def test_a_missing_name_fails_as_a_from_import_would(run_with_probe, missing):
    # The probe also tries the catalogue while it is itself still loading, which the host words differently.
    probe = CONSTANTS + "Marker = dict\n" + "".join(f"del {name}\n" for name in missing) + f"""
from __main__ import attempt, load_catalogue
EXEC = "from agents.tessera.dialect_probe import {', '.join(NAMES)}"
EARLY = [attempt(load_catalogue), attempt(lambda: exec(EXEC))]
"""
    out = run_with_probe(probe, """
        import agents.tessera.dialect_probe as probe
        out["early"] = probe.EARLY
        out["late"] = [attempt(load_catalogue), attempt(lambda: exec(probe.EXEC))]
        out["loaded"] = "agents.tessera.dialect_signatures" in sys.modules
        """)
    for (native, python), state in [(out["early"], "partially initialized module "), (out["late"], "")]:
        assert native[0].startswith(f"cannot import name {missing[0]!r} from {state}'agents.tessera.dialect_probe' (")
        assert native[:4] == python[:4] and native[3] == missing[0] and INIT_FRAME in native[4]
    assert out["loaded"] is False


@pytest.mark.parametrize("first", ["dialect_probe", "dialect_signatures"])
def test_a_probe_may_import_the_catalogue_once_its_names_are_bound(run_with_probe, first):
    probe = CONSTANTS + "Marker = dict\nfrom agents.tessera import dialect_signatures as catalogue\n"
    out = run_with_probe(probe, f"""
        import agents.tessera.{first}
        import agents.tessera.dialect_probe as probe, agents.tessera.dialect_signatures as catalogue
        out["loaded"] = [probe.catalogue is catalogue, len(catalogue.PLATFORM_MARKERS)]
        """)
    assert out["loaded"] == [True, 133]


def test_a_second_initialisation_is_refused():
    spec = importlib.util.find_spec("agents.tessera.dialect_signatures")
    message = r"^Module 'dialect_signatures' has already been imported\. Re-initialisation is not supported\.$"
    with pytest.raises(RuntimeError, match=message):
        spec.loader.exec_module(importlib.util.module_from_spec(spec))
    assert sys.modules["agents.tessera.dialect_signatures"] is catalogue and len(catalogue.PLATFORM_MARKERS) == 133
