#!/usr/bin/env bash
# Drives twcall as a user would, against a loopback HTTP server started here,
# and checks that -o writes the very bytes that the curl command line writes.
# Usage: twcall_test.sh TWCALL EXPORTS_MAP
set -uo pipefail
twcall="$1" exports_map="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=loopback-server.sh
source "$here/loopback-server.sh"

work="$(mktemp -d)"
trap 'stop_loopback_server; rm -rf "$work"' EXIT
mkdir "$work/site"
printf 'hello from the loopback server\n' >"$work/site/hello.txt"
printf '\x00\x01\x7f\x80\xfe\xff' >"$work/site/bytes.bin"
printf 'a b&c' >"$work/arg.txt"
start_loopback_server "$work/site" || exit 1
url="$LOOPBACK_URL"

failures=0 passed=0
# expect NAME EXIT_CODE PATTERN -- TWCALL_ARGS...: runs twcall, checks the
# exit code and that stdout+stderr match the extended regex PATTERN.
expect() {
  local name="$1" code="$2" pattern="$3"
  shift 4
  local out rc
  out="$("$twcall" "$@" 2>&1)"
  rc=$?
  if [ "$rc" -ne "$code" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL $name: exit $rc (want $code), output:"
    echo "$out" | head -20
    failures=$((failures + 1))
  else
    passed=$((passed + 1))
  fi
}
# same BODY_FILE NAME -- TWCALL_ARGS...: quiet output must equal the file byte for byte.
same() {
  local expected="$1" name="$2"
  shift 3
  if "$twcall" -q "$@" | cmp -s - "$expected"; then
    passed=$((passed + 1))
  else
    echo "FAIL $name: quiet output differs from $expected"
    failures=$((failures + 1))
  fi
}

expect "GET shows result, headers, body" 0 '^result: 200$' -- TwHttpCall GET "$url/hello.txt" '' ''
expect "GET header JSON" 0 '^headers: \{.*"Content-Length":"31"' -- TwHttpCall GET "$url/hello.txt" '' ''
expect "404 is a success" 0 '^result: 404$' -- sendRequest "$url/missing" GET '' '' 0
expect "closed port fails with its message" 1 '^body:$' -- TwHttpCall GET http://127.0.0.1:1/ '' ''
expect "failure message" 1 'curl_easy_perform\(\) failed: ' -- TwHttpCall GET http://127.0.0.1:1/ '' ''
expect "failure marks result" 1 '^result: 0 \(failed\)$' -- TwHttpCall GET http://127.0.0.1:1/ '' ''
expect "decimal bytes" 0 '^0,1,127,128,254,255$' -- TwHttpCallBytes GET "$url/bytes.bin" '' ''
expect "hex bytes through the core" 0 '^00 01 7F 80 FE FF$' -- \
  sendAuthEncodedRequestEncodeResponse "$url/bytes.bin" '' '' GET '' '' 0 4 0
expect "negative int accepted" 0 '^result: 200$' -- sendEncodedRequestEncodeResponse "$url/hello.txt" GET '' '' 0 -1 0
expect "encoder result" 0 '^result: a%20b%26c$' -- TwUrlEncodeJS 'a b&c'
expect "@file argument" 0 '^a%20b%26c$' -- -q TwUrlEncodeJS "@$work/arg.txt"
expect "@@ is a literal @" 0 '^%40x$' -- -q TwUrlEncodeJS '@@x'
expect "unreadable @file" 2 'cannot read' -- TwUrlEncodeJS "@$work/none"
expect "freemem with nothing" 0 '^$' -- freemem
expect "query string" 0 '^a=x%20y&b=2$' -- -q toQueryString '{"b":2,"a":"x y"}' 0
expect "too few arguments" 2 'usage: twcall sendRequest url method headersJson requestBody skipCertificateVerification:int' -- \
  sendRequest "$url/" GET '' ''
expect "too many arguments" 2 'TwUrlEncodeJS takes 1 argument\(s\), 2 given' -- TwUrlEncodeJS a b
for bad in 1x '' 1.0 +1 ' 1' 0x10 99999999999; do
  expect "non-integer '$bad'" 2 'style must be an integer' -- escapeUrlStyle a "$bad"
done
expect "request from options, pooled" 0 '^result: 200$' -- \
  TwHttpRequest "{\"url\":\"$url/hello.txt\",\"reuseConnections\":true}"
expect "options error" 1 '^Unknown request option: timeout\.$' -- TwHttpRequest '{"url":"x","timeout":1}'
expect "version" 0 '^result: \{.*"libcurl":"' -- TwVersion
expect "unknown export" 2 'no export named sendNothing' -- sendNothing
expect "unknown option" 2 'unknown option --frobnicate' -- --frobnicate TwUrlEncodeJS a
expect "library option" 1 'cannot load the library: /nonexistent' -- --library /nonexistent TwUrlEncodeJS a
out="$(TARNWELL_LIBRARY=/nonexistent "$twcall" TwUrlEncodeJS a 2>&1)"
if grep -q 'cannot load the library: /nonexistent' <<<"$out"; then passed=$((passed + 1)); else
  echo "FAIL TARNWELL_LIBRARY is not used: $out"; failures=$((failures + 1)); fi

same "$work/site/hello.txt" "quiet prints only the body" -- TwHttpCall GET "$url/hello.txt" '' ''
base64 -w0 "$work/site/bytes.bin" >"$work/bytes.b64"
same "$work/bytes.b64" "base64 body" -- TwHttpCallBase64 GET "$url/bytes.bin" '' ''
expect "body to a file" 0 "body: written to $work/out.txt \\(31 bytes\\)" -- -o "$work/out.txt" TwHttpCall GET "$url/hello.txt" '' ''
if cmp -s "$work/out.txt" "$work/site/hello.txt"; then passed=$((passed + 1)); else
  echo "FAIL --output wrote something else"; failures=$((failures + 1)); fi
expect "hex body to a file" 0 'written to' -- \
  -o "$work/bytes.out" sendAuthEncodedRequestEncodeResponse "$url/bytes.bin" '' '' GET '' '' 0 4 0
# A zero byte would cut a text argument short; twcall says so.
expect "@file with a zero byte" 2 'bytes.bin holds a zero byte.*In64' -- \
  TwHttpCall PUT "$url/upload" '' "@$work/site/bytes.bin"

# -o writes a raw body byte for byte, zero bytes included, however it arrives
# (with Content-Length, chunked, or decompressed): the very file `curl -o` writes.
# like_curl NAME URL CURL_OPTION... -- TWCALL_ARGS...
like_curl() {
  local name="$1" target="$2" curl_options=() out
  shift 2
  while [ "$1" != "--" ]; do curl_options+=("$1"); shift; done
  shift
  rm -f "$work/by-curl" "$work/by-twcall"
  curl -sS "${curl_options[@]}" -o "$work/by-curl" "$target" || { echo "FAIL $name: curl failed"; failures=$((failures + 1)); return; }
  if out="$("$twcall" -o "$work/by-twcall" "$@" 2>&1)" && cmp -s "$work/by-curl" "$work/by-twcall"; then
    passed=$((passed + 1))
  else
    echo "FAIL $name: twcall -o differs from curl -o (or failed):"
    echo "$out" | head -5
    cmp "$work/by-curl" "$work/by-twcall" 2>&1 | head -2
    failures=$((failures + 1))
  fi
}
head -c 300000 /dev/urandom >"$work/site/random.bin"
: >"$work/site/empty.bin"
bin="$url/bytes.bin" chunked="$url/bytes.bin?chunked" big="$url/random.bin?chunked"
like_curl "raw export, zero bytes" "$bin" -- TwHttpCall GET "$bin" '' ''
like_curl "raw export, chunked" "$chunked" -- TwHttpCall GET "$chunked" '' ''
like_curl "raw export, 300 kB chunked" "$big" -- TwHttpCall GET "$big" '' ''
like_curl "raw export, empty body" "$url/empty.bin" -- TwHttpCall GET "$url/empty.bin" '' ''
like_curl "In64 export, chunked" "$chunked" -- TwHttpCallIn64 GET "$chunked" '' ''
like_curl "auth export, chunked" "$chunked" -- TwAuthHttpCall GET "$chunked" ann pw '' ''
like_curl "auth In64 export, chunked" "$chunked" -- TwAuthHttpCallIn64 GET "$chunked" ann pw '' ''
like_curl "sendRequest, chunked" "$chunked" -- sendRequest "$chunked" GET '' '' 0
like_curl "sendAuthRequest, chunked" "$chunked" -- sendAuthRequest "$chunked" ann pw GET '' '' 0
like_curl "core, encoding 0, chunked" "$chunked" -- \
  sendAuthEncodedRequestEncodeResponse "$chunked" '' '' GET '' '' 0 0 0
like_curl "core, unknown encoding is raw" "$chunked" -- sendEncodedRequestEncodeResponse "$chunked" GET '' '' 0 6 0
like_curl "options, raw by default" "$big" -- TwHttpRequest "{\"url\":\"$big\"}"
like_curl "options, raw by name, pooled" "$chunked" -- \
  TwHttpRequest "{\"url\":\"$chunked\",\"responseEncoding\":\"raw\",\"reuseConnections\":true}"
like_curl "options, raw as 0" "$chunked" -- TwHttpRequest "{\"url\":\"$chunked\",\"responseEncoding\":0}"
gz="$url/random.bin?gzip"
like_curl "options, decompressed" "$gz" --compressed -- TwHttpRequest "{\"url\":\"$gz\",\"decompress\":true}"
if "$twcall" -q TwVersion | grep -q '"gzip"'; then
  expect "the decompressed body came gzip-encoded" 0 '"Content-Encoding":"gzip"' -- \
    -o "$work/gz.out" TwHttpRequest "{\"url\":\"$gz\",\"decompress\":true}"
fi
# The Base64 and Bytes exports, and the other encodings, write their text as it is.
# writes_text EXPECTED_FILE NAME -- TWCALL_ARGS...
writes_text() {
  local expected="$1" name="$2"
  shift 3
  if "$twcall" -q -o "$work/text.out" "$@" && cmp -s "$expected" "$work/text.out"; then
    passed=$((passed + 1))
  else
    echo "FAIL $name: -o did not write the export's text"
    failures=$((failures + 1))
  fi
}
printf '0,1,127,128,254,255' >"$work/bytes.dec"
printf '00 01 7F 80 FE FF' >"$work/bytes.hex"
writes_text "$work/bytes.b64" "Base64 export" -- TwHttpCallBase64 GET "$chunked" '' ''
writes_text "$work/bytes.b64" "Base64In64 export" -- TwAuthHttpCallBase64In64 GET "$chunked" ann pw '' ''
writes_text "$work/bytes.dec" "Bytes export" -- TwHttpCallBytes GET "$chunked" '' ''
writes_text "$work/bytes.hex" "options, hexSpaces" -- \
  TwHttpRequest "{\"url\":\"$chunked\",\"responseEncoding\":\"hexSpaces\"}"

# --help must list every export of the library, and nothing else.
listed="$("$twcall" --help | sed -n '/^exports:/,$p' | awk 'NR > 1 {print $1}' | sort)"
exported="$(sed -n '/global:/,/local:/p' "$exports_map" | grep -oE '^[[:space:]]+[A-Za-z_][A-Za-z0-9_]*;' | tr -d ' \t;' | sort)"
if [ "$listed" = "$exported" ]; then passed=$((passed + 1)); else
  echo "FAIL --help does not list exactly the exports:"; diff <(echo "$exported") <(echo "$listed"); failures=$((failures + 1)); fi

echo "twcall: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
