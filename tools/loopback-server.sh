# Sourced by scripts that need a throw-away HTTP server on 127.0.0.1.
#
#   start_loopback_server DIR   serves DIR with loopback-server.py (Python's
#                               http.server, plus FILE?chunked and FILE?gzip)
#                               on a free port; sets LOOPBACK_URL and LOOPBACK_PID
#   stop_loopback_server        stops it (safe to call twice; use in a trap)
#
# The server announces its port on its first line of output only once the
# socket is listening, so reading that line is the readiness check.

start_loopback_server() {
  local dir="$1" line
  local script
  script="$(dirname "${BASH_SOURCE[0]}")/loopback-server.py"
  coproc LOOPBACK_SERVER { exec python3 -u "$script" "$dir" 2>/dev/null; }
  LOOPBACK_PID=$LOOPBACK_SERVER_PID
  if ! read -r -t 30 line <&"${LOOPBACK_SERVER[0]}"; then
    echo "the loopback HTTP server did not start" >&2
    stop_loopback_server
    return 1
  fi
  # "Serving HTTP on 127.0.0.1 port 41234 (http://127.0.0.1:41234/) ..."
  LOOPBACK_URL="http://127.0.0.1:$(sed -E 's/.* port ([0-9]+) .*/\1/' <<<"$line")"
}

stop_loopback_server() {
  if [ -n "${LOOPBACK_PID:-}" ]; then
    kill "$LOOPBACK_PID" 2>/dev/null || true
    wait "$LOOPBACK_PID" 2>/dev/null || true
    LOOPBACK_PID=""
  fi
}
