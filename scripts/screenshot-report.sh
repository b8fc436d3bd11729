#!/usr/bin/env bash
# Renders the HTML report of examples/ and photographs it with headless Chromium into
# docs/report.png, the picture the README shows. Usage: scripts/screenshot-report.sh [PNG]
set -euo pipefail
cd "$(dirname "$0")/.."
png=${1:-docs/report.png}
bash scripts/setup.sh .venv report >/dev/null
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "screenshot-report.sh: chromium is not installed (apt-get install -y chromium)" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Relative paths, so that the page shows them as a user who runs it from the checkout sees them.
.venv/bin/tessera report examples/ -o "$work/report.html"
mkdir -p "$(dirname "$png")"
# The page draws its charts on load; the virtual-time budget lets it finish before the shot. A
# sanitizer runtime preloaded into the caller must not reach the browser.
env -u LD_PRELOAD "$browser" --headless=new --no-sandbox --disable-gpu --hide-scrollbars \
  --force-device-scale-factor=1 --window-size=1280,1500 --virtual-time-budget=10000 \
  --screenshot="$work/shot.png" "file://$work/report.html" >/dev/null 2>&1
cp "$work/shot.png" "$png"
echo "wrote $png ($(stat -c %s "$png") bytes)"
