#!/usr/bin/env python3
"""A short tour of the library from Python. From examples/python, after
`bash tools/demo.sh` built the library in build-release/, and with Python's
file server running in a directory that holds hello.txt
(python3 -m http.server 8000 --bind 127.0.0.1):

    TARNWELL_LIBRARY=../../build-release/libTarnwellFunctions.so python3 example.py http://127.0.0.1:8000/hello.txt
"""

import sys

import tarnwell


def main(url: str) -> int:
    try:
        lib = tarnwell.Library()
    except tarnwell.LibraryNotFound as error:
        sys.exit(f"example.py: {error}")

    r = lib.request(url)
    fetched = r.ok
    print(f"GET {url} -> {r.code}")
    # Header names in any letter case; the last value is the final response's.
    print(f"  Content-Type: {r.header_dict().get('Content-Type')}")
    print(f"  body: {r.body!r}")

    r = lib.request(url, encoding=tarnwell.BASE64)
    print(f"  as base64: {r.body.decode()}")

    r = lib.call_request("TwHttpCallBytes", "GET", url, "", "")
    print(f"  as bytes (TwHttpCallBytes): {r.body.decode()}")

    # Port 1 on loopback is closed: result 0, "" as headers, the message as body.
    r = lib.request("http://127.0.0.1:1/", headers={"Accept": "text/plain"})
    print(f"GET http://127.0.0.1:1/ -> {r.code}, headers {r.headers!r}, message: {r.body.decode()}")

    print(f"url_encode('a b&c/d') = {lib.url_encode('a b&c/d')}")
    print(f"query_string({{'q': 'x y', 'page': 2}}) = {lib.query_string({'q': 'x y', 'page': 2})}")
    return 0 if fetched else 1


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
