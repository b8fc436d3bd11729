#!/usr/bin/env bash
# Sets up .venv (Python 3.13, the package built from this checkout) and assesses the shipped examples.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh .venv cli
exec .venv/bin/tessera assess examples/ "$@"
