#!/usr/bin/env python3
"""The layer check on small made-up trees: each row one include and whether
the check must refuse it."""

import pathlib
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import check_layers  # noqa: E402

ROWS = [
    # (folder of the file, include, refused)
    ("graph", "facts/facts.h", False),
    ("graph", "stages/collect.h", False),
    ("graph", "probe/probe.h", True),
    ("graph", "mihomo/controller.h", True),
    ("graph", "linux/sockets.h", True),
    ("stages", "probe/probe.h", False),
    ("facts", "probe/probe.h", True),
    ("report", "graph/graph.h", False),
]


def main():
    failures = []
    for folder, include, refused in ROWS:
        with tempfile.TemporaryDirectory() as tmp:
            src = pathlib.Path(tmp)
            for name in check_layers.LEVEL:
                (src / name).mkdir()
            (src / folder / "x.cc").write_text('#include "%s"\n' % include)
            found = check_layers.violations(src)
            if bool(found) != refused:
                failures.append("%s/x.cc including %s: %s" % (folder, include, found or "accepted"))
    for f in failures:
        print(f)
    print("%d rows, %d wrong" % (len(ROWS), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
