#!/usr/bin/env bash
# Installs whichever of the packages in the given lists (default:
# tools/packages.txt) are missing, adding the architecture of a package
# named name:arch to dpkg first. Does nothing (and needs no network) when
# everything is there already.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -gt 0 ] || set -- "$here/packages.txt"
mapfile -t wanted < <(cat "$@" | grep -v '^\s*#' | grep -v '^\s*$')
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Packages of another architecture (wine32:i386) need it added to dpkg first.
for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/^[^:]*:\([a-z0-9]*\)$/\1/p' | sort -u); do
  dpkg --print-foreign-architectures | grep -qx "$arch" || [ "$(dpkg --print-architecture)" = "$arch" ] ||
    $sudo dpkg --add-architecture "$arch"
done
$sudo apt-get update -qq
$sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${missing[@]}"
