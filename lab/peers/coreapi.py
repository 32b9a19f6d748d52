"""What the lab's proxy core stand-ins (mihomo, sing-box) share: the list of
connections they carry, the mixed port (SOCKS5 and HTTP proxy on one port),
the controller API on TCP or on a unix socket, and a TUN device that takes
the TCP connections routed into it.

The record of a connection follows the core it stands in for: mihomo names
the inbound ("Tun", "Socks5", "HTTPS" for CONNECT, "HTTP") and gives
`process`; sing-box writes "TYPE/TAG" ("tun/tun-in", "mixed/mixed-in"),
gives no `process`, and appends the owner's user to `processPath`.
"""

import datetime
import fcntl
import http.server
import json
import os
import pwd
import random
import re
import select
import socket
import socketserver
import struct
import threading
import uuid

import labpeer

FAKE_DESTINATION = "203.0.113.80"   # what the lab's resolvers answer for any name

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000


# ------------------------------------------------------------ connections ---

class Tracker:
    """The connections a core carries; `style` is "mihomo" or "sing-box"."""

    def __init__(self, chain_head, find_process, style="mihomo"):
        self.lock = threading.Lock()
        self.live = {}
        self.upload_total = 0
        self.download_total = 0
        self.chain_head = chain_head
        self.find_process = find_process
        self.style = style

    def open(self, kind, inbound_name, source, inbound, host, port, owner_ports=None):
        """source/inbound: (ip, port) of the client and of the core's end;
        owner_ports: (client port, server port) to find the client process by."""
        proc, path, user = ("", "", "")
        if self.find_process:
            cport, sport = owner_ports or (source[1], inbound[1])
            proc, path, user = find_owner(cport, sport)
        is_ip = re.match(r"^[0-9.]+$", host) or ":" in host
        destination = host if is_ip else FAKE_DESTINATION
        start = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="milliseconds").replace("+00:00", "Z")
        if self.style == "sing-box":
            metadata = {
                "network": "tcp", "type": kind + "/" + inbound_name if inbound_name else kind,
                "sourceIP": source[0], "destinationIP": destination,
                "sourcePort": str(source[1]), "destinationPort": str(port),
                "host": "" if is_ip else host, "sniffHost": "", "dnsMode": "normal",
                "processPath": "%s (%s)" % (path, user) if path and user else path,
            }
            chains = [self.chain_head, "proxy"] if self.chain_head else ["direct"]
            rule, payload = "final", ""
        else:
            metadata = {
                "network": "tcp", "type": kind,
                "sourceIP": source[0], "destinationIP": destination,
                "sourcePort": str(source[1]), "destinationPort": str(port),
                "inboundIP": inbound[0], "inboundPort": str(inbound[1]),
                "inboundName": inbound_name, "inboundUser": "",
                "host": "" if is_ip else host, "dnsMode": "normal", "uid": 0,
                "process": proc, "processPath": path,
                "specialProxy": "", "specialRules": "",
                "remoteDestination": destination, "sniffHost": "",
            }
            chains = [self.chain_head, "Proxy"] if self.chain_head else ["DIRECT"]
            rule = "MATCH" if is_ip else "DOMAIN-SUFFIX"
            payload = "" if is_ip else ".".join(host.split(".")[-2:])
        entry = {"id": str(uuid.uuid4()), "metadata": metadata, "upload": 0, "download": 0,
                 "start": start, "chains": chains, "rule": rule, "rulePayload": payload}
        with self.lock:
            self.live[entry["id"]] = entry
        return entry["id"]

    def add(self, cid, up=0, down=0):
        with self.lock:
            self.upload_total += up
            self.download_total += down
            e = self.live.get(cid)
            if e:
                e["upload"] += up
                e["download"] += down

    def close(self, cid):
        with self.lock:
            self.live.pop(cid, None)

    def snapshot(self):
        with self.lock:
            return {
                "downloadTotal": self.download_total,
                "uploadTotal": self.upload_total,
                "connections": [json.loads(json.dumps(e)) for e in self.live.values()],
                "memory": 0,
            }


def _hex_port(p):
    return "%04X" % p


def find_owner(client_port, server_port):
    """The process owning the client end of a TCP connection from
    client_port to server_port in this namespace, as find-process-mode
    strict does: the socket's inode from /proc/net/tcp{,6}, then the process
    holding it. Returns (comm, executable, user)."""
    inode = None
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f, None)
                for row in f:
                    cols = row.split()
                    if len(cols) < 10:
                        continue
                    if cols[1].endswith(":" + _hex_port(client_port)) and cols[2].endswith(":" + _hex_port(server_port)):
                        inode = cols[9]
                        break
        except OSError:
            continue
        if inode:
            break
    if not inode or inode == "0":
        return "", "", ""
    target = "socket:[%s]" % inode
    me = os.getpid()
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == me:
            continue
        fd_dir = "/proc/%s/fd" % pid
        try:
            fds = os.listdir(fd_dir)
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink(os.path.join(fd_dir, fd)) == target:
                    return process_identity(pid)
            except OSError:
                continue
    return "", "", ""


def process_identity(pid):
    try:
        with open("/proc/%s/comm" % pid) as f:
            comm = f.read().strip()
    except OSError:
        comm = ""
    # The real cores read the executable from the kernel (/proc/PID/exe),
    # never the process's own argv[0].
    path, user = "", ""
    try:
        path = os.readlink("/proc/%s/exe" % pid)
        user = pwd.getpwuid(os.stat("/proc/%s" % pid).st_uid).pw_name
    except (OSError, KeyError):
        pass
    return comm, path, user


# -------------------------------------------------------------- mixed port ---

def make_mixed_handler(tracker, socks_kind="Socks5", connect_kind="HTTPS", inbound_name="DEFAULT-MIXED",
                       speaks=("socks", "http")):
    """A proxy port speaking SOCKS5 and HTTP (a mixed port), or only the one
    of them in `speaks` (mihomo's socks-port and port); a port that does not
    speak what it is sent closes the connection."""

    class Mixed(socketserver.BaseRequestHandler):
        def handle(self):
            sock = self.request
            try:
                sock.settimeout(30)
                first = sock.recv(1, socket.MSG_PEEK)
                if not first:
                    return
                kind = "socks" if first == b"\x05" else "http"
                if kind not in speaks:
                    return
                if kind == "socks":
                    self.socks5(sock)
                else:
                    self.http(sock)
            except (OSError, EOFError) as e:
                labpeer.log("mixed: client", self.client_address[:2], "ended:", e)

        def tunnel(self, sock, kind, host, port):
            peer, local = sock.getpeername(), sock.getsockname()
            cid = tracker.open(kind, inbound_name, (peer[0].replace("::ffff:", ""), peer[1]),
                               (local[0].replace("::ffff:", ""), local[1]), host, port)
            labpeer.log("tunnel", kind, "%s:%s" % (host, port), "from", self.client_address[:2])
            try:
                labpeer.hold_open(sock, on_data=lambda b: tracker.add(cid, up=len(b)))
            finally:
                tracker.close(cid)

        def socks5(self, sock):
            ver, n = labpeer.recv_exact(sock, 2)
            methods = labpeer.recv_exact(sock, n) if n else b""
            if 0 not in methods:
                sock.sendall(b"\x05\xff")
                return
            sock.sendall(b"\x05\x00")
            try:
                ver, cmd, _, atyp = labpeer.recv_exact(sock, 4)
            except EOFError:
                return
            if atyp == 1:
                host = socket.inet_ntop(socket.AF_INET, labpeer.recv_exact(sock, 4))
            elif atyp == 4:
                host = socket.inet_ntop(socket.AF_INET6, labpeer.recv_exact(sock, 16))
            elif atyp == 3:
                host = labpeer.recv_exact(sock, labpeer.recv_exact(sock, 1)[0]).decode(errors="replace")
            else:
                sock.sendall(b"\x05\x08\x00\x01" + b"\x00" * 6)
                return
            port = struct.unpack("!H", labpeer.recv_exact(sock, 2))[0]
            if cmd != 1:
                sock.sendall(b"\x05\x07\x00\x01" + b"\x00" * 6)
                return
            sock.sendall(b"\x05\x00\x00\x01" + b"\x00" * 6)
            self.tunnel(sock, socks_kind, host, port)

        def http(self, sock):
            head = labpeer.recv_until(sock, b"\r\n\r\n")
            line = head.split(b"\r\n", 1)[0].decode(errors="replace")
            parts = line.split()
            if len(parts) != 3:
                sock.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            method, target, _ = parts
            if method == "CONNECT":
                host, port = labpeer.split_hostport(target)
                sock.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                self.tunnel(sock, connect_kind, host, port)
            elif target.startswith("http://"):
                if target.split("?", 1)[0].endswith("/generate_204"):
                    sock.sendall(b"HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n")
                else:
                    body = b"lab proxy core stand-in: no upstream\n"
                    sock.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Type: text/plain\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body)
            else:
                sock.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")

    return Mixed


# -------------------------------------------------------------- controller ---

def make_controller_handler(secret, tracker, configs, version, hello):
    """The controller API: GET /, /version, /configs, /connections, all only
    with 'Authorization: Bearer <secret>' when `secret` is set (401 otherwise)."""

    class Controller(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        server_version = "mihomo"
        sys_version = ""

        def version_string(self):
            return self.server_version

        def address_string(self):
            # A unix socket's client has no address.
            return self.client_address[0] if self.client_address else "unix"

        def log_message(self, fmt, *a):
            labpeer.log("controller %s %s" % (self.address_string(), fmt % a))

        def _json(self, code, obj):
            body = json.dumps(obj, separators=(",", ":")).encode() + b"\n"
            self.send_response(code)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            if secret and self.headers.get("Authorization", "") != "Bearer " + secret:
                return self._json(401, {"message": "Unauthorized"})
            path = self.path.split("?", 1)[0].rstrip("/") or "/"
            if path == "/":
                return self._json(200, hello)
            if path == "/version":
                return self._json(200, version)
            if path == "/configs":
                return self._json(200, configs)
            if path == "/connections":
                return self._json(200, tracker.snapshot())
            return self._json(404, {"message": "Resource not found"})

    return Controller


class Hanging(socketserver.BaseRequestHandler):
    """A controller whose core hangs: it accepts, reads and never answers."""

    def handle(self):
        labpeer.hold_open(self.request, idle_limit=60)


def controller_handler(secret, tracker, configs, version, hello):
    """The controller, or a hanging one when LAB_CONTROLLER_HANG is set (a
    core stuck in a deadlock; its process and listeners are still there)."""
    if os.environ.get("LAB_CONTROLLER_HANG"):
        return Hanging
    return make_controller_handler(secret, tracker, configs, version, hello)


def unix_server(path, handler):
    """A threaded HTTP server on a unix socket at `path` (replacing a stale
    socket file, as the cores do)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass

    class Server(socketserver.ThreadingMixIn, socketserver.UnixStreamServer):
        daemon_threads = True
        block_on_close = False

    return Server(path, handler)


# --------------------------------------------------------------------- tun ---

def _checksum(data):
    if len(data) % 2:
        data += b"\x00"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def _tcp_packet(src, dst, sport, dport, seq, ack, flags):
    tcp = struct.pack("!HHIIBBHHH", sport, dport, seq, ack, 5 << 4, flags, 65535, 0, 0)
    csum = _checksum(src + dst + struct.pack("!BBH", 0, 6, len(tcp)) + tcp)
    tcp = tcp[:16] + struct.pack("!H", csum) + tcp[18:]
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp), 0, 0x4000, 64, 6, 0, src, dst)
    return ip[:10] + struct.pack("!H", _checksum(ip)) + ip[12:] + tcp


SYN, ACK, FIN, RST = 0x02, 0x10, 0x01, 0x04


def tun_stack(name, tracker, kind="Tun", inbound_name="DEFAULT-TUN"):
    """Attach to the TUN device `name` (IFF_TUN|IFF_NO_PI), which gives it its
    carrier. IPv4 TCP connections to the ports in LAB_TUN_ACCEPT_PORTS
    (comma-separated) are accepted the way a core's TUN stack takes them:
    SYN answered, data acknowledged, each listed as a connection until it is
    reset or closed; nothing goes further. Every other packet is drained."""
    accept = {int(p) for p in os.environ.get("LAB_TUN_ACCEPT_PORTS", "").split(",") if p.strip().isdigit()}
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
    labpeer.log("attached to", name, "accepting TCP to", sorted(accept) or "nothing")
    flows = {}   # (src, sport, dst, dport) -> (our initial sequence number, connection id)

    def handle(pkt):
        if len(pkt) < 40 or pkt[0] >> 4 != 4 or pkt[9] != 6:
            return
        ihl = (pkt[0] & 15) * 4
        total = struct.unpack("!H", pkt[2:4])[0]
        src, dst = pkt[12:16], pkt[16:20]
        tcp = pkt[ihl:total]
        sport, dport, seq, _ = struct.unpack("!HHII", tcp[:12])
        flags = tcp[13]
        payload = len(tcp) - (tcp[12] >> 4) * 4
        key = (src, sport, dst, dport)
        if dport not in accept:
            return
        if flags & RST:
            flow = flows.pop(key, None)
            if flow:
                tracker.close(flow[1])
            return
        if flags & SYN and not flags & ACK:
            if key not in flows:
                cid = tracker.open(kind, inbound_name, (socket.inet_ntoa(src), sport), ("", 0),
                                   socket.inet_ntoa(dst), dport, owner_ports=(sport, dport))
                flows[key] = (random.getrandbits(32), cid)
                labpeer.log("tun: accepted", socket.inet_ntoa(dst), dport, "from port", sport)
            # A repeated SYN gets the same answer.
            os.write(fd, _tcp_packet(dst, src, dport, sport, flows[key][0], (seq + 1) & 0xFFFFFFFF, SYN | ACK))
            return
        flow = flows.get(key)
        if not flow:
            return
        ours = (flow[0] + 1) & 0xFFFFFFFF   # nothing is ever sent back but the SYN
        if payload > 0:
            tracker.add(flow[1], up=payload)
        if flags & FIN:
            os.write(fd, _tcp_packet(dst, src, dport, sport, ours, (seq + payload + 1) & 0xFFFFFFFF, FIN | ACK))
            tracker.close(flows.pop(key)[1])
        elif payload > 0:
            os.write(fd, _tcp_packet(dst, src, dport, sport, ours, (seq + payload) & 0xFFFFFFFF, ACK))

    def run():
        seen = 0
        try:
            while not labpeer.STOP.is_set():
                ready, _, _ = select.select([fd], [], [], 0.5)
                if ready:
                    seen += 1
                    try:
                        handle(os.read(fd, 65536))
                    except (OSError, struct.error) as e:
                        labpeer.log("tun: packet dropped:", e)
        finally:
            os.close(fd)
            labpeer.log("tun: read", seen, "packets")

    return threading.Thread(target=run, daemon=True)
