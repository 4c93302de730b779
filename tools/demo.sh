#!/usr/bin/env bash
# Builds the library in Release and shows that a host can load it and call it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash tools/deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTW_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc 2>/dev/null || echo 2)"
lib="$PWD/build-release/libTarnwellFunctions.so"
echo "Built $lib"
python3 - "$lib" <<'PY'
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
lib.TwUrlEncodeJS.restype = ctypes.c_void_p
lib.TwUrlEncodeJS.argtypes = [ctypes.c_char_p]
lib.freemem.argtypes = [ctypes.c_void_p]
p = lib.TwUrlEncodeJS(b"a b&c")
print("Loaded it; TwUrlEncodeJS('a b&c') =", ctypes.string_at(p).decode())
lib.freemem(p)
PY
