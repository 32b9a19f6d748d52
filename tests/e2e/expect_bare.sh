# bare: loopback only, no routes, a stub resolver nothing answers. Sourced by
# run_e2e.sh in the run's directory (out.txt, facts.json).
e2e_py <<'PY'
with c.group("nothing but loopback"):
    c.eq(["lo"], [a["name"] for a in F["adapters"]], "only lo")
    c.eq(["127.0.0.53"], adapter("lo")["dns_servers"], "stub resolver listed")
    c.eq(["127.0.0.53"], assessment("lo")["loopback_dns"], "stub resolver seen as loopback DNS")
    c.eq([], F["routes"], "no routes")
    for key in ("egress_v4", "egress_v6", "egress_v4_adapter", "default_route_v4", "default_route_v6",
                "default_gateway_v4", "default_gateway_v6"):
        c.eq(None, F[key], key + " absent")
    c.eq([], F["gateway_probes"], "no gateway to probe")
    c.eq((False, False), (F["internet_probes"]["v4"]["ok"], F["internet_probes"]["v6"]["ok"]), "Internet fails")
    c.eq(False, F["campus_probes"]["portal_ok"], "no portal")
    c.eq(("NONE", 0.2), (F["interception"]["level"], F["interception"]["confidence"]), "interception NONE")

c.has_block(["  IPv4 egress -> none", "  IPv6 egress -> none"], "egress none")
c.has_block(["  IPv4:", "  IPv6:", ""], "no default routes listed")
PY
