#!/usr/bin/env bash
# The Debian packages as a user meets them: builds them (tools/build-debs.sh,
# lintian included), installs all three with dpkg -i, builds the C consumer
# with pkg-config and the C++ consumer with find_package against the
# installed files alone, runs both and twcall against a loopback server,
# then removes the packages and checks that nothing of them is left.
# Needs root (dpkg); CI runs as root.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$PWD"
if [ "$(id -u)" -ne 0 ]; then
  echo "check-debian-packages.sh installs packages with dpkg and needs root; skipped"
  exit 0
fi
packages=(tarnwell-tools libtarnwellfunctions-dev libtarnwellfunctions1)
fail() { echo "FAIL: $*" >&2; exit 1; }

bash tools/build-debs.sh
version="$(sed -nE 's/^project\(TarnwellFunctions VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"
mapfile -t debs < <(printf '%s\n' "${packages[@]}" | sed "s|.*|build-deb/packages/&_$version-1_$(dpkg --print-architecture).deb|")
for deb in "${debs[@]}"; do [ -f "$deb" ] || fail "missing $deb"; done
# dpkg-shlibdeps, not a hand-written list, named the library's dependencies.
depends="$(dpkg-deb --field "${debs[2]}" Depends)"
grep -q 'libcurl4' <<<"$depends" || fail "libtarnwellfunctions1 does not depend on libcurl4: $depends"

source tools/loopback-server.sh
work="$(mktemp -d)"
cleanup() {
  stop_loopback_server
  dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The library and twcall first: twcall must run without the development
# files (which bring the unversioned .so link).
echo "== dpkg -i libtarnwellfunctions1 tarnwell-tools"
dpkg -i "${debs[2]}" "${debs[0]}"
mkdir "$work/site"
printf 'hello from the loopback server\n' >"$work/site/hello.txt"
printf '\x00\x01\x7f\x80\xfe\xff' >"$work/site/bytes.bin"
start_loopback_server "$work/site"

echo "== twcall from tarnwell-tools"
# (Outputs go into variables first: grep -q may stop reading early, and a
# writer cut off that way would fail the pipe under pipefail.)
out="$(cd "$work" && twcall -q TwHttpCall GET "$LOOPBACK_URL/hello.txt" '' '')"
[ "$out" = 'hello from the loopback server' ] || fail "twcall did not fetch the page: $out"
out="$(twcall TwVersion)"
grep -q "\"version\":\"$version\"" <<<"$out" || fail "twcall TwVersion does not report $version: $out"

echo "== dpkg -i libtarnwellfunctions-dev"
dpkg -i "${debs[1]}"
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status} ${Version}' "$p")" = "install ok installed $version-1" ] || fail "$p is not installed"
  [ -f "/usr/share/doc/$p/copyright" ] && grep -q "MIT License" "/usr/share/doc/$p/copyright" ||
    fail "$p has no MIT copyright file"
done
[ "$(pkg-config --modversion TarnwellFunctions)" = "$version" ] || fail "pkg-config does not report $version"

echo "== C consumer through the installed pkg-config file"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Wpedantic -Werror tests/install/consumer.c -o "$work/c_consumer" \
  $(pkg-config --cflags --libs TarnwellFunctions)
"$work/c_consumer" "$LOOPBACK_URL/hello.txt"
out="$(ldd "$work/c_consumer")"
grep -qE "libTarnwellFunctions.so.1 => (/usr)?/lib/" <<<"$out" || fail "the consumer does not load the installed library: $out"

echo "== C++ consumer through the installed CMake package"
cmake -S tests/install/cxx -B "$work/cxx" >/dev/null
cmake --build "$work/cxx" >/dev/null
"$work/cxx/consumer" "$LOOPBACK_URL/bytes.bin" "http://127.0.0.1:1/"

echo "== dpkg --purge"
mapfile -t files < <(dpkg -L "${packages[@]}" | grep -v '^/usr\(/[a-z]*\)\?$' | sort -u)
dpkg --purge "${packages[@]}"
left=()
for f in "${files[@]}"; do [ -f "$f" ] || [ -L "$f" ] && left+=("$f"); done
[ ${#left[@]} -eq 0 ] || fail "files left after removal: ${left[*]}"
! pkg-config --exists TarnwellFunctions || fail "pkg-config still finds TarnwellFunctions"
echo "== the packages installed, built two consumers, ran and were removed"
cd "$root"
