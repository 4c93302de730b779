#!/usr/bin/env bash
# Cross-builds the Windows DLL, twcall.exe and the Windows test host with
# mingw-w64 on Debian, and packs dist/TarnwellFunctions-<version>-win64.zip
# (or -win32.zip): the DLL, twcall.exe, the header, README-windows.txt made
# from README.md's sections, the Python module, a CA bundle from Debian's
# ca-certificates, LICENSE, CHANGELOG and every licence. The version is the
# one in CMakeLists.txt's project().
#
# libcurl comes from Debian's own source package of the libcurl that is
# installed here, built once as a static library (Schannel TLS, HTTP and
# HTTPS only, zlib from Debian's libz-mingw-w64-dev linked in statically,
# no other optional dependencies) and kept in .cache/windows under a key
# made of the curl and zlib versions, the architecture and the build
# options; a second run reuses it.
#
# Usage: tools/build-windows.sh [x86_64|i686|all]   (default x86_64)
#   x86_64: build-windows/ and the win64 zip.
#   i686:   build-windows-i686/ and the win32 zip (32-bit hosts).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$PWD"
jobs="$(nproc 2>/dev/null || echo 2)"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

case "${1:-x86_64}" in
  x86_64) arches=(x86_64) ;;
  i686) arches=(i686) ;;
  all) arches=(x86_64 i686) ;;
  *) echo "usage: $0 [x86_64|i686|all]" >&2; exit 2 ;;
esac

# ------------------------------------------------------------ packages
bash tools/deps.sh tools/packages.txt tools/packages-windows.txt

# ------------------------------------------- libcurl's source package
# deb-src entries for the Debian archive apt already uses, in a file of
# their own so the existing sources stay as they are.
curl_version="$(dpkg-query -W -f='${Version}' libcurl4-openssl-dev)"
enable_debian_sources() {
  local tmp
  tmp="$(mktemp)"
  # deb822 stanzas whose URIs point at a Debian archive, turned into deb-src.
  local own=/etc/apt/sources.list.d/tarnwell-deb-src.sources
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] && [ "$f" != "$own" ] || continue
    awk -v RS= -v ORS='\n\n' '/URIs:[^\n]*debian/ && /Types:[^\n]*deb/' "$f" |
      sed -E 's/^Types:.*/Types: deb-src/' >>"$tmp"
  done
  if [ -s "$tmp" ]; then
    $sudo install -m 644 "$tmp" "$own"
  else
    # One-line style: the same "deb" lines as "deb-src".
    grep -hE '^deb\s+\S*debian' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      sed -E 's/^deb(\s)/deb-src\1/' >"$tmp" || true
    [ -s "$tmp" ] || { echo "no Debian archive found in apt's sources" >&2; rm -f "$tmp"; exit 1; }
    $sudo install -m 644 "$tmp" /etc/apt/sources.list.d/tarnwell-deb-src.list
  fi
  rm -f "$tmp"
  $sudo apt-get update -qq
}

cache="$root/.cache/windows"
source_dir="$cache/src/curl-$curl_version"
fetch_curl_source() {
  [ -f "$source_dir/.complete" ] && return 0
  if ! apt-cache showsrc "curl=$curl_version" 2>/dev/null | grep -q "^Version: $curl_version\$"; then
    enable_debian_sources
  fi
  rm -rf "$source_dir"
  mkdir -p "$source_dir"
  (cd "$source_dir" && apt-get source --only-source "curl=$curl_version" >/dev/null 2>&1 ||
    { echo "apt-get source curl=$curl_version failed" >&2; exit 1; })
  touch "$source_dir/.complete"
}

curl_options=(
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF
  -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF
  -DCURL_USE_LIBSSH2=OFF -DCURL_ZLIB=ON -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF
  -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DENABLE_UNICODE=OFF
  # Otherwise the Linux machine's own bundle path becomes the default.
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
  -DCMAKE_BUILD_TYPE=Release
)

# zlib for decompress: the static archive, never the import library of
# zlib1.dll, so the DLL still needs nothing but Windows' own DLLs. The same
# two settings go to libcurl's build and to the DLL's, where libcurl's CMake
# package looks for zlib again.
zlib_options() {
  echo "-DZLIB_LIBRARY=/usr/$1-w64-mingw32/lib/libz.a" "-DZLIB_INCLUDE_DIR=/usr/$1-w64-mingw32/include"
}
zlib_version="$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)"

# Prints the prefix of the static libcurl for one architecture, building it
# first when the cache does not hold it.
static_curl() {
  local arch="$1"
  local toolchain="$root/cmake/mingw-w64-$arch.cmake"
  local key
  # shellcheck disable=SC2046
  key="$(printf '%s\n' "${curl_options[@]}" $(zlib_options "$arch") "$zlib_version" \
    "$("$arch-w64-mingw32-gcc-posix" -dumpversion)" |
    cat - "$toolchain" "$root/cmake/mingw-w64.cmake" | sha256sum | cut -c1-12)"
  local prefix="$cache/libcurl-$curl_version-$arch-$key"
  if [ ! -f "$prefix/.complete" ]; then
    fetch_curl_source >&2
    local build="$cache/build-$arch"
    rm -rf "$build" "$prefix"
    echo "== Building static libcurl $curl_version for $arch (once; cached in $prefix)" >&2
    cmake -S "$source_dir/curl-${curl_version%%-*}" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_INSTALL_PREFIX="$prefix" "${curl_options[@]}" $(zlib_options "$arch") >"$cache/configure-$arch.log" 2>&1 ||
      { tail -40 "$cache/configure-$arch.log" >&2; exit 1; }
    cmake --build "$build" -j"$jobs" >"$cache/build-$arch.log" 2>&1 || { tail -40 "$cache/build-$arch.log" >&2; exit 1; }
    cmake --install "$build" >/dev/null
    cp "$source_dir/curl-${curl_version%%-*}/COPYING" "$prefix/COPYING"
    rm -rf "$build"
    touch "$prefix/.complete"
  fi
  echo "$prefix"
}

# ------------------------------------------------------------ the DLL
project_version="$(sed -nE 's/^project\(TarnwellFunctions VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"
for arch in "${arches[@]}"; do
  prefix="$(static_curl "$arch")"
  if [ "$arch" = x86_64 ]; then build=build-windows bits=64; else build="build-windows-$arch" bits=32; fi
  echo "== Building $build (libcurl from $prefix)"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCURL_DIR="$prefix/lib/cmake/CURL" $(zlib_options "$arch") -DTW_BUILD_TESTS=ON >/dev/null
  cmake --build "$build" -j"$jobs"

  # ------------------------------------------------------- the zip
  name="TarnwellFunctions-$project_version-win$bits"
  stage="$build/dist/$name"
  rm -rf "$stage"
  mkdir -p "$stage/licenses" dist
  cp "$build/TarnwellFunctions.dll" "$build/twcall.exe" include/TarnwellDll.h CHANGELOG.md "$stage/"
  cp LICENSE "$stage/LICENSE.txt"
  # The Python module beside the DLL, which it loads by that full path.
  cp examples/python/tarnwell.py examples/python/example.py "$stage/"
  # The README's own sections inside the zip's text, so the two never differ.
  python3 tools/windows/readme-windows.py tools/windows/README-windows.txt README.md "$project_version" "$bits" \
    >"$stage/README-windows.txt"
  # Beside twcall.exe, so the README's examples work from the unzipped
  # folder: the CA certificates of Debian's ca-certificates package, taken
  # from the package's own files (not /etc/ssl/certs, which may hold CAs
  # added on this machine).
  cat /usr/share/ca-certificates/mozilla/*.crt >"$stage/curl-ca-bundle.crt"
  cp /usr/share/doc/ca-certificates/copyright "$stage/licenses/ca-certificates.txt"
  cp "$prefix/COPYING" "$stage/licenses/libcurl-COPYING.txt"
  cp /usr/share/doc/libz-mingw-w64-dev/copyright "$stage/licenses/zlib.txt"
  cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/gcc-runtime-libraries.txt"
  cp /usr/share/doc/mingw-w64-common/copyright "$stage/licenses/mingw-w64-and-winpthreads.txt"
  cp /usr/share/doc/nlohmann-json3-dev/copyright "$stage/licenses/nlohmann-json.txt"
  # Windows line ends for the texts a Windows user opens.
  for f in "$stage/README-windows.txt" "$stage/LICENSE.txt" "$stage"/licenses/*.txt; do sed -i 's/\r\?$/\r/' "$f"; done
  rm -f "dist/$name.zip"
  (cd "$build/dist" && zip -qr -X "$root/dist/$name.zip" "$name")
  echo "== Wrote $build/TarnwellFunctions.dll and dist/$name.zip"
done
