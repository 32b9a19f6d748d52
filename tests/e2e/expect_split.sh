# split: tun0 holds the preferred IPv4 default route, but the campus range
# 10.0.0.0/8 is routed via the Ethernet gateway. Each campus host is reached
# by its own route, so the console names enp3s0 and no campus resolver is
# marked intercepted. Sourced by run_e2e.sh in the run's directory.
e2e_py <<'PY'
enp = adapter("enp3s0")["if_index"]
with c.group("routes"):
    c.eq("tun0", F["egress_v4_adapter"]["name"], "the default egress is still tun0")
    c.eq({"destination": "10.0.0.0", "gateway": "192.168.50.1", "if_index": enp, "family": 2, "prefix_length": 8},
         {k: v for r in F["routes"] if r["destination"] == "10.0.0.0" for k, v in r.items() if k != "metric"},
         "the campus range goes via the Ethernet gateway")
    for host in ("10.0.0.55", "10.0.32.32", "10.0.32.33", "10.0.0.54"):
        route = F["campus_routes"].get(host) or {}
        c.eq((enp, "192.168.50.1"), (route.get("if_index"), route.get("via")), "own route of " + host)

with c.group("campus section"):
    for host in ("10.0.0.55", "10.0.32.32", "10.0.32.33", "10.0.0.54"):
        c.has_block(["  %-16sOK" % host, "      via enp3s0 -> 192.168.50.1"], "%s reached via enp3s0" % host)
    c.ok(not any("[proxy-intercepted]" in line for line in OUT), "no campus resolver marked intercepted")
    c.has_line("  DNS 10.0.32.32      OK", "campus resolver answers")
    c.ok(any(line.startswith("      -> 203.0.113.80 in ") and line.endswith(" ms via enp3s0 -> 192.168.50.1")
             for line in OUT), "resolver path names its own route")
PY
