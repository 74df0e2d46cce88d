"""The constants of the C header g729a.h, read from its #define lines.

The header is the one place that says the frame sizes, the encoder's delay,
the error codes, the frame kinds and the version. The package's build turns
it into the module g729a/_constants.py; run from the source tree without a
build, the package reads the header itself.

    python3 _header.py include/g729a.h OUT.py   writes the generated module
"""

import os
import re
import sys
from typing import Dict, Union

# "#define G729A_NAME value" where value is an integer, a parenthesised
# negative integer or a string; a comment may follow.
_DEFINE = re.compile(r'^\s*#\s*define\s+G729A_([A-Z0-9_]+)\s+(\(\s*-?\d+\s*\)|-?\d+|"[^"\\]*")\s*(/\*.*)?$')


def parse(text: str) -> Dict[str, Union[int, str]]:
    """The header's value macros, without their G729A_ prefix."""
    values: Dict[str, Union[int, str]] = {}
    for line in text.splitlines():
        match = _DEFINE.match(line)
        if match:
            name, value = match.group(1), match.group(2)
            values[name] = value[1:-1] if value.startswith('"') else int(value.strip("()"))
    return values


def source_tree_header() -> str:
    """The header of the source tree this file lies in."""
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.join(here, os.pardir, os.pardir, "include", "g729a.h")


def module_text(values: Dict[str, Union[int, str]], header: str) -> str:
    lines = ['"""Constants of %s, generated when the package was built."""' % os.path.basename(header), ""]
    lines += ["%s = %r" % (name, value) for name, value in sorted(values.items())]
    return "\n".join(lines) + "\n"


def write_module(header: str, out: str) -> None:
    with open(header, encoding="utf-8") as f:
        values = parse(f.read())
    text = module_text(values, header)
    # Write beside and rename, so an interrupted build leaves no half module.
    temporary = out + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(temporary, out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: _header.py HEADER OUT.py")
    write_module(sys.argv[1], sys.argv[2])
