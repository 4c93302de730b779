#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds two consumers against
# the installed files only: a C program through pkg-config and a C++ program
# through find_package. Both then call the library against a loopback server.
# Usage: run.sh BUILD_DIR SOURCE_DIR C_COMPILER CMAKE
set -euo pipefail
build="$1" source="$2" cc="$3" cmake="$4"
here="$source/tests/install"
# shellcheck source=../../tools/loopback-server.sh
source "$source/tools/loopback-server.sh"
work="$(mktemp -d)"
trap 'stop_loopback_server; rm -rf "$work"' EXIT
prefix="$work/prefix"

fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== install into $prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
headers="$(cd "$prefix/include" && find . -type f)"
[ "$headers" = "./TarnwellDll.h" ] || fail "installed headers are not exactly TarnwellDll.h: $headers"
pc="$(find "$prefix" -name TarnwellFunctions.pc)"
[ -n "$pc" ] || fail "no TarnwellFunctions.pc installed"
libdir="$(dirname "$(dirname "$pc")")"
[ -L "$libdir/libTarnwellFunctions.so" ] && [ -L "$libdir/libTarnwellFunctions.so.1" ] ||
  fail "SONAME links missing in $libdir"
# A consumer must not be sent looking for the library's own dependencies.
if grep -iE 'curl|nlohmann' "$pc" || grep -rE 'CURL|nlohmann|find_dependency' "$libdir/cmake"; then
  fail "installed package files mention curl or nlohmann"
fi

mkdir "$work/site"
printf 'hello from the loopback server\n' >"$work/site/hello.txt"
printf '\x00\x01\x7f\x80\xfe\xff' >"$work/site/bytes.bin"
start_loopback_server "$work/site"

echo "== C consumer through pkg-config"
export PKG_CONFIG_PATH="$(dirname "$pc")"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$here/consumer.c" -o "$work/c_consumer" \
  $(pkg-config --cflags --libs TarnwellFunctions) -Wl,-rpath,"$(pkg-config --variable=libdir TarnwellFunctions)"
"$work/c_consumer" "$LOOPBACK_URL/hello.txt"

echo "== C++ consumer through find_package"
"$cmake" -S "$here/cxx" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
"$cmake" --build "$work/cxx" >/dev/null
"$work/cxx/consumer" "$LOOPBACK_URL/bytes.bin" "http://127.0.0.1:1/"
echo "== both consumers built against the installed package and ran"
