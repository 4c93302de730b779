#!/usr/bin/env bash
# Builds the library's sources for aarch64 with Debian's cross compiler, so
# that a build without the x86 vector loops keeps compiling without
# warnings, then links the encoders with a small check program and runs it
# under qemu-user: the scalar loops alone must give the right texts.
# Needs g++-aarch64-linux-gnu and qemu-user (tools/packages.txt).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
out=build-aarch64
rm -rf "$out" && mkdir -p "$out/include"
# Debian installs libcurl's headers under the x86-64 multiarch directory;
# they do not depend on the architecture, so the cross build reads them
# from there through a directory of its own rather than all of it.
ln -s /usr/include/x86_64-linux-gnu/curl "$out/include/curl"
version="$(sed -nE 's/^project\(TarnwellFunctions VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"
flags=(-std=c++17 -O2 -fPIC -fvisibility=hidden -Wall -Wextra -Wpedantic -Werror
       -DTW_VERSION="\"$version\"" -Iinclude -I"$out/include")
objects=()
for source in src/*.cpp; do
  object="$out/$(basename "${source%.cpp}").o"
  aarch64-linux-gnu-g++ "${flags[@]}" -c "$source" -o "$object"
  objects+=("$object")
done
echo "aarch64: ${#objects[@]} sources compiled without warnings"

# The encoders need nothing from libcurl, so they link without it.
aarch64-linux-gnu-g++ "${flags[@]}" tools/cross-check-aarch64.cpp \
  "$out"/{BodyEncodings,EncoderKernels,HostStrings,PercentEncoding,ScalarEncoders,StringHelper,VectorEncoders,base64}.o \
  -o "$out/encoders-check"
qemu-aarch64 -L /usr/aarch64-linux-gnu "$out/encoders-check"
