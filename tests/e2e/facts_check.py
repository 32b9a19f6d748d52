#!/usr/bin/env python3
"""Assertions over what one corvale run left in its working directory
(facts.json, out.txt), for the end-to-end scripts.

  facts_check.py run -     run a check script read from stdin

A check script is plain Python executed with these names defined: F (the
parsed facts.json), OUT (lines of out.txt), c (the Checker: ok, eq, has_line,
has_match, has_block, group), the lookup helpers below and
check_destinations(FLOWS) for the capture of sniff.py. The exit status is the
number of failed checks (capped at 100), so a shell caller adds it to its
failure count.

The lab shares /proc with the machine and with other labs running at the same
time, so the host-wide process list holds strangers; own_pid() and own()
tell the processes of this lab's laptop (same network namespace as us).
"""

import contextlib
import ipaddress
import json
import os
import re
import sys
import traceback


class Checker:
    def __init__(self):
        self.fails = 0

    def fail(self, what):
        print("FAIL: " + what, file=sys.stderr, flush=True)
        self.fails += 1

    def ok(self, cond, what, detail=""):
        if cond:
            print("ok: " + what, flush=True)
        else:
            self.fail(what + (": " + detail if detail else ""))
        return bool(cond)

    def eq(self, expected, actual, what):
        return self.ok(expected == actual, what, "expected %r, got %r" % (expected, actual))

    def has_line(self, line, what):
        return self.ok(line in OUT, what, "no line %r in out.txt" % line)

    def has_match(self, pattern, what):
        """Some line of out.txt matches the regular expression as a whole."""
        rx = re.compile(pattern)
        return self.ok(any(rx.fullmatch(l) for l in OUT), what, "no line matching %r in out.txt" % pattern)

    def has_block(self, lines, what):
        """The lines appear consecutively in out.txt."""
        n = len(lines)
        found = any(OUT[i:i + n] == lines for i in range(len(OUT) - n + 1))
        return self.ok(found, what, "lines not found together in out.txt:\n    " + "\n    ".join(map(repr, lines)))

    @contextlib.contextmanager
    def group(self, what):
        """A failure inside (a missing key, a None) fails this group only."""
        try:
            yield
        except Exception as e:  # noqa: BLE001 - reported as a failed check
            self.fail("%s: %s: %s" % (what, type(e).__name__, e))
            traceback.print_exc(limit=2, file=sys.stderr)


c = Checker()
F = {}
OUT = []


def _netns(pid):
    try:
        return os.readlink("/proc/%s/ns/net" % pid)
    except OSError:
        return None


def own(pid):
    """The process runs on this lab's laptop (our network namespace)."""
    mine = _netns("self")
    return mine is not None and _netns(pid) == mine


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def own_pids(comm, arg=None):
    """Live processes of this laptop named `comm` whose command line has `arg`."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or not own(entry):
            continue
        if _read("/proc/%s/comm" % entry).strip() != comm:
            continue
        if arg is not None and arg not in _read("/proc/%s/cmdline" % entry).split("\0"):
            continue
        pids.append(int(entry))
    return sorted(pids)


def own_pid(comm, arg=None):
    """The one such process (None, with a failed check, when not exactly one)."""
    pids = own_pids(comm, arg)
    if c.ok(len(pids) == 1, "exactly one %s process on the laptop" % comm, "found %s" % pids):
        return pids[0]
    return None


def adapter(name):
    return next((a for a in F["adapters"] if a["name"] == name), None)


def assessment(name):
    return next((a for a in F["adapter_assessments"] if a["name"] == name), None)


def listener(port):
    """The TCP listener on a port, ignoring those of other labs' processes."""
    return next((l for l in F["tcp_listeners"] if l["local_port"] == port), None)


def candidate(port):
    return next((a for a in F["proxy_candidates"]["assessments"]
                 if a["port"] == port and own(a["pid"])), None)


def own_proxy_processes():
    return sorted(p["name"] for p in F["proxy_processes"] if own(p["pid"]))


def own_core_infos():
    return [ci for ci in F["core_infos"] if own(ci["pid"])]


def load(facts="facts.json", out="out.txt"):
    global F, OUT
    with open(facts, encoding="utf-8") as f:
        F = json.load(f)
    with open(out, encoding="utf-8", errors="replace") as f:
        OUT = f.read().split("\n")


def run_script(text):
    try:
        load()
    except (OSError, ValueError) as e:
        c.fail("cannot load facts.json / out.txt: %s" % e)
        return
    scope = dict(globals())
    try:
        exec(compile(text, "<check script>", "exec"), scope)
    except Exception as e:  # noqa: BLE001 - reported as a failed check
        c.fail("check script stopped: %s: %s" % (type(e).__name__, e))
        traceback.print_exc(limit=3, file=sys.stderr)


# Where corvale may send packets (README, "What it sends on the network"):
# (destination, protocol[, port]); ICMP of any type. The default gateways
# and configured IPv4 resolvers are added from the facts of the run.
FIXED_TARGETS = {
    ("223.5.5.5", "icmp"), ("2400:3200::1", "icmp6"),
    ("10.0.0.55", "icmp"), ("10.0.0.55", "tcp", "80"),
    ("10.0.0.54", "icmp"), ("10.0.0.54", "tcp", "8800"),
    ("10.0.32.32", "icmp"), ("10.0.32.32", "udp", "53"),
    ("10.0.32.33", "icmp"), ("10.0.32.33", "udp", "53"),
    ("1.1.1.1", "tcp", "443"),
}

NEIGHBOUR_DISCOVERY = {"type133", "type134", "type135", "type136", "type137"}


def check_destinations(flows_path):
    """Every packet the laptop sent went to a target corvale documents."""
    try:
        with open(flows_path) as f:
            flows = [line.split() for line in f if line.strip()]
    except (OSError, ValueError) as e:
        c.fail("cannot read the capture: %s" % e)
        return
    allowed = set(FIXED_TARGETS)
    for r in F.get("routes", []):
        if r.get("prefix_length") == 0 and r.get("gateway"):
            allowed.add((r["gateway"], "icmp6" if ":" in r["gateway"] else "icmp"))
    for a in F.get("adapters", []):
        for d in a.get("dns_servers", []):
            if ":" not in d:
                allowed.add((d, "udp", "53"))
    strays = []
    for ifname, dst, proto, dport, count in flows:
        ip = ipaddress.ip_address(dst)
        if ifname == "lo" or ip.is_loopback or ip.is_multicast:
            continue  # never leaves the host; multicast is neighbour discovery and MLD
        if proto == "icmp6" and dport in NEIGHBOUR_DISCOVERY:
            continue  # the kernel answering the gateway's solicitations
        key = (dst, proto) if proto.startswith("icmp") else (dst, proto, dport)
        if key not in allowed:
            strays.append("%s %s/%s via %s (%s packets)" % (dst, proto, dport, ifname, count))
    if any(a.get("is_up") and a.get("if_type") != 24 for a in F.get("adapters", [])):
        c.ok(flows, "the capture saw the run's packets", "nothing captured")
    c.ok(not strays, "packets only to the documented targets", "also sent to: " + "; ".join(strays))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "run" and sys.argv[2] == "-":
        run_script(sys.stdin.read())
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 100
    return min(c.fails, 100)


if __name__ == "__main__":
    sys.exit(main())
