# autoroute: a proxy core's TUN with auto-route: table 2022, rules from 9000,
# the main table untouched. Sourced by run_e2e.sh.
e2e_py <<'PY'
tun = adapter("tun0")
with c.group("main table untouched, table 2022 selected"):
    main_defaults = [r["if_index"] for r in F["routes"] if r["prefix_length"] == 0 and r["family"] == 2
                     and "table" not in r]
    c.eq([2], main_defaults, "the main table holds only the Ethernet default route")
    c.eq((tun["if_index"], "2022", 9002), (F["default_route_v4"]["if_index"], F["default_route_v4"].get("table"),
                                          F["default_route_v4"].get("rule_priority")),
         "IPv4 default route: tun0 in table 2022, reached by rule 9002")
    c.eq([9000, 9001, 9002], [r["priority"] for r in F["policy_rules"] if 9000 <= r["priority"] < 10000
                              and r["family"] == 2], "the core's rules")
    c.eq(("Tunnel", True), (assessment("tun0")["verdict"], assessment("tun0")["has_default_route"]),
         "tun0 judged Tunnel, holding the default route")
    c.eq("VISIBLE-TUNNEL", F["interception"]["level"], "interception VISIBLE-TUNNEL")
c.has_line("    ifIndex %-4d tun0                                                metric 0 (table 2022)" % tun["if_index"],
           "section 6 lists the table's default route")
c.has_match(r"NOTE     All IPv4 traffic goes through tun0 \(Tunnel, 0\.98\), owned by mihomo .*",
            "the diagnosis names the tunnel and its core")
PY
