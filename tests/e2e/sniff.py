#!/usr/bin/env python3
"""Records where the lab laptop sends IP packets while a run is in progress.

  sniff.py READY_FILE OUT_FILE [MAX_SECONDS]

Opens a packet socket on every interface of the current network namespace,
creates READY_FILE once capturing has started, and on SIGTERM/SIGINT (or
after MAX_SECONDS, default 300) writes one line per distinct outgoing flow
to OUT_FILE: "IFNAME DST PROTO DPORT COUNT" (DPORT is the message type
"typeN" for ICMP, "-" for other protocols). It only receives; it never sends anything.
"""

import collections
import signal
import socket
import sys
import time

ETH_P_ALL = 0x0003
ETH_P_IP = 0x0800
ETH_P_IPV6 = 0x86DD
PACKET_OUTGOING = 4
PROTO_NAMES = {1: "icmp", 6: "tcp", 17: "udp", 58: "icmp6"}


def flow_of(proto, pkt):
    """(dst, proto-name, dport) of an IPv4/IPv6 packet, None for anything else."""
    if proto == ETH_P_IP and len(pkt) >= 20 and pkt[0] >> 4 == 4:
        ihl = (pkt[0] & 0x0F) * 4
        nxt = pkt[9]
        dst = socket.inet_ntop(socket.AF_INET, pkt[16:20])
        off = ihl
    elif proto == ETH_P_IPV6 and len(pkt) >= 40 and pkt[0] >> 4 == 6:
        nxt = pkt[6]
        dst = socket.inet_ntop(socket.AF_INET6, pkt[24:40])
        off = 40
    else:
        return None
    dport = "-"
    if nxt in (6, 17) and len(pkt) >= off + 4:
        dport = str(int.from_bytes(pkt[off + 2:off + 4], "big"))
    elif nxt in (1, 58) and len(pkt) > off:
        dport = "type%d" % pkt[off]
    return dst, PROTO_NAMES.get(nxt, "ip%d" % nxt), dport


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    ready, out = sys.argv[1], sys.argv[2]
    limit = float(sys.argv[3]) if len(sys.argv) > 3 else 300.0
    stop = []
    for s in (signal.SIGTERM, signal.SIGINT):
        signal.signal(s, lambda *_: stop.append(1))
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_ALL))
    sock.settimeout(0.1)
    open(ready, "w").close()
    flows = collections.Counter()
    deadline = time.monotonic() + limit
    while not stop and time.monotonic() < deadline:
        try:
            pkt, addr = sock.recvfrom(65536)
        except (socket.timeout, InterruptedError):
            continue
        ifname, proto, pkttype = addr[0], addr[1], addr[2]
        if pkttype != PACKET_OUTGOING:
            continue
        flow = flow_of(proto, pkt)
        if flow:
            flows[(ifname,) + flow] += 1
    with open(out, "w") as f:
        for key in sorted(flows):
            f.write("%s %s %s %s %d\n" % (key + (flows[key],)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
