"""Runs the ctypes module and the example against a loopback HTTP server."""

import base64
import functools
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import unittest
import unittest.mock

import tarnwell

HELLO = b"hello from the loopback server\n"
BYTES = bytes([0, 1, 127, 128, 254, 255])


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path != "/cookies":
            return super().do_GET()
        self.send_response(302)
        self.send_header("Set-Cookie", "a=1")
        self.send_header("Set-Cookie", "b=2")
        self.send_header("Location", "/hello.txt")
        self.send_header("Content-Length", "0")
        self.end_headers()


class TarnwellFromPython(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = tempfile.TemporaryDirectory()
        for name, content in (("hello.txt", HELLO), ("bytes.bin", BYTES)):
            with open(os.path.join(cls.site.name, name), "wb") as f:
                f.write(content)
        handler = functools.partial(Quiet, directory=cls.site.name)
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.url = f"http://127.0.0.1:{cls.server.server_address[1]}"
        cls.lib = tarnwell.Library()

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()
        cls.site.cleanup()

    def count_frees(self):
        """Wraps freemem so a test can see that every handed-out pointer went back."""
        freed = []
        real = self.lib.freemem
        self.lib.freemem = lambda p: (freed.append(p), real(p))
        self.addCleanup(setattr, self.lib, "freemem", real)
        return freed

    def test_get_text(self):
        r = self.lib.request(self.url + "/hello.txt")
        self.assertEqual((r.code, r.body), (200, HELLO))
        self.assertEqual(r.header_dict()["Content-Length"], str(len(HELLO)))

    def test_headers_of_a_redirect_chain(self):
        # http.server spells "Content-type"; lookups ignore case, and repeated
        # names (two Set-Cookie, two Content-Length) are all kept.
        headers = self.lib.request(self.url + "/cookies").header_dict()
        self.assertEqual(headers.get_all("set-cookie"), ["a=1", "b=2"])
        self.assertEqual(headers.get_all("Content-Length"), ["0", str(len(HELLO))])
        self.assertEqual(headers["CONTENT-LENGTH"], str(len(HELLO)))
        self.assertEqual(headers.get("Content-Type"), "text/plain")
        self.assertNotIn("X-None", headers)

    def test_ok_only_below_400(self):
        for path, code, ok in (("/hello.txt", 200, True), ("/missing", 404, False)):
            with self.subTest(path=path):
                r = self.lib.request(self.url + path)
                self.assertEqual((r.code, r.ok, r.failed), (code, ok, False))

    def test_every_response_encoding(self):
        cases = [
            (tarnwell.RAW, b""),  # raw ends at the first zero byte
            (tarnwell.BASE64, base64.b64encode(BYTES)),
            (tarnwell.DECIMAL_SPACES, b"0 1 127 128 254 255"),
            (tarnwell.DECIMAL_COMMAS, b"0,1,127,128,254,255"),
            (tarnwell.HEX_SPACES, b"00 01 7F 80 FE FF"),
            (tarnwell.HEX_COMMAS, b"00,01,7F,80,FE,FF"),
        ]
        for encoding, expected in cases:
            with self.subTest(encoding=encoding):
                r = self.lib.request(self.url + "/bytes.bin", encoding=encoding)
                self.assertEqual((r.code, r.body), (200, expected))

    def test_forwarder_by_name(self):
        r = self.lib.call_request("TwHttpCallBase64", "GET", self.url + "/hello.txt", "", "")
        self.assertEqual(base64.b64decode(r.body), HELLO)

    def test_failure_convention(self):
        r = self.lib.request("http://127.0.0.1:1/")
        self.assertTrue(r.failed)
        self.assertFalse(r.ok)
        self.assertEqual(r.headers, "")
        self.assertTrue(r.body.startswith(b"curl_easy_perform() failed: "), r.body)

    def test_both_out_strings_are_freed(self):
        for url in (self.url + "/hello.txt", "http://127.0.0.1:1/"):
            with self.subTest(url=url):
                freed = self.count_frees()
                self.lib.request(url)
                self.assertEqual(len([p for p in freed if p]), 2)

    def test_request_from_options(self):
        freed = self.count_frees()
        for reuse in (False, True):
            r = self.lib.http_request({"url": self.url + "/bytes.bin", "responseEncoding": "hexCommas",
                                       "reuseConnections": reuse})
            self.assertEqual((r.code, r.body), (200, b"00,01,7F,80,FE,FF"))
        r = self.lib.http_request('{"url": 1}')
        self.assertEqual((r.code, r.headers, r.body), (0, "", b"Request option url must be a string."))
        self.assertIn("libcurl", self.lib.version())
        self.assertEqual(len([p for p in freed if p]), 7)

    def test_encoders(self):
        freed = self.count_frees()
        self.assertEqual(self.lib.url_encode("a b&c/d"), "a%20b%26c%2Fd")
        self.assertEqual(self.lib.url_encode("a b&c/d", tarnwell.VERY_LAX), "a%20b%26c/d")
        self.assertEqual(self.lib.query_string({"q": "x y", "page": 2}), "page=2&q=x%20y")
        self.assertEqual(self.lib.call_string("TwUrlEncodeQueryLax", '["a=b"]'), "0=a%3Db")
        self.assertEqual(len(freed), 4)

    def test_example_runs(self):
        here = os.path.dirname(os.path.abspath(__file__))
        run = subprocess.run([sys.executable, os.path.join(here, "example.py"), self.url + "/hello.txt"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn(f"GET {self.url}/hello.txt -> 200", run.stdout)
        self.assertIn("Content-Type: text/plain", run.stdout)
        self.assertIn("url_encode('a b&c/d') = a%20b%26c%2Fd", run.stdout)

    def test_a_library_that_cannot_load_is_explained(self):
        here = os.path.dirname(os.path.abspath(__file__))
        for library in ("/nonexistent/libTarnwellFunctions.so", here):
            with self.subTest(library=library):
                run = subprocess.run([sys.executable, os.path.join(here, "example.py"), self.url + "/hello.txt"],
                                     capture_output=True, text=True, timeout=60,
                                     env={**os.environ, "TARNWELL_LIBRARY": library})
                self.assertEqual(run.returncode, 1)
                self.assertNotIn("Traceback", run.stderr)
                self.assertIn(f"example.py: cannot load the library '{library}'", run.stderr)
                self.assertIn("set TARNWELL_LIBRARY to the library's full path", run.stderr)

    def test_windows_loads_the_dll_beside_the_module(self):
        # Python 3.8 and later do not search the current directory for DLLs.
        here = os.path.dirname(os.path.abspath(tarnwell.__file__))
        with unittest.mock.patch.dict(os.environ, {"TARNWELL_LIBRARY": ""}), \
                unittest.mock.patch.object(tarnwell.os, "name", "nt"):
            self.assertEqual(tarnwell.default_library_path(), os.path.join(here, "TarnwellFunctions.dll"))


if __name__ == "__main__":
    unittest.main()
