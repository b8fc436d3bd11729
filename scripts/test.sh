#!/usr/bin/env bash
# Sets up .venv (Python 3.13, the package built from this checkout, the test extras) and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh .venv test
exec .venv/bin/python -m pytest "$@"
