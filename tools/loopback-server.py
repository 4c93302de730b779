#!/usr/bin/env python3
"""A throw-away HTTP server for the tests: serves a directory on a free port of
127.0.0.1 as `python3 -m http.server` does, announcing the port on its first
line of output once it listens.

Two query strings change how a file is sent, for bodies that arrive without
Content-Length:
  FILE?chunked  chunked transfer encoding, in pieces of 3 bytes
  FILE?gzip     gzip-compressed and chunked when the request's Accept-Encoding
                names gzip; otherwise as ?chunked
"""

import functools
import gzip
import http.server
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        path, _, query = self.path.partition("?")
        if query not in ("chunked", "gzip"):
            return super().do_GET()
        try:
            with open(self.translate_path(path), "rb") as f:
                body = f.read()
        except OSError:
            return self.send_error(404)
        compressed = query == "gzip" and "gzip" in self.headers.get("Accept-Encoding", "")
        if compressed:
            body = gzip.compress(body)
        self.protocol_version = "HTTP/1.1"  # chunked needs it; the connection closes after
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Transfer-Encoding", "chunked")
        if compressed:
            self.send_header("Content-Encoding", "gzip")
        self.send_header("Connection", "close")
        self.end_headers()
        for start in range(0, len(body), 3):
            piece = body[start:start + 3]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
        self.wfile.write(b"0\r\n\r\n")
        self.close_connection = True


def main(directory: str) -> None:
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=directory))
    port = server.server_address[1]
    print(f"Serving HTTP on 127.0.0.1 port {port} (http://127.0.0.1:{port}/) ...", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main(sys.argv[1])
