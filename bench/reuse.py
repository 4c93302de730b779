#!/usr/bin/env python3
"""The connection-reuse benchmark: 1 KiB GETs on loopback from nginx, which
runs in its own process. Each round runs tw_bench_reuse (TwHttpRequest with
and without reuseConnections, over HTTP and HTTPS) and then Python's
requests with a Session against the same nginx; the table gives the median
over the rounds of the mean time per call, and the median of the per-round
ratios that the targets are about. Exits non-zero when a target is missed (not with --quick).

    reuse.py TW_BENCH_REUSE LIBRARY [--quick]
"""

import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import requests

TARGETS = [  # (label, numerator, denominator, limit): numerator / denominator <= limit
    ("reuse / new connection, HTTP", "http_reuse", "http_new", 0.6),
    ("reuse / new connection, HTTPS", "https_reuse", "https_new", 0.1),
    ("TwHttpRequest reuse / requests Session, HTTP", "http_reuse", "requests_session", 0.2),
]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_nginx(work):
    """Serves work/site/1k over HTTP and HTTPS; returns (process id file, http url, https url, CA file)."""
    os.makedirs(os.path.join(work, "site"))
    with open(os.path.join(work, "site", "1k"), "wb") as f:
        f.write(b"x" * 1024)
    cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-days", "1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    for attempt in range(5):
        http_port, https_port = free_port(), free_port()
        user = "user root;\n" if os.geteuid() == 0 else ""
        config = f"""{user}worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 1024; }}
http {{
  access_log off;
  default_type application/octet-stream;
  tcp_nodelay on;
  keepalive_requests 1000000;
  client_body_temp_path {work}/temp/body;
  proxy_temp_path {work}/temp/proxy;
  fastcgi_temp_path {work}/temp/fastcgi;
  uwsgi_temp_path {work}/temp/uwsgi;
  scgi_temp_path {work}/temp/scgi;
  server {{ listen 127.0.0.1:{http_port}; root {work}/site; }}
  server {{
    listen 127.0.0.1:{https_port} ssl;
    ssl_certificate {cert};
    ssl_certificate_key {key};
    root {work}/site;
  }}
}}
"""
        os.makedirs(os.path.join(work, "temp"), exist_ok=True)
        with open(os.path.join(work, "nginx.conf"), "w") as f:
            f.write(config)
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        # nginx listens before it detaches, so it accepts connections once this returns.
        started = subprocess.run([nginx, "-p", work, "-c", os.path.join(work, "nginx.conf"), "-e",
                                  os.path.join(work, "error.log")], capture_output=True)
        if started.returncode == 0:
            return (os.path.join(work, "nginx.pid"), f"http://127.0.0.1:{http_port}/1k",
                    f"https://127.0.0.1:{https_port}/1k", cert)
    sys.exit("nginx did not start: " + open(os.path.join(work, "error.log")).read())


def stop_nginx(pid_file):
    try:
        pid = int(open(pid_file).read())
    except (OSError, ValueError):
        return
    os.kill(pid, 15)
    for _ in range(100):  # nginx detached, so it cannot be waited for
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return
        time.sleep(0.1)


def requests_per_call(session, url, calls):
    """Mean microseconds per GET with a warm Session (one untimed call first)."""
    session.get(url).raise_for_status()
    start = time.perf_counter()
    for _ in range(calls):
        response = session.get(url)
        if response.status_code != 200 or len(response.content) != 1024:
            sys.exit(f"requests failed: {response.status_code}")
    return (time.perf_counter() - start) * 1e6 / calls


def main():
    bench, library = sys.argv[1], sys.argv[2]
    quick = "--quick" in sys.argv[3:]
    rounds, calls = (2, 20) if quick else (9, 400)
    work = tempfile.mkdtemp()
    pid_file = None
    try:
        pid_file, http, https, ca = start_nginx(work)
        nginx_version = subprocess.run(["nginx", "-v"], capture_output=True, text=True).stderr.strip()
        samples = {}
        with requests.Session() as session:
            for _ in range(rounds):
                line = subprocess.run([bench, library, http, https, ca, str(calls)], check=True,
                                      capture_output=True, text=True).stdout
                for name, value in json.loads(line).items():
                    samples.setdefault(name, []).append(value)
                samples.setdefault("requests_session", []).append(requests_per_call(session, http, calls))
    finally:
        if pid_file:
            stop_nginx(pid_file)
        shutil.rmtree(work, ignore_errors=True)
    medians = {name: statistics.median(values) for name, values in samples.items()}
    print(f"Connection reuse: 1 KiB GET from {nginx_version} on 127.0.0.1, {rounds} interleaved rounds, "
          f"medians of the per-round means and ratios (requests {requests.__version__})")
    for name, value in medians.items():
        print(f"  {name:18} {value:9.1f} us/call")
    missed = 0
    for label, numerator, denominator, limit in TARGETS:
        # The median of the per-round ratios holds still on a noisy machine.
        ratio = statistics.median(a / b for a, b in zip(samples[numerator], samples[denominator]))
        met = ratio <= limit
        missed += 0 if met else 1
        print(f"  {label:46} {ratio:6.3f}x  (target <= {limit}x){'' if met else '  MISSED'}")
    sys.exit(1 if missed and not quick else 0)


if __name__ == "__main__":
    main()
