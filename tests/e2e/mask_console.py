#!/usr/bin/env python3
"""Normalises corvale's console summary for comparison with a golden file.

  mask_console.py FILE                     the masked text on standard output
  mask_console.py --diff GOLDEN ACTUAL     unified diff of the masked texts;
                                           exit status 1 when they differ

Masked: process ids in the process and listener tables and in the
diagnosis (and the minor version of the python interpreter running the lab's
stand-ins, and the lab's folder of the stand-ins' own executables), DNS answer times ("in N ms"), the report's directory and time
stamp. The rows of those two tables are sorted (their order follows /proc and
the kernel's socket table).
Rows of processes outside this lab's laptop are dropped: the lab shares
/proc with the machine and with other labs running at the same time. Every
other byte is kept, so any other change of format shows in the diff. Applied
to both sides; a golden file already holds the masks and passes unchanged.
"""

import difflib
import os
import re
import sys

BANNER = "=" * 30
PROCESS_ROW = re.compile(r"^(  .{28}) (\d+)( *) (.*)$")          # "  {:<28} {:<8} {}"
LISTENER_ROW = re.compile(r"^(  .{40} .{8}) (\d+)( *) (.*)$")    # "  {:<40} {:<8} {:<8} {}"
DNS_TIME = re.compile(r"^(      -> .* in )\d+( ms\b.*)$")
PYTHON_VERSION = re.compile(r"\bpython3\.\d+\b")                  # stand-ins' interpreter
LAB_ROOT = re.compile(r"/tmp/cvl-[0-9]+-[A-Za-z0-9]+/root(?=/)")  # stand-ins' own executables
FINDING_PID = re.compile(r"\(pid \d+\)")                            # "owned by mihomo (pid 3)"
REPORT_LINE = re.compile(r"^  HTML report -> .*/corvale-report-\d{8}-\d{6}\.html$")


def on_this_laptop(pid):
    try:
        return os.readlink("/proc/%s/ns/net" % pid) == os.readlink("/proc/self/ns/net")
    except OSError:
        return False


def mask_pid(row, pattern):
    """(masked row, pid text) or (row, None) when the row has another shape."""
    m = pattern.match(row)
    if not m or (len(m.group(2)) < 8 and len(m.group(2)) + len(m.group(3)) != 8):
        return row, None
    return "%s %-8s %s" % (m.group(1), "<PID>", m.group(4)), m.group(2)


def table(rows, pattern, drop_strangers):
    out = []
    for row in rows:
        masked, pid = mask_pid(row, pattern)
        if pid is not None and drop_strangers and not on_this_laptop(pid):
            continue
        out.append(LAB_ROOT.sub("<LAB>", PYTHON_VERSION.sub("python3.<N>", masked)))
    if drop_strangers and rows and not out:
        out = ["  none found"]
    return sorted(out)


def normalise(lines):
    out = []
    section = ""
    i = 0
    while i < len(lines):
        line = lines[i]
        if line == BANNER and i + 2 < len(lines) and lines[i + 2] == BANNER:
            section = lines[i + 1].strip()
            out += lines[i:i + 3]
            i += 3
            if section.startswith(("7. ", "8. ")):
                rows = []
                while i < len(lines) and lines[i] != "":
                    rows.append(lines[i])
                    i += 1
                if section.startswith("7. "):
                    out += table(rows, PROCESS_ROW, drop_strangers=True)
                else:
                    out += table(rows, LISTENER_ROW, drop_strangers=False)
            continue
        if REPORT_LINE.match(line):
            line = "  HTML report -> <DIR>/corvale-report-<STAMP>.html"
        elif section.startswith("12. "):
            line = FINDING_PID.sub("(pid <PID>)", line)
        else:
            line = DNS_TIME.sub(r"\1<N>\2", line)
        out.append(line)
        i += 1
    return out


def masked(path):
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        return normalise(f.read().split("\n"))


def main():
    args = sys.argv[1:]
    if len(args) == 1:
        sys.stdout.write("\n".join(masked(args[0])))
        return 0
    if len(args) == 3 and args[0] == "--diff":
        want, got = masked(args[1]), masked(args[2])
        if want == got:
            return 0
        diff = difflib.unified_diff(want, got, "%s (masked)" % args[1], "%s (masked)" % args[2], lineterm="")
        sys.stdout.write("\n".join(diff) + "\n")
        return 1
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
