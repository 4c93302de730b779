# Sourced by bench/run.sh: nginx from the system's packages, serving one
# directory of static files on 127.0.0.1 from a process of its own.
#
#   start_nginx ROOT WORKDIR   serves ROOT over HTTP and HTTPS on two free
#                              ports; its config, pid file, log, temporary
#                              files and throw-away certificate go to
#                              WORKDIR; sets NGINX_URL, NGINX_HTTPS_URL and
#                              NGINX_CA (the certificate to trust)
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
  local root="$1" work="$2" port="$3" https_port="$4"
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
  keepalive_requests 1000000;
  client_body_temp_path $work/temp/body;
  proxy_temp_path $work/temp/proxy;
  fastcgi_temp_path $work/temp/fastcgi;
  uwsgi_temp_path $work/temp/uwsgi;
  scgi_temp_path $work/temp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $root;
  }
  server {
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    root $root;
  }
}
EOF
}

start_nginx() {
  local root="$1" work="$2" port https_port attempt
  local nginx_bin
  nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
  mkdir -p "$work/temp"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
  # Another program may take the port between the probe and nginx's bind;
  # then try another one.
  for attempt in 1 2 3 4 5; do
    port="$(free_loopback_port)"
    https_port="$(free_loopback_port)"
    write_nginx_config "$root" "$work" "$port" "$https_port" > "$work/nginx.conf"
    if "$nginx_bin" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" 2>> "$work/error.log"; then
      NGINX_PID_FILE="$work/nginx.pid"
      NGINX_URL="http://127.0.0.1:$port"
      NGINX_HTTPS_URL="https://127.0.0.1:$https_port"
      NGINX_CA="$work/cert.pem"
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
