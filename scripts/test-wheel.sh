#!/usr/bin/env bash
# Tests the distribution as a user gets it: builds the sdist and the manylinux wheel (the wheel from
# the sdist), installs the wheel into a fresh venv with no compiler reachable, binary packages only
# for it and its runtime dependencies, and runs the test suite and `tessera assess examples/`
# against the installed package rather than the source tree.
# Usage: scripts/test-wheel.sh [pytest args]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

mapfile -t built < <(bash scripts/build-dist.sh)
sdist=${built[0]}
wheel=${built[1]}
echo "sdist: $sdist" >&2
echo "wheel: $wheel" >&2

tools=${TESSERA_DIST_VENV:-$here/.venv-dist}
# auditwheel lists as "external versioned symbols" only libraries of the manylinux policy; anything
# else the wheel needed would have been grafted into agents/tessera.libs by the repair.
shown=$("$tools/bin/python" -m auditwheel show "$wheel")
echo "$shown" >&2
echo "$shown" | tr -s ' \n' ' ' | grep -q 'consistent with the following platform tag: "manylinux_' \
  || { echo "error: auditwheel does not find a manylinux tag for $wheel" >&2; exit 1; }
if "$tools/bin/python" -m zipfile -l "$wheel" | grep -q '\.libs/'; then
  echo "error: the repair had to graft external libraries into $wheel" >&2; exit 1
fi

# What a user gets: the modules, their stubs and py.typed, the command; `agents` and
# `agents.tessera` stay namespace packages; no tests, sources or build leftovers.
# Every folder under native/ other than the shared ones is an extension module (as CMakeLists.txt
# builds them), so the list of what the wheel must hold can't fall behind the source tree.
modules=$(cd native && for d in */; do d=${d%/}; case $d in regex|text|python) ;; *) echo "$d" ;; esac; done)
"$tools/bin/python" - "$wheel" $modules <<'PY'
import sys, zipfile
modules = sys.argv[2:]
names = [n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/")]
problems = []
for need in ("agents/tessera/py.typed", "agents/tessera/complexity.pyi", "tessera_cli/main.py"):
    if need not in names:
        problems.append(f"missing {need}")
for module in modules:
    if not any(n.startswith(f"agents/tessera/{module}.cpython-313-") and n.endswith(".so") for n in names):
        problems.append(f"missing the {module} extension")
for name in names:
    top = name.split("/")[0]
    if name in ("agents/__init__.py", "agents/tessera/__init__.py"):
        problems.append(f"{name} would turn a namespace package into a regular one")
    elif top not in ("agents", "tessera_cli", "tessera_spark") and not top.endswith(".dist-info"):
        problems.append(f"unexpected {name}")
    elif name.endswith((".cpp", ".hpp", ".h", ".o", ".a", ".txt.in")) or "/tests/" in name:
        problems.append(f"unexpected {name}")
if problems:
    raise SystemExit("error: wheel contents:\n  " + "\n  ".join(problems))
print(f"wheel contents: {len(names)} files, as expected", file=sys.stderr)
PY

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A PATH without any compiler: every tool of the system's bin folders except the C and C++
# compilers, so that anything trying to build from source fails instead of quietly succeeding.
mkdir "$work/bin"
for dir in /usr/local/bin /usr/bin /bin; do
  for tool in "$dir"/*; do
    name=${tool##*/}
    case $name in
      cc|c++|cpp|gcc*|g++*|clang*|*-gcc*|*-g++*|*-cc|*-c++|tcc) continue ;;
    esac
    [ -e "$work/bin/$name" ] || ln -s "$tool" "$work/bin/$name"
  done
done
nocc_path="$work/venv/bin:$work/bin"

python=$(scripts/find-python313.sh)
"$python" -m venv "$work/venv"
export PATH="$nocc_path"
unset CC CXX
if command -v g++ >/dev/null 2>&1 || command -v cc >/dev/null 2>&1; then
  echo "error: a compiler is still reachable on PATH" >&2; exit 1
fi
"$work/venv/bin/python" -m pip install --quiet --upgrade pip
"$work/venv/bin/python" -m pip install --quiet --only-binary :all: "$wheel[cli]"
# The test extra may name pure-Python packages published only as sources; they are the tests'
# needs, not the user's, so they are installed without the binary-only rule.
"$work/venv/bin/python" -m pip install --quiet "$wheel[test]"
"$work/venv/bin/python" -m pip check

# The tests must see the installed package: prove where the modules come from before trusting a
# green run.
"$work/venv/bin/python" - "$work/venv" $modules <<'PY'
import importlib, sys
from pathlib import Path
venv = Path(sys.argv[1]).resolve()
for name in [f"agents.tessera.{m}" for m in sys.argv[2:]] + ["agents.tessera.dialect_probe", "tessera_cli"]:
    origin = Path(importlib.import_module(name).__file__).resolve()
    if venv not in origin.parents:
        raise SystemExit(f"error: {name} comes from {origin}, not from the installed wheel")
print("modules load from the installed wheel", file=sys.stderr)
PY

cd "$here"
# The one test that builds the engine from the checkout's sources needs the compiler this
# environment hides on purpose; it has nothing to say about the installed wheel.
"$work/venv/bin/python" -m pytest -p no:cacheprovider \
  --deselect tests/matcher/test_engine_alone.py::test_engine_links_and_runs_without_the_interpreter "$@" tests
"$work/venv/bin/tessera" assess examples/ --format json > "$work/examples.json"
"$work/venv/bin/python" - "$work/examples.json" "$wheel" <<'PY'
import json, subprocess, sys
from importlib.metadata import version
report = json.load(open(sys.argv[1]))
print(f"tessera assess examples/ from the wheel: {len(report['files'])} files", file=sys.stderr)
shown = subprocess.run(["tessera", "--version"], capture_output=True, text=True, check=True).stdout
if version("tessera-native") not in shown or f"-{version('tessera-native')}-" not in sys.argv[2]:
    raise SystemExit(f"error: tessera --version says {shown.strip()!r}; the wheel is {sys.argv[2]}")
print(shown.strip(), file=sys.stderr)
PY
