#!/usr/bin/env python3
"""The connection-reuse benchmark: 1 KiB GETs on loopback from the nginx
that bench/run.sh started in its own process. Each round runs tw_bench_reuse (TwHttpRequest with
and without reuseConnections, over HTTP and HTTPS, the pooled calls alternating with a bare
libcurl handle kept alive in the same process) and then Python's
requests with a Session against the same nginx; the table gives the median
over the rounds of the mean time per call, and the median of the per-round
ratios that the targets are about. Exits non-zero when a target is missed (not with --quick).

    reuse.py TW_BENCH_REUSE LIBRARY HTTP_URL HTTPS_URL CA_FILE [--quick]
"""

import json
import statistics
import subprocess
import sys
import time

import requests

TARGETS = [  # (label, numerator, denominator, limit): numerator / denominator <= limit
    ("reuse / new connection, HTTP", "http_reuse", "http_new", 0.6),
    ("reuse / new connection, HTTPS", "https_reuse", "https_new", 0.1),
    ("TwHttpRequest reuse / requests Session, HTTP", "http_reuse", "requests_session", 0.2),
    ("pooled call / bare libcurl handle, HTTP", "http_reuse", "http_bare", 1.10),
    ("pooled call / bare libcurl handle, HTTPS", "https_reuse", "https_bare", 1.15),
]


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
    bench, library, http, https, ca = sys.argv[1:6]
    quick = "--quick" in sys.argv[6:]
    rounds, calls = (2, 20) if quick else (9, 400)
    nginx_version = subprocess.run(["nginx", "-v"], capture_output=True, text=True).stderr.strip()
    samples = {}
    with requests.Session() as session:
        for _ in range(rounds):
            line = subprocess.run([bench, library, http, https, ca, str(calls)], check=True,
                                  capture_output=True, text=True).stdout
            for name, value in json.loads(line).items():
                samples.setdefault(name, []).append(value)
            samples.setdefault("requests_session", []).append(requests_per_call(session, http, calls))
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
