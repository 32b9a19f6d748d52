# stale-tun: tun0 holds the preferred IPv4 default route without any process
# behind it, and resolv.conf still lists the core's resolver 198.18.0.2.
# Sourced by run_e2e.sh.
e2e_py <<'PY'
findings = F["findings"]
with c.group("facts"):
    c.eq("tun0", F["egress_v4_adapter"]["name"], "IPv4 egress is tun0")
    c.eq("Tunnel", assessment("tun0")["verdict"], "tun0 judged Tunnel")
    c.eq([], own_proxy_processes(), "no proxy process on the laptop")
with c.group("diagnosis"):
    c.eq(["stale-tunnel"], [x["code"] for x in findings if x["severity"] == "PROBLEM"],
         "the one problem is the stale tunnel")
    codes = [x["code"] for x in findings]
    c.ok("tunnel-default-route" not in codes, "not described as a working tunnel", str(codes))
    c.ok("internet-silent" not in codes, "not blamed on the Internet", str(codes))
c.has_line("PROBLEM  tun0 holds the IPv4 default route, but no proxy core or VPN program runs: a core "
           "that stopped left its tunnel behind and DNS still points at its resolver 198.18.0.2, so "
           "traffic goes nowhere. Restart the proxy core, or remove the route (ip route del default "
           "dev tun0) and restore /etc/resolv.conf.", "the user reads what is wrong and what to do")
PY
