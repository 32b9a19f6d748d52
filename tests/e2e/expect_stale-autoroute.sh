# stale-autoroute: table 2022 and its rules still send everything into tun0,
# which no process holds. Sourced by run_e2e.sh.
e2e_py <<'PY'
findings = F["findings"]
with c.group("facts"):
    c.eq(("tun0", "2022"), (F["egress_v4_adapter"]["name"], F["default_route_v4"].get("table")),
         "IPv4 egress: tun0 by table 2022")
    c.eq(False, adapter("tun0")["is_up"], "tun0 has no carrier")
    c.eq([], own_proxy_processes(), "no proxy process on the laptop")
with c.group("diagnosis"):
    c.eq(["stale-tunnel"], [x["code"] for x in findings if x["severity"] == "PROBLEM"],
         "the one problem is the stale tunnel")
    codes = [x["code"] for x in findings]
    c.ok("internet-silent" not in codes and "policy-rule-empty-table" not in codes, "nothing else blamed", str(codes))
c.has_line("PROBLEM  tun0 holds the IPv4 default route, but no proxy core or VPN program runs: a core that "
           "stopped left its tunnel behind, so traffic goes nowhere. Restart the proxy core, or remove the "
           "route (ip route del default dev tun0 table 2022; ip rule del priority 9000; ip rule del priority "
           "9002).", "the user reads how to remove the route and its rules")
PY
