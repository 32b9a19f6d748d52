# wg-quick: a full tunnel in table 51820 with wg-quick's two rules (IPv4 and
# IPv6), per-link DNS on wg0 from `resolvectl dns`. Sourced by run_e2e.sh.
e2e_py <<'PY'
wg = adapter("wg0")
with c.group("rules and their table"):
    for fam in (2, 23):
        rules = {r["priority"]: r for r in F["policy_rules"] if r["family"] == fam}
        r = rules.get(32765, {})
        c.eq(("51820", True, "0xca6c", 1), (r.get("table"), r.get("invert"), r.get("fwmark"), r.get("table_routes")),
             "family %d: not fwmark 51820 lookup 51820, holding one route" % fam)
        c.eq(0, rules.get(32764, {}).get("suppress_prefixlength"), "family %d: main less its default routes" % fam)
    defaults = [(r["family"], r["if_index"], r.get("table")) for r in F["routes"] if r["prefix_length"] == 0]
    c.eq([(2, wg["if_index"], "51820"), (2, 2, None), (23, wg["if_index"], "51820"), (23, 2, None)], defaults,
         "each family's table-51820 default route ranks before main's")
with c.group("egress follows the rules"):
    c.eq(("wg0", wg["if_index"], "51820"),
         (F["egress_v4_adapter"]["name"], F["default_route_v4"]["if_index"], F["default_route_v4"].get("table")),
         "IPv4 default route and egress: wg0, table 51820")
    c.eq((wg["if_index"], "51820"), (F["default_route_v6"]["if_index"], F["default_route_v6"].get("table")),
         "IPv6 default route: wg0, table 51820")
    a = assessment("wg0")
    c.eq((True, "Tunnel"), (a["has_default_route"], a["verdict"]), "wg0 holds the default route, a tunnel")
    c.eq(wg["if_index"], F["route_source"]["route_if_index"], "the route-source probe's route is wg0")
with c.group("per-link DNS"):
    c.eq(["10.64.0.1"], wg["dns_servers"], "wg0's own resolver from resolvectl")
    c.eq(["10.0.32.32", "10.0.32.33"], adapter("enp3s0")["dns_servers"], "enp3s0's own servers")
    c.eq(["127.0.0.53"], adapter("wlp2s0")["dns_servers"], "a link without its own servers keeps the global list")
    c.ok("10.64.0.1" in F["resolver_routes"], "the link's resolver has its route looked up")
c.has_block(["enp3s0                             Disabled   10.0.32.32, 10.0.32.33",
             "wlp2s0                             Disabled   127.0.0.53",
             "wg0                                Disabled   10.64.0.1"], "section 3: each link's own servers")
c.has_block(["  IPv4:",
             "    ifIndex %-4d wg0                                                 metric 0 (table 51820)" % wg["if_index"],
             "    ifIndex 2    enp3s0                             192.168.50.1     metric 100"],
            "section 6: the table's default route first, marked")
c.has_line("    v4  0      wg0                                                 ifIndex %d (table 51820)" % wg["if_index"],
           "section 6b marks the table")
c.has_line("      via wg0", "section 11: campus hosts through the tunnel")
PY
