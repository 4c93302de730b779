#!/usr/bin/env bash
# The README's first command: installs what is missing, builds the library in
# Release, starts a throw-away HTTP server on 127.0.0.1 and takes a short tour
# of the library through twcall, the command-line host. Stops the server at
# the end (also on failure or Ctrl-C).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source tools/loopback-server.sh

say() { printf '\n== %s\n' "$*"; }
# Prints the command line as a user would type it, then runs it.
show() {
  local line='$ twcall' arg
  for arg in "$@"; do
    if [ -z "$arg" ]; then
      line+=' ""'
    elif [[ "$arg" =~ ^[A-Za-z0-9_./:=@%+-]+$ ]]; then
      line+=" $arg"
    else
      line+=" '${arg//\'/\'\\\'\'}'"
    fi
  done
  echo "$line"
  "$twcall" "$@"
}

say "Checking the Debian packages the build needs (installs any that are missing)"
bash tools/deps.sh

build=build-release
say "Building the library and twcall in Release ($build/)"
log="$(mktemp)"
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTW_BUILD_TESTS=OFF -DTW_BUILD_TOOLS=ON &&
       cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"; } >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
rm -f "$log"
twcall="$PWD/$build/twcall"
echo "Built $build/libTarnwellFunctions.so and $build/twcall (run '$build/twcall --help' for every export)."

site="$(mktemp -d)"
trap 'stop_loopback_server; rm -rf "$site"; echo; echo "Stopped the HTTP server."' EXIT
printf 'Hello from TarnwellFunctions!\n' >"$site/hello.txt"
printf 'TW\x01\x02\x00\xff\xfe\x7f' >"$site/small.bin"
start_loopback_server "$site"
url="$LOOPBACK_URL"
say "Started Python's http.server on $url, serving hello.txt and small.bin (8 bytes: 54 57 01 02 00 FF FE 7F)"

say "A GET: the result is the HTTP status, then the response headers as JSON, then the body"
show TwHttpCall GET "$url/hello.txt" "" ""

say "The binary file raw: the host gets a C string, so the body stops at the first zero byte (shown with cat -v)"
show -q TwHttpCall GET "$url/small.bin" "" "" | cat -v
echo

say "The same file as base64 (every byte arrives)"
show -q TwHttpCallBase64 GET "$url/small.bin" "" ""
echo

say "The same file as hex bytes separated by spaces (response encoding 4)"
show -q sendEncodedRequestEncodeResponse "$url/small.bin" GET "" "" 0 4 0
echo

say "Request headers are JSON text too: this GET sends an Accept and an X-Tour header"
show TwHttpCall GET "$url/hello.txt" '{"Accept":"text/plain","X-Tour":"demo"}' ""

say "A failure: nothing listens on port 1, so the result is 0, the headers are \"\" and the body is the message"
show TwHttpCall GET "http://127.0.0.1:1/" "" "" || echo "(twcall exited with $?, as it does when a request fails)"

say "Percent-encoding a value for a URL (the JS set keeps letters, digits and !'()*-._~)"
show TwUrlEncodeJS "name=Zoë & friends/2024"

say "A query string from JSON: members in name order, keys and values percent-encoded"
show TwUrlEncodeQueryJS '{"q":"tarnwell http","page":2,"lang":"en"}'

say "That was the tour. Try any export yourself: $build/twcall --help"
