#!/usr/bin/env python3
"""Writes README-windows.txt for one Windows zip: the zip's own template
(tools/windows/README-windows.txt) with the library's documentation taken
from README.md, so the Windows text and the README cannot drift apart.

    readme-windows.py TEMPLATE README.md VERSION BITS > README-windows.txt

Every section of README.md from FIRST up to (not including) STOP goes in,
except those in SKIP; a heading that is missing stops the build.
"""

import re
import sys

FIRST = "What a host does"
STOP = "Trying exports from a shell: twcall"
# Said for Windows in the template itself.
SKIP = {"HTTPS and the CA bundle"}

CONVENTION = {
    "32": "stdcall (WINAPI) calling convention, as VBA's Declare\n"
    "                       and DllCall expect by default",
    "64": "one x64 calling convention of Windows",
}

CALLING = {
    "32": """C or C++: LoadLibraryA("TarnwellFunctions.dll"), GetProcAddress(module,
"TwHttpCall"), and a pointer type with the calling convention, which
TarnwellDll.h names TW_CALLCONV (__stdcall here):

    typedef int (TW_CALLCONV *TwHttpCallFn)(const char*, const char*,
        const char*, const char*, char**, char**);

VBA (32-bit Office) declares an export as it is, e.g.

    Private Declare Function TwVersion Lib "C:\\Tools\\Tarnwell\\TarnwellFunctions.dll" () As Long
    Private Declare Sub freemem Lib "C:\\Tools\\Tarnwell\\TarnwellFunctions.dll" (ByVal p As Long)

Python's ctypes loads it with ctypes.WinDLL (tarnwell.py does).""",
    "64": """C or C++: LoadLibraryA("TarnwellFunctions.dll"), then GetProcAddress(module,
"TwHttpCall") and the types from TarnwellDll.h; or link the DLL directly.""",
}


def sections(readme: str) -> "list[tuple[str, str]]":
    """(title, text) for each level-two section, text without the heading."""
    parts = re.split(r"^## (.+)\n", readme, flags=re.M)
    return [(parts[i].strip(), parts[i + 1]) for i in range(1, len(parts), 2)]


def documentation(readme: str) -> str:
    found = sections(readme)
    titles = [title for title, _ in found]
    for wanted in (FIRST, STOP, *SKIP):
        if wanted not in titles:
            sys.exit(f"readme-windows.py: README.md has no section '## {wanted}'")
    chosen = found[titles.index(FIRST) : titles.index(STOP)]
    out = []
    for title, text in chosen:
        if title in SKIP:
            continue
        out.append(f"{title}\n{'-' * len(title)}\n{text.strip()}\n")
    return "\n".join(out)


def main() -> None:
    if len(sys.argv) != 5 or sys.argv[4] not in CALLING:
        sys.exit(__doc__)
    template_path, readme_path, version, bits = sys.argv[1:]
    with open(template_path, encoding="utf-8") as f:
        text = f.read()
    with open(readme_path, encoding="utf-8") as f:
        readme = f.read()
    for key, value in {
        "@VERSION@": version,
        "@BITS@": bits,
        "@CONVENTION@": CONVENTION[bits],
        "@CALLING@": CALLING[bits],
        "@SECTIONS@": documentation(readme),
    }.items():
        text = text.replace(key, value)
    sys.stdout.write(text)


if __name__ == "__main__":
    main()
