"""Calls libTarnwellFunctions.so from Python through ctypes, as any scripting
host does: text goes in as zero-terminated bytes, ints as C ints, and every
string the library hands back (through a char** out-parameter or as the
return value) is copied and then given back to the library's freemem.

    lib = Library()                      # $TARNWELL_LIBRARY, else see default_library_path()
    r = lib.request("http://127.0.0.1:8000/hello.txt")
    r.code, r.body, r.ok                 # 200, b"...", True
    r.header_dict().get("content-type")  # "text/plain": any letter case, the last value
    lib.http_request({"url": "https://example.test/", "timeoutMs": 5000, "reuseConnections": True})
    lib.version()                        # {"version": ..., "libcurl": ..., "ssl": ..., "features": {...}}
    lib.url_encode("a b&c")              # "a%20b%26c"
    lib.query_string({"q": "a b"})       # "q=a%20b"
"""

import ctypes
import json
import os
from typing import Any, List, NamedTuple, Optional, Tuple, Union

TEXT = ctypes.c_char_p
INT = ctypes.c_int
# char**: the library stores a pointer to a new string there. c_void_p keeps
# the raw address, which freemem needs; c_char_p would copy and lose it.
OUT = ctypes.POINTER(ctypes.c_void_p)
STRING = ctypes.c_void_p  # a returned char*, for the same reason

_TW = [TEXT] * 4 + [OUT, OUT]  # method, url, headersJson, requestBody
_TW_AUTH = [TEXT] * 6 + [OUT, OUT]  # method, url, username, password, headersJson, requestBody

# Every export: (restype, argtypes). Declaring them keeps ctypes from
# guessing (it would pass ints for pointers and truncate returned pointers).
SIGNATURES = {
    "sendAuthEncodedRequestEncodeResponse": (INT, [TEXT] * 6 + [INT] * 3 + [OUT, OUT]),
    "sendEncodedRequestEncodeResponse": (INT, [TEXT] * 4 + [INT] * 3 + [OUT, OUT]),
    "sendAuthRequest": (INT, [TEXT] * 6 + [INT, OUT, OUT]),
    "sendRequest": (INT, [TEXT] * 4 + [INT, OUT, OUT]),
    **{name: (INT, _TW) for name in ("TwHttpCall", "TwHttpCallBase64", "TwHttpCallBytes", "TwHttpCallIn64",
                                     "TwHttpCallBase64In64", "TwHttpCallBytesIn64")},
    **{name: (INT, _TW_AUTH) for name in ("TwAuthHttpCall", "TwAuthHttpCallBase64", "TwAuthHttpCallBytes",
                                          "TwAuthHttpCallIn64", "TwAuthHttpCallBase64In64",
                                          "TwAuthHttpCallBytesIn64")},
    "TwHttpRequest": (INT, [TEXT, OUT, OUT]),
    "TwVersion": (STRING, []),
    "freemem": (None, [ctypes.c_void_p]),
    "escapeUrlStyleAllowedCharacters": (STRING, [TEXT, TEXT, INT]),
    "escapeUrlStyle": (STRING, [TEXT, INT]),
    "toQueryStringAllowedCharacters": (STRING, [TEXT, TEXT, INT]),
    "toQueryString": (STRING, [TEXT, INT]),
    **{name: (STRING, [TEXT]) for name in ("TwUrlEncodeJS", "TwUrlEncodeInter", "TwUrlEncodeLax",
                                           "TwUrlEncodeVeryLax", "TwUrlEncodeQueryJS", "TwUrlEncodeQueryInter",
                                           "TwUrlEncodeQueryLax", "TwUrlEncodeQueryVeryLax")},
}

# Response encodings and percent-encoding styles, as the library numbers them.
RAW, BASE64, DECIMAL_SPACES, DECIMAL_COMMAS, HEX_SPACES, HEX_COMMAS = range(6)
JS, INTER, LAX, VERY_LAX = range(4)

Arg = Union[str, bytes, int]


class Headers:
    """The header JSON as (name, value) pairs in arrival order, repeated names
    kept (Set-Cookie, and every response of a redirect chain or an
    authentication round). Lookups ignore letter case, as HTTP does, and
    give the last value: the final response's, when it sent that header."""

    def __init__(self, pairs: List[Tuple[str, str]]):
        self.pairs = pairs

    def get_all(self, name: str) -> List[str]:
        return [value for key, value in self.pairs if key.lower() == name.lower()]

    def get(self, name: str, default: Optional[str] = None) -> Optional[str]:
        values = self.get_all(name)
        return values[-1] if values else default

    def __getitem__(self, name: str) -> str:
        value = self.get(name)
        if value is None:
            raise KeyError(name)
        return value

    def __contains__(self, name: str) -> bool:
        return bool(self.get_all(name))


class Response(NamedTuple):
    code: int  # the HTTP status, or 0 when the request failed
    headers: str  # header JSON text; "" on failure
    body: bytes  # the body in the chosen encoding, or the error message

    @property
    def failed(self) -> bool:
        """The call itself failed: body holds the message."""
        return self.code == 0

    @property
    def ok(self) -> bool:
        """A status below 400, as Python's requests counts it."""
        return 0 < self.code < 400

    def header_dict(self) -> Headers:
        # json.loads would keep only the last of each repeated name.
        return Headers(json.loads(self.headers, object_pairs_hook=list) if self.headers else [])


def _c_arg(value: Arg) -> Union[bytes, int]:
    return value.encode("utf-8") if isinstance(value, str) else value


class LibraryNotFound(OSError):
    """The library could not be loaded; the message says from where and what to do."""


def default_library_path() -> str:
    """$TARNWELL_LIBRARY; else, on Windows, TarnwellFunctions.dll beside this
    module, by its full path (Python 3.8 and later do not search the current
    directory for DLLs); else libTarnwellFunctions.so from the loader's search
    path (an installed library, or LD_LIBRARY_PATH)."""
    if os.environ.get("TARNWELL_LIBRARY"):
        return os.environ["TARNWELL_LIBRARY"]
    if os.name == "nt":
        return os.path.join(os.path.dirname(os.path.abspath(__file__)), "TarnwellFunctions.dll")
    return "libTarnwellFunctions.so"


class Library:
    def __init__(self, path: str = None):
        path = path or default_library_path()
        # The 32-bit DLL's exports are stdcall, which WinDLL calls (on
        # 64-bit Windows it is the same as CDLL).
        load = ctypes.WinDLL if os.name == "nt" else ctypes.CDLL
        try:
            self._lib = load(path)
        except OSError as error:
            hint = ("put TarnwellFunctions.dll (of the same bitness as Python) beside tarnwell.py, or set "
                    "TARNWELL_LIBRARY to the DLL's full path" if os.name == "nt" else
                    "set TARNWELL_LIBRARY to the library's full path, such as "
                    "/path/to/build-release/libTarnwellFunctions.so, or install the library")
            raise LibraryNotFound(f"cannot load the library {path!r}: {error}; {hint}") from None
        for name, (restype, argtypes) in SIGNATURES.items():
            function = getattr(self._lib, name)
            function.restype = restype
            function.argtypes = argtypes
        self.freemem = self._lib.freemem

    def _take(self, pointer) -> bytes:
        """Copies a handed-out string and gives it back to the library."""
        try:
            return ctypes.string_at(pointer) if pointer else b""
        finally:
            self.freemem(pointer)

    def call_request(self, name: str, *args: Arg) -> Response:
        """Calls a request export with its own arguments minus the two out-parameters."""
        headers, body = ctypes.c_void_p(), ctypes.c_void_p()
        try:
            code = getattr(self._lib, name)(*map(_c_arg, args), ctypes.byref(headers), ctypes.byref(body))
        finally:
            header_text, body_bytes = self._take(headers.value), self._take(body.value)
        return Response(code, header_text.decode("utf-8", "surrogateescape"), body_bytes)

    def call_string(self, name: str, *args: Arg) -> str:
        """Calls an encoding export; the result is ASCII (percent-encoded)."""
        pointer = getattr(self._lib, name)(*map(_c_arg, args))
        if not pointer:
            raise MemoryError(name + " returned NULL")
        return self._take(pointer).decode("ascii")

    def request(self, url: str, method: str = "GET", headers: Any = None, body: Union[str, bytes] = b"", *,
                username: str = "", password: str = "", body_is_base64: bool = False, encoding: int = RAW,
                verify: bool = True) -> Response:
        """One request through the core export; headers is a dict (sent as JSON) or JSON text."""
        headers_json = headers if isinstance(headers, str) else json.dumps(headers) if headers else ""
        return self.call_request("sendAuthEncodedRequestEncodeResponse", url, username, password, method,
                                 headers_json, body, int(body_is_base64), encoding, 0 if verify else 1)

    def http_request(self, options: Union[dict, str]) -> Response:
        """One request through TwHttpRequest; options is a dict (sent as JSON) or the JSON text."""
        return self.call_request("TwHttpRequest", options if isinstance(options, str) else json.dumps(options))

    def version(self) -> dict:
        pointer = self._lib.TwVersion()
        if not pointer:
            raise MemoryError("TwVersion returned NULL")
        return json.loads(self._take(pointer))

    def url_encode(self, text: Union[str, bytes], style: int = JS) -> str:
        return self.call_string("escapeUrlStyle", text, style)

    def query_string(self, value: Any, style: int = JS) -> str:
        """value: anything json.dumps takes (usually a dict), or JSON text."""
        return self.call_string("toQueryString", value if isinstance(value, str) else json.dumps(value), style)
