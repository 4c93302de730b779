#!/usr/bin/env bash
# A Windows zip as a user meets it: unzipped afresh, it holds everything the
# README-windows promises, that text documents every export, and twcall.exe
# started in the unzipped folder under Wine reports gzip and answers a
# TwHttpRequest to a local HTTPS server through that server's CA bundle.
# Runs under tw_wine_driver (which starts the server and leaves
# trusted/curl-ca-bundle.crt, the test CA, in the current directory).
# Usage: check_zip.sh ZIP EXPORTS_MAP VERSION WINE
set -euo pipefail
zip="$1" map="$2" version="$3" wine="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0 passed=0
check() {  # check WHAT COMMAND...: counts a pass or reports a failure
  local what="$1"
  shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

unzip -q "$zip" -d "$work"
folder="$work/$(basename "$zip" .zip)"
[ -d "$folder" ] || { echo "FAIL: the zip has no folder $(basename "$zip" .zip)"; exit 1; }
for f in TarnwellFunctions.dll twcall.exe TarnwellDll.h README-windows.txt curl-ca-bundle.crt tarnwell.py \
  example.py LICENSE.txt CHANGELOG.md licenses/ca-certificates.txt licenses/zlib.txt licenses/libcurl-COPYING.txt; do
  check "the zip holds $f" test -s "$folder/$f"
done

readme="$(tr -d '\r' <"$folder/README-windows.txt")"
while read -r name; do
  check "README-windows.txt documents $name" grep -q "\b$name\b" <<<"$readme"
done < <(sed -n '/global:/,/local:/p' "$map" | grep -oE '^[[:space:]]+[A-Za-z_][A-Za-z0-9_]*;' | tr -d ' \t;')
check "README-windows.txt names version $version" grep -q "^TarnwellFunctions $version for Windows" <<<"$readme"
check "LICENSE.txt is the MIT licence" grep -q "^MIT License" "$folder/LICENSE.txt"
check "CHANGELOG.md's newest entry is $version" test "$(grep -m1 '^## ' "$folder/CHANGELOG.md")" = "## $version"
# Debian's bundle, all of it: as many certificates as the package ships.
shipped=$(grep -c 'BEGIN CERTIFICATE' "$folder/curl-ca-bundle.crt")
debian=$(cat /usr/share/ca-certificates/mozilla/*.crt | grep -c 'BEGIN CERTIFICATE')
check "curl-ca-bundle.crt holds Debian's $debian certificates (has $shipped)" test "$shipped" -eq "$debian" -a "$shipped" -gt 100
check "tarnwell.py loads the DLL beside itself" grep -q 'os.path.dirname(os.path.abspath(__file__)), "TarnwellFunctions.dll"' \
  "$folder/tarnwell.py"

# twcall.exe from the unzipped folder, as the README-windows tells a user.
twcall() { (cd "$1" && shift && "$wine" ./twcall.exe "$@" 2>&1 | tr -d '\r'); }
out="$(twcall "$folder" TwVersion || true)"
check "TwVersion reports gzip and $version: $out" grep -qE "\"decompress\":\[\"deflate\",\"gzip\"\].*\"version\":\"$version\"" <<<"$out"

url="https://localhost:$TW_HTTPS_PORT/hi"
ca="Z:$PWD/trusted/curl-ca-bundle.crt"
out="$(twcall "$folder" TwHttpRequest "{\"url\":\"$url\",\"caBundle\":\"$ca\"}" || true)"
check "TwHttpRequest with the server's CA bundle: $out" grep -qzE '^result: 200.*body:.Hi' <<<"$out"
# Without caBundle the shipped bundle in the folder is read (the message is
# about the server's certificate, not about a missing file) and does not
# trust the test CA; without the file there is nothing to verify against.
out="$(twcall "$folder" TwHttpCall GET "$url" '' '' || true)"
check "the shipped bundle is read and does not trust the test CA: $out" \
  grep -q "SSL peer certificate or SSH remote key was not OK" <<<"$out"
mkdir "$work/elsewhere"
cp "$folder/twcall.exe" "$folder/TarnwellFunctions.dll" "$work/elsewhere/"
out="$(twcall "$work/elsewhere" TwHttpCall GET "$url" '' '' || true)"
check "without curl-ca-bundle.crt the request fails for want of it: $out" \
  grep -q "Problem with the SSL CA cert" <<<"$out"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
