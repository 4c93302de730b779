#!/usr/bin/env bash
# Builds the Debian packages libtarnwellfunctions1, libtarnwellfunctions-dev
# and tarnwell-tools in build-deb/ with CPack (cmake/Packaging.cmake), copies
# them to dist/ and runs lintian on them; fails when lintian reports an
# error. Installs missing packages first.
#
# Usage: tools/build-debs.sh      then, as root: dpkg -i dist/*.deb
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash tools/deps.sh tools/packages.txt tools/packages-debian.txt
jobs="$(nproc 2>/dev/null || echo 2)"
[ "$jobs" -le 2 ] || jobs=2

build=build-deb
# /usr as the prefix: GNUInstallDirs then gives Debian's multiarch libdir.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTW_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
mkdir -p dist
mapfile -t debs < <(find "$build/packages" -maxdepth 1 -name '*.deb' | sort)
[ ${#debs[@]} -eq 3 ] || { echo "expected 3 packages, got: ${debs[*]}" >&2; exit 1; }
for deb in "${debs[@]}"; do
  echo "== $(basename "$deb")"
  dpkg-deb --field "$deb" Package Version Depends | sed 's/^/   /'
  cp "$deb" dist/
done

# lintian's errors fail the build; warnings and notes are shown.
echo "== lintian"
status=0
lintian --no-tag-display-limit "${debs[@]}" | tee "$build/lintian.txt" || status=$?
if grep -q '^E:' "$build/lintian.txt"; then
  echo "lintian reports errors" >&2
  exit 1
fi
# Exit status 2 is lintian failing itself, not a finding.
[ "$status" -ne 2 ] || { echo "lintian could not run" >&2; exit 1; }
echo "== Wrote ${debs[*]##*/} to dist/"
