#!/usr/bin/env bash
# Fails unless the DLL exports exactly the names under "global:" in the
# export map, plain and undecorated, and imports nothing but DLLs that come
# with Windows itself. Given the directory of the 32-bit DLL's object files,
# it also fails unless every export is stdcall: the compiler named it
# _name@N, and the code at the exported address returns with "ret N",
# taking its N bytes of arguments off the stack as stdcall callers expect.
# Usage: check_dll_tables.sh DLL EXPORTS_MAP [OBJECT_DIR]
set -euo pipefail
dll="$1" map="$2" objects="${3:-}"
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

if [ -n "$objects" ]; then
  objdump=i686-w64-mingw32-objdump
  base=$((16#$(awk '/^ImageBase/ {print $2}' <<<"$tables")))
  # Export Address Table lines: "[   3] +base[   4] e230 Export RVA";
  # name lines: "[   3] TwHttpCall", the number indexing the address table.
  declare -A rva
  while read -r index address; do rva[$index]=$address; done < <(
    awk '/^Export Address Table --/ {on = 1; next} on && /^[ \t]*\[/ {gsub(/[][]/, ""); print $1, $4; next} on {exit}' <<<"$tables")
  decorated=$(i686-w64-mingw32-nm "$objects"/*.obj | grep -oE ' T _[A-Za-z_][A-Za-z0-9_]*@[0-9]+$' | sed 's/^ T _//')
  checked=0
  while read -r index name; do
    bytes=$(grep -oE "^$name@[0-9]+\$" <<<"$decorated" | sed 's/.*@//' || true)
    if [ -z "$bytes" ]; then
      echo "$name is not stdcall: no _$name@N in $objects"
      status=1
      continue
    fi
    start=$((base + 16#${rva[$index]}))
    code=$("$objdump" -d --no-show-raw-insn --start-address=$start --stop-address=$((start + 16384)) "$dll")
    ret=$(grep -m1 -E '\sret' <<<"$code" | sed -E 's/.*\sret\s*//')
    want='$'"$(printf '0x%x' "$bytes")"
    [ "$bytes" -ne 0 ] || want=""
    if [ "$ret" != "$want" ]; then
      echo "$name (stdcall, $bytes bytes of arguments) returns with 'ret $ret' instead of 'ret $want'"
      status=1
    fi
    checked=$((checked + 1))
  done < <(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && /^[ \t]*\[/ {gsub(/[][]/, ""); print $1, $2; next} on {exit}' <<<"$tables")
  [ "$status" -ne 0 ] || echo "stdcall: all $checked exports return with ret N"
fi
[ "$status" -eq 0 ] || exit 1
echo "exports: exactly the $(wc -l <<<"$expected") host functions; imports:" $imported
