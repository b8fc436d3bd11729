"""What the command says on a machine that cannot run Spark; no JVM is started here."""

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

from tessera_cli.spark_engine import _PACKAGES

ROOT = Path(__file__).resolve().parents[2]


def _assess_on_spark(tmp_path: Path, env: dict[str, str], preamble: str = "") -> subprocess.CompletedProcess:
    script = f"{preamble}import sys; from tessera_cli import main; sys.argv[0] = 'tessera'; main()"
    report = tmp_path / "report.json"
    return subprocess.run(
        [sys.executable, "-c", script, "assess", "examples/", "--engine", "spark", "-o", str(report)],
        cwd=ROOT, env=env, capture_output=True, text=True, timeout=120,
    )


def _without_java_home() -> dict[str, str]:
    return {k: v for k, v in os.environ.items() if k != "JAVA_HOME"}


def test_without_java_it_says_what_is_missing_and_exits_2(tmp_path):
    # The packages are asked for first, so the Java messages show only where the extra is installed.
    absent = [p for p in _PACKAGES if importlib.util.find_spec(p) is None]
    if absent:
        if os.environ.get("CI"):
            pytest.fail(f"CI must install the spark extra; missing: {', '.join(absent)}")
        pytest.skip(f"needs the spark extra (pip install '.[spark]'); missing: {', '.join(absent)}")
    base = _without_java_home()
    no_java = _assess_on_spark(tmp_path, {**base, "PATH": str(tmp_path)})
    assert no_java.returncode == 2
    # The last line: a preloaded runtime may have its say first.
    assert no_java.stderr.splitlines()[-1] == (
        "tessera: --engine spark needs a Java runtime and found no java on the PATH; install one "
        "(on Debian: apt-get install default-jre-headless)"
    )
    broken_home = _assess_on_spark(tmp_path, {**base, "JAVA_HOME": str(tmp_path)})
    assert broken_home.returncode == 2 and "no java in JAVA_HOME" in broken_home.stderr
    assert not (tmp_path / "report.json").exists()


def test_without_the_extra_it_says_what_is_missing_and_exits_2(tmp_path):
    base = _without_java_home()
    # An import of the package that fails stands for an installation without the extra.
    no_extra = _assess_on_spark(tmp_path, base, "import sys; sys.modules['pyspark'] = None; ")
    assert no_extra.returncode == 2
    assert no_extra.stderr.splitlines()[-1] == (
        "tessera: --engine spark needs the 'pyspark' package; install it with pip install 'tessera-native[spark]'"
    )
    # Nothing was started, so an earlier report would not have been touched.
    assert not (tmp_path / "report.json").exists()

