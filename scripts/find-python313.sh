#!/usr/bin/env bash
# Prints the path of a working CPython 3.13 interpreter, or explains on stderr why there is none.
# pyenv's python3.13 shim exists even when 3.13 is not a selected version and then refuses to run,
# so every candidate is actually executed before it is trusted.
set -u
works() { "$1" -c 'import sys; raise SystemExit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1; }
candidates=()
[ -n "${PYTHON313:-}" ] && candidates+=("$PYTHON313")
command -v python3.13 >/dev/null 2>&1 && candidates+=("$(command -v python3.13)")
if command -v pyenv >/dev/null 2>&1; then
  root=$(pyenv root 2>/dev/null)
  for d in "$root"/versions/3.13*; do [ -x "$d/bin/python3.13" ] && candidates+=("$d/bin/python3.13"); done
fi
for d in "$HOME"/.pyenv/versions/3.13* /usr/local/bin /usr/bin; do
  [ -x "$d/python3.13" ] && candidates+=("$d/python3.13")
  [ -x "$d/bin/python3.13" ] && candidates+=("$d/bin/python3.13")
done
for c in "${candidates[@]}"; do
  if works "$c"; then echo "$c"; exit 0; fi
done
echo "error: no working Python 3.13 interpreter found (tried: ${candidates[*]:-none});" \
     "install CPython 3.13 or set PYTHON313 to its path" >&2
exit 1
