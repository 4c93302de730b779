# Sourced by bench/run.sh: nginx from the system's packages, serving one
# directory of static files on 127.0.0.1 from a process of its own.
#
#   start_nginx ROOT WORKDIR   serves ROOT on a free port; its config, pid
#                              file, log and temporary files go to WORKDIR;
#                              sets NGINX_URL
#   stop_nginx                 stops it and waits until it is gone (safe to
#                              call twice; use in a trap)
#
# nginx opens its listening socket before it detaches, so once the start
# command has returned successfully the server accepts connections.

NGINX_PID_FILE=""

free_loopback_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

write_nginx_config() {
  local root="$1" work="$2" port="$3"
  # Run as root (as in CI), nginx would hand its workers to "nobody", who
  # may not read the files.
  [ "$(id -u)" -eq 0 ] && echo "user root;"
  cat <<EOF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  default_type application/octet-stream;
  sendfile on;
  tcp_nodelay on;
  client_body_temp_path $work/temp/body;
  proxy_temp_path $work/temp/proxy;
  fastcgi_temp_path $work/temp/fastcgi;
  uwsgi_temp_path $work/temp/uwsgi;
  scgi_temp_path $work/temp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $root;
  }
}
EOF
}

start_nginx() {
  local root="$1" work="$2" port attempt
  local nginx_bin
  nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
  mkdir -p "$work/temp"
  # Another program may take the port between the probe and nginx's bind;
  # then try another one.
  for attempt in 1 2 3 4 5; do
    port="$(free_loopback_port)"
    write_nginx_config "$root" "$work" "$port" > "$work/nginx.conf"
    if "$nginx_bin" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" 2>> "$work/error.log"; then
      NGINX_PID_FILE="$work/nginx.pid"
      NGINX_URL="http://127.0.0.1:$port"
      return 0
    fi
  done
  echo "nginx did not start; its log:" >&2
  cat "$work/error.log" >&2
  return 1
}

stop_nginx() {
  [ -n "$NGINX_PID_FILE" ] && [ -s "$NGINX_PID_FILE" ] || return 0
  local pid tries
  pid="$(cat "$NGINX_PID_FILE")"
  NGINX_PID_FILE=""
  kill -TERM "$pid" 2>/dev/null || return 0
  # nginx detached from us, so it cannot be waited for; it is gone once
  # signal 0 no longer reaches it.
  for tries in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}
