#!/usr/bin/env bash
# Creates (or refreshes) a Python 3.13 virtual environment and installs tessera into it, built from
# this checkout, with the given extras. Usage: scripts/setup.sh VENV_DIR [EXTRAS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
venv=${1:?usage: setup.sh VENV_DIR [EXTRAS]}
extras=${2:-}
if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
  python=$("$here/scripts/find-python313.sh")
  echo "creating $venv with $python" >&2
  rm -rf "$venv"
  "$python" -m venv "$venv"
fi
"$venv/bin/python" -m pip install --quiet --upgrade pip >&2
spec="$here"
[ -n "$extras" ] && spec="$here[$extras]"
"$venv/bin/python" -m pip install --quiet "$spec" >&2
