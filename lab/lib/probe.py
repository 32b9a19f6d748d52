"""Probes for the lab self-test, run on the lab laptop (standard library only).
Each prints one line and exits 0 when the probe got the expected answer,
1 otherwise; every network wait has a time-out (--timeout SECONDS before
the probe name, default 2).

  probe.py dns SERVER [NAME] [--expect-a ADDR]     UDP DNS query for an A record
  probe.py http URL [--status N] [--contains TEXT] [--header 'K: V']
  probe.py tcp HOST PORT                           TCP connect
  probe.py socks5 HOST PORT                        greeting 05 01 00 -> 05 00
  probe.py connect HOST PORT TARGET                HTTP CONNECT TARGET -> 200
  probe.py http URL --unix PATH ...                the same over a unix socket
"""

import argparse
import http.client
import random
import socket
import struct
import sys
import urllib.parse


def family(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def probe_dns(args):
    qid = random.randrange(65536)
    q = struct.pack("!HHHHHH", qid, 0x0100, 1, 0, 0, 0)
    q += b"".join(bytes([len(p)]) + p.encode() for p in args.name.split(".")) + b"\0"
    q += struct.pack("!HH", 1, 1)
    s = socket.socket(family(args.server), socket.SOCK_DGRAM)
    s.settimeout(args.timeout)
    try:
        s.sendto(q, (args.server, 53))
        r, _ = s.recvfrom(4096)
    finally:
        s.close()
    rid, flags, qd, an = struct.unpack("!HHHH", r[:8])
    if rid != qid or flags & 0x000F or an < 1:
        return False, "bad answer id=%d flags=%#x answers=%d" % (rid, flags, an)
    # skip question, read the first answer (name is a pointer: 2 bytes)
    i = 12
    while r[i]:
        i += r[i] + 1
    i += 5
    i += 2
    rtype, _, _, rdlen = struct.unpack("!HHIH", r[i:i + 10])
    addr = socket.inet_ntoa(r[i + 10:i + 14]) if rtype == 1 and rdlen == 4 else "?"
    if args.expect_a and addr != args.expect_a:
        return False, "A %s, expected %s" % (addr, args.expect_a)
    return True, "A %s" % addr


class UnixConnection(http.client.HTTPConnection):
    """HTTP over the unix socket at `path` (a proxy core's controller)."""

    def __init__(self, path, timeout):
        super().__init__("localhost", timeout=timeout)
        self.path = path

    def connect(self):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(self.timeout)
        self.sock.connect(self.path)


def probe_http(args):
    u = urllib.parse.urlsplit(args.url)
    if args.unix:
        conn = UnixConnection(args.unix, args.timeout)
    else:
        conn = http.client.HTTPConnection(u.hostname, u.port or 80, timeout=args.timeout)
    headers = {}
    for h in args.header or []:
        k, _, v = h.partition(":")
        headers[k.strip()] = v.strip()
    try:
        conn.request("GET", (u.path or "/") + ("?" + u.query if u.query else ""), headers=headers)
        resp = conn.getresponse()
        body = resp.read().decode(errors="replace")
    finally:
        conn.close()
    if args.status is not None and resp.status != args.status:
        return False, "status %d, expected %d" % (resp.status, args.status)
    if args.contains and args.contains not in body:
        return False, "status %d, body lacks %r: %r" % (resp.status, args.contains, body[:120])
    return True, "status %d %r" % (resp.status, body[:80])


def probe_tcp(args):
    s = socket.create_connection((args.host, args.port), timeout=args.timeout)
    s.close()
    return True, "connected"


def probe_socks5(args):
    s = socket.create_connection((args.host, args.port), timeout=args.timeout)
    try:
        s.sendall(b"\x05\x01\x00")
        r = s.recv(2)
    finally:
        s.close()
    return r == b"\x05\x00", "reply %s" % r.hex()


def probe_connect(args):
    s = socket.create_connection((args.host, args.port), timeout=args.timeout)
    try:
        s.sendall(("CONNECT %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (args.target, args.target)).encode())
        r = s.recv(200).decode(errors="replace")
    finally:
        s.close()
    line = r.split("\r\n", 1)[0]
    return line.split(" ")[1:2] == ["200"], line


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--timeout", type=float, default=2.0)
    sub = ap.add_subparsers(dest="probe", required=True)
    p = sub.add_parser("dns")
    p.add_argument("server")
    p.add_argument("name", nargs="?", default="portal.example.edu")
    p.add_argument("--expect-a")
    p = sub.add_parser("http")
    p.add_argument("url")
    p.add_argument("--status", type=int)
    p.add_argument("--contains")
    p.add_argument("--header", action="append")
    p.add_argument("--unix")
    for name in ("tcp", "socks5"):
        p = sub.add_parser(name)
        p.add_argument("host")
        p.add_argument("port", type=int)
    p = sub.add_parser("connect")
    p.add_argument("host")
    p.add_argument("port", type=int)
    p.add_argument("target")
    args = ap.parse_args()
    try:
        ok, what = globals()["probe_" + args.probe](args)
    except (OSError, ValueError, struct.error, IndexError, http.client.HTTPException) as e:
        ok, what = False, "%s: %s" % (type(e).__name__, e)
    print("%s %s: %s" % ("ok" if ok else "FAIL", args.probe, what))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
