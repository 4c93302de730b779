#!/usr/bin/env bash
# Fails unless the dynamic symbols the library defines are exactly the
# names listed under "global:" in the export map.
set -euo pipefail
library="$1" map="$2"
defined=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
expected=$(sed -n '/global:/,/local:/p' "$map" | grep -oE '^[[:space:]]+[A-Za-z_][A-Za-z0-9_]*;' | tr -d ' \t;' | sort)
if [ "$defined" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$defined") || true
  echo "exported symbols differ from the host API (< expected, > defined)"
  exit 1
fi
echo "exactly the $(echo "$expected" | wc -l) host functions are exported"
