#!/usr/bin/env bash
# Fails unless the DLL exports exactly the names under "global:" in the
# export map, plain and undecorated, and imports nothing but DLLs that come
# with Windows itself. Usage: check_dll_tables.sh DLL EXPORTS_MAP
set -euo pipefail
dll="$1" map="$2"
objdump=x86_64-w64-mingw32-objdump
tables="$("$objdump" -p "$dll")"

# The name table follows "[Ordinal/Name Pointer] Table" (binutils 2.40).
exported=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && /^[ \t]*\[/ {print $NF; next} on {exit}' \
  <<<"$tables" | sort)
expected=$(sed -n '/global:/,/local:/p' "$map" | grep -oE '^[[:space:]]+[A-Za-z_][A-Za-z0-9_]*;' | tr -d ' \t;' | sort)
status=0
if [ "$exported" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$exported") || true
  echo "the DLL's exports differ from the host API (< expected, > exported)"
  status=1
fi

# DLLs every Windows since 7 ships in System32; anything else (a C++ or
# pthread runtime, a libcurl DLL) would have to travel with the host.
system_dlls='^(kernel32|msvcrt|advapi32|bcrypt|crypt32|ws2_32|secur32|user32|ntdll)\.dll$'
imported=$(grep -oP 'DLL Name: \K\S+' <<<"$tables" | tr 'A-Z' 'a-z' | sort -u)
foreign=$(grep -vE "$system_dlls" <<<"$imported" || true)
if [ -n "$foreign" ]; then
  echo "the DLL imports DLLs that are not part of Windows:" $foreign
  status=1
fi
[ "$status" -eq 0 ] || exit 1
echo "exports: exactly the $(wc -l <<<"$expected") host functions; imports:" $imported
