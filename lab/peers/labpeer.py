"""Shared plumbing for the lab's stand-in peers (python3 standard library only).

Every peer:
  * may rename its process (/proc/PID/comm) so tools that look at process
    names (ss -p, ps) see the program it stands in for;
  * stops cleanly on SIGTERM/SIGINT/SIGHUP (servers shut down, sockets close);
  * stops by itself after LAB_PEER_MAX_SECONDS (default 6 hours), so a
    forgotten peer never runs forever.
"""

import os
import signal
import socket
import socketserver
import sys
import threading
import time

STOP = threading.Event()


def log(*parts):
    name = os.path.basename(sys.argv[0]) if sys.argv else "peer"
    print(time.strftime("%H:%M:%S"), name + ":", *parts, file=sys.stderr, flush=True)


def set_process_name(name):
    """Set /proc/self/comm (15 bytes max); call before starting threads."""
    try:
        with open("/proc/self/comm", "w") as f:
            f.write(name[:15])
    except OSError as e:
        log("cannot set process name:", e)


def install_signal_handlers():
    def _stop(signum, frame):
        STOP.set()

    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, _stop)


def max_lifetime():
    try:
        return max(1.0, float(os.environ.get("LAB_PEER_MAX_SECONDS", "21600")))
    except ValueError:
        return 21600.0


def split_hostport(text):
    """'1.2.3.4:80' / '[2001:db8::1]:53' / ':7890' -> (host, port)."""
    if text.startswith("["):
        host, _, port = text[1:].partition("]:")
    else:
        host, _, port = text.rpartition(":")
    if not port:
        raise ValueError("expected HOST:PORT, got %r" % text)
    return host, int(port)


def _family(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def make_server(base, listen, handler, backlog=128):
    """Instantiate a threaded socketserver of class `base` on `listen`
    ('HOST:PORT'; host '::' means dual-stack on every address)."""
    host, port = split_hostport(listen)

    class Server(socketserver.ThreadingMixIn, base):
        address_family = _family(host)
        allow_reuse_address = True
        daemon_threads = True
        block_on_close = False
        request_queue_size = backlog

        def server_bind(self):
            if self.address_family == socket.AF_INET6 and host == "::":
                self.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
            base.server_bind(self)

    return Server((host, port), handler)


def serve_until_stopped(servers, extra_threads=()):
    """Run each server in its own thread until a stop signal or the lifetime
    deadline; then shut everything down and return."""
    threads = []
    for srv in servers:
        t = threading.Thread(target=srv.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
        t.start()
        threads.append(t)
        log("listening on", srv.server_address[:2])
    for t in extra_threads:
        t.start()
    STOP.wait(max_lifetime())
    STOP.set()
    for srv in servers:
        srv.shutdown()
        srv.server_close()
    for t in list(threads) + list(extra_threads):
        t.join(timeout=1.0)
    log("stopped")


def recv_until(sock, marker, limit=65536, timeout=10.0):
    """Read from sock until `marker` is seen, `limit` bytes, EOF or timeout."""
    sock.settimeout(timeout)
    data = b""
    deadline = time.monotonic() + timeout
    while marker not in data and len(data) < limit and time.monotonic() < deadline:
        try:
            chunk = sock.recv(4096)
        except (socket.timeout, OSError):
            break
        if not chunk:
            break
        data += chunk
    return data


def recv_exact(sock, n, timeout=10.0):
    sock.settimeout(timeout)
    data = b""
    deadline = time.monotonic() + timeout
    while len(data) < n and time.monotonic() < deadline:
        chunk = sock.recv(n - len(data))
        if not chunk:
            break
        data += chunk
    if len(data) != n:
        raise EOFError("short read")
    return data


def hold_open(sock, on_data=None, idle_limit=None):
    """Keep a connection open, draining what the peer sends, until the peer
    closes, the peer is stopped, or idle_limit seconds pass without data."""
    sock.settimeout(0.5)
    idle = 0.0
    limit = idle_limit if idle_limit is not None else max_lifetime()
    while not STOP.is_set() and idle < limit:
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            idle += 0.5
            continue
        except OSError:
            return
        if not chunk:
            return
        idle = 0.0
        if on_data:
            on_data(chunk)
