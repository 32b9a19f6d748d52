#!/usr/bin/env python3
"""Captures real replies on the lab laptop as fuzz seeds (standard library only):

  lab/lab run explicit -- tests/fuzz/capture_seeds.py tests/fuzz/corpus explicit
  lab/lab run tun -- tests/fuzz/capture_seeds.py tests/fuzz/corpus tun

DNS replies of the lab's resolvers, replies to the HTTP CONNECT probe's exact
request from every local listener, and the portal's login-status body.
"""

import os
import socket
import struct
import sys

CONNECT = b"CONNECT 127.0.0.1:9 HTTP/1.1\r\nHost: 127.0.0.1:9\r\nProxy-Connection: close\r\n\r\n"


def save(outdir, target, name, data):
    os.makedirs(os.path.join(outdir, target), exist_ok=True)
    with open(os.path.join(outdir, target, name), "wb") as f:
        f.write(data)
    print("%s/%s: %d bytes" % (target, name, len(data)))


def dns_reply(server, name, qtype):
    q = struct.pack("!HHHHHH", 0x4242, 0x0100, 1, 0, 0, 0)
    q += b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"
    q += struct.pack("!HH", qtype, 1)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(2)
    try:
        s.sendto(q, (server, 53))
        return s.recvfrom(4096)[0]
    except OSError:
        return None
    finally:
        s.close()


def connect_reply(port):
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=1)
    except OSError:
        return None
    try:
        s.sendall(CONNECT)
        return s.recv(768)
    except OSError:
        return None
    finally:
        s.close()


def http_body(host, path):
    s = socket.create_connection((host, 80), timeout=2)
    s.sendall(b"GET %s HTTP/1.0\r\nHost: %s\r\n\r\n" % (path.encode(), host.encode()))
    data = b""
    while True:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    s.close()
    return data.split(b"\r\n\r\n", 1)[1]


def main():
    outdir, scenario = sys.argv[1], sys.argv[2]
    if scenario == "explicit":
        for server in ("10.0.32.32", "223.5.5.5"):
            r = dns_reply(server, "www.baidu.com", 1)
            if r:
                save(outdir, "dns_answer", "lab_a_%s.bin" % server, r)
        r = dns_reply("10.0.32.32", "www.baidu.com", 28)
        if r:
            save(outdir, "dns_answer", "lab_aaaa_10.0.32.32.bin", r)
        for port, who in ((8888, "tinyproxy"), (10809, "v2ray_http"), (8080, "web"), (1080, "microsocks")):
            r = connect_reply(port)
            if r:
                save(outdir, "connect_verdict", "lab_%s.txt" % who, r)
        save(outdir, "login_status", "lab_portal.txt", http_body("10.0.0.55", "/cgi-bin/rad_user_info"))
    elif scenario == "tun":
        r = connect_reply(7890)
        if r:
            save(outdir, "connect_verdict", "lab_mihomo_mixed.txt", r)
    return 0


if __name__ == "__main__":
    sys.exit(main())
