#!/usr/bin/env bash
# Re-creates the captures in this folder. Runs only inside a fresh network
# namespace, so nothing it sets up can reach a real network:
#   unshare --net bash tests/data/linux/capture.sh tests/data/linux
# The tests pin the process ids and ports of the committed capture; a new
# capture needs them updated.
set -euo pipefail
out=${1:?output directory}
[[ $(ip -o link | wc -l) -eq 1 ]] || { echo "run me inside unshare --net" >&2; exit 2; }

ip link set lo up
# No dummy driver everywhere: veth pairs stand in for the wired and wireless cards.
ip link add eth0 address 52:54:00:12:34:56 type veth peer name gw-eth address 52:54:00:00:00:01
ip link add wlp2s0 address 9c:b6:d0:aa:bb:cc type veth peer name gw-wl address 52:54:00:00:00:02
ip link add veth-a address 52:54:00:00:00:0a type veth peer name veth-b address 52:54:00:00:00:0b
ip tuntap add tun0 mode tun
for l in eth0 gw-eth wlp2s0 gw-wl veth-a veth-b tun0; do ip link set "$l" up; done
ip addr add 10.20.30.40/24 dev eth0
ip addr add 2001:db8:1::40/64 dev eth0 nodad
ip addr add fe80::1/64 dev eth0 nodad
ip addr add 192.168.1.23/24 dev wlp2s0
ip addr add 198.18.0.1/30 dev tun0
ip addr add fdfe:dcba:9876::1/126 dev tun0 nodad
ip addr add 172.31.0.1/30 dev veth-a
ip route add default via 10.20.30.1 dev eth0 metric 100
ip route add default via 192.168.1.1 dev wlp2s0 metric 600
ip route add 0.0.0.0/1 dev tun0
ip route add 128.0.0.0/1 dev tun0
ip route add 10.0.0.55 via 10.20.30.1 dev eth0
ip -6 route add default via 2001:db8:1::1 dev eth0 metric 1024
ip -6 route add 2400:3200::/32 dev tun0 metric 5

# Listeners and one established loopback connection, owned by python.
python3 - <<'PY' &
import socket, time
def tcp(fam, addr, port):
    s = socket.socket(fam, socket.SOCK_STREAM); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((addr, port)); s.listen(); return s
import fcntl, struct
t = open("/dev/net/tun", "r+b", buffering=0)  # holds tun0 up while we look
fcntl.ioctl(t, 0x400454ca, struct.pack("16sH", b"tun0", 0x0001 | 0x1000))
keep = [tcp(socket.AF_INET, "127.0.0.1", 7890), tcp(socket.AF_INET6, "::", 443),
        tcp(socket.AF_INET, "0.0.0.0", 9090), tcp(socket.AF_INET6, "::1", 8080)]
v6only = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
v6only.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1); v6only.bind(("::", 8443)); v6only.listen()
keep.append(v6only)
ll = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
ll.bind(("fe80::1", 546, 0, socket.if_nametoindex("eth0"))); keep.append(ll)
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("0.0.0.0", 5353)); keep.append(u)
u6 = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM); u6.bind(("::1", 53)); keep.append(u6)
u4 = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
u4.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, b"lo"); u4.bind(("127.0.0.53", 53)); keep.append(u4)
c = socket.create_connection(("127.0.0.1", 7890)); a, _ = keep[0].accept(); keep += [c, a]
time.sleep(3)
PY
sleep 1
ip -j addr show >"$out/ip_addr.json"
ip -j route show >"$out/ip_route.json"
ip -j -6 route show >"$out/ip6_route.json"
ip route get 223.5.5.5 >"$out/route_get_v4.txt"
ip route get 10.0.0.55 >"$out/route_get_v4_via.txt"
ip -6 route get 2400:3200::1 >"$out/route_get_v6.txt"
ip -6 route get 2001:db8:1::99 >"$out/route_get_v6_onlink.txt"
ip route get 127.0.0.1 >"$out/route_get_local.txt"
unshare --net ip route get 223.5.5.5 >"$out/route_get_error.txt" 2>&1 || true
ss -H -tanp >"$out/ss_tcp.txt"
# A process may rename itself so that its shown name holds a forged owner.
python3 -c '
import ctypes, socket, subprocess, sys
ctypes.CDLL(None).prctl(15, b"x\",pid=1,fd=3)", 0, 0, 0)
s = socket.socket(); s.bind(("127.0.0.1", 5555)); s.listen()
sys.stdout.write(subprocess.run(["ss", "-H", "-tanp", "sport = :5555"], capture_output=True, text=True).stdout)
' >"$out/ss_tcp_forged_name.txt"
ss -H -uanp >"$out/ss_udp.txt"
wait
