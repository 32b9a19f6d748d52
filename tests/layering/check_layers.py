#!/usr/bin/env python3
"""Fails when a source file includes a header from a higher layer, or one of
a folder it must not reach even though that folder lies lower.

  check_layers.py SRC_DIR

Layers, bottom to top; folders on one floor may include each other. A folder
under SRC_DIR that is missing here fails too, so a new module has to be placed.
"""

import pathlib
import re
import sys

FLOORS = [
    ["util"],
    ["parallel"],
    ["facts"],
    ["linux", "probe", "mihomo"],
    ["stages"],
    ["graph"],
    ["report"],
    ["main"],
]
LEVEL = {folder: n for n, floor in enumerate(FLOORS) for folder in floor}
# The graph is pure: it reads the record and never the system or the network,
# so the I/O folders are closed to it although they lie below.
FORBIDDEN = {"graph": {"probe", "mihomo", "linux"}}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.M)


def violations(src):
    out = []
    for folder in sorted(p for p in src.iterdir() if p.is_dir()):
        if folder.name not in LEVEL:
            out.append("%s/: not placed in any layer" % folder.name)
            continue
        for path in sorted(folder.rglob("*")):
            if path.suffix not in (".h", ".cc") or not path.is_file():
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for target in INCLUDE.findall(text):
                if target in LEVEL and LEVEL[target] > LEVEL[folder.name]:
                    out.append("%s includes %s/ from a higher layer"
                               % (path.relative_to(src), target))
                elif target in FORBIDDEN.get(folder.name, ()):
                    out.append("%s includes %s/, which its layer must not reach"
                               % (path.relative_to(src), target))
    return out


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    found = violations(pathlib.Path(sys.argv[1]))
    for v in found:
        print(v)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
