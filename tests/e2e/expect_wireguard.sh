# wireguard: a WireGuard VPN (wireguard-go on a tun device wg0) holds the
# preferred IPv4 default route. Sourced by run_e2e.sh in the run's directory.
e2e_py <<'PY'
with c.group("wg0 recognised as a tunnel"):
    wg = adapter("wg0")
    c.eq((True, 131, ["10.64.0.2"], "tun"),
         (wg["is_up"], wg["if_type"], [a["address"] for a in wg["ipv4_addresses"]], wg["link_kind"]),
         "wg0 up, a tunnel by name and by its kernel link kind")
    c.eq("wg0", wg["description"], "the description stays the interface name")
    a = assessment("wg0")
    c.eq((14, "Tunnel", 0.98), (a["tunnel_score"], a["verdict"], a["confidence"]),
         "T = 6 (MediaType=IP) + 8 (tunnel identity from the link kind)")
    c.eq(["MediaType=IP", "tunnel/VPN identity in adapter, service or driver"], a["reasons"], "its reasons")
    c.eq("Carrier", assessment("enp3s0")["verdict"], "enp3s0 still judged Carrier")
    c.eq("veth", adapter("enp3s0")["link_kind"], "enp3s0's kind is read too")

with c.group("egress and interception"):
    c.eq("wg0", F["egress_v4_adapter"]["name"], "IPv4 egress adapter is wg0")
    c.eq("VISIBLE-TUNNEL", F["interception"]["level"], "interception VISIBLE-TUNNEL")
    c.eq(["wireguard-go"], own_proxy_processes(), "the WireGuard process is listed")

c.has_line("  IPv4 egress -> wg0 (ifIndex %d)  src 10.64.0.2  via " % adapter("wg0")["if_index"],
           "IPv4 egress line")
PY
