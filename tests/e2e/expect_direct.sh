# direct: the wired laptop where everything answers. Sourced by run_e2e.sh in
# the run's directory (out.txt, facts.json).
e2e_py <<'PY'
with c.group("adapters"):
    c.eq(["lo", "enp3s0", "wlp2s0"], [a["name"] for a in F["adapters"]], "adapters in listing order")
    eth, wifi = adapter("enp3s0"), adapter("wlp2s0")
    c.eq((True, 6, "54:E1:AD:50:00:10"), (eth["is_up"], eth["if_type"], eth["mac_address"]), "enp3s0 up, Ethernet, its MAC")
    c.eq((False, 71, "A4:C3:F0:85:12:34"), (wifi["is_up"], wifi["if_type"], wifi["mac_address"]), "wlp2s0 down, wireless, its MAC")
    c.eq(["192.168.50.10"], [a["address"] for a in eth["ipv4_addresses"]], "enp3s0 IPv4 address")
    c.ok("2001:db8:50::10" in [a["address"] for a in eth["ipv6_addresses"]], "enp3s0 global IPv6 address")
    c.eq(("Carrier", 0.98), (assessment("enp3s0")["verdict"], assessment("enp3s0")["confidence"]), "enp3s0 judged Carrier")
    c.eq(("Other", False), (assessment("wlp2s0")["verdict"], assessment("wlp2s0")["has_default_route"]),
         "wlp2s0 (down, no route) is no carrier")
    c.eq(["10.0.32.32", "10.0.32.33"], eth["dns_servers"], "resolvers from resolv.conf")

with c.group("routes and egress"):
    c.eq("enp3s0", F["egress_v4_adapter"]["name"], "IPv4 egress adapter")
    c.eq({"if_index": 2, "via": "192.168.50.1", "source": "192.168.50.10", "family": 2}, F["egress_v4"], "IPv4 egress lookup")
    c.eq({"if_index": 2, "via": "fe80::1", "source": "2001:db8:50::10", "family": 23}, F["egress_v6"], "IPv6 egress lookup")
    c.eq({"destination": "0.0.0.0", "gateway": "192.168.50.1", "if_index": 2, "metric": 100, "family": 2,
          "prefix_length": 0}, F["default_route_v4"], "IPv4 default route")
    c.eq({"destination": "::", "gateway": "fe80::1", "if_index": 2, "metric": 100, "family": 23,
          "prefix_length": 0}, F["default_route_v6"], "IPv6 default route")
    c.eq(("192.168.50.1", "fe80::1"), (F["default_gateway_v4"], F["default_gateway_v6"]), "default gateways")
    c.eq({"connected": True, "source_address": "192.168.50.10", "route_if_index": 2, "socket_if_index": 2,
          "mismatch": False}, F["route_source"], "route-source probe agrees with the route")

with c.group("probes"):
    c.eq((True, True), (F["internet_probes"]["v4"]["ok"], F["internet_probes"]["v6"]["ok"]), "Internet v4 and v6 answer")
    c.eq([("192.168.50.1", 2, True), ("fe80::1%2", 23, True)],
         [(g["gateway"], g["family"], g["ok"]) for g in F["gateway_probes"]], "both gateways answer")
    campus = F["campus_probes"]
    c.eq([("10.0.0.55", True), ("10.0.32.32", True), ("10.0.32.33", True), ("10.0.0.54", True)],
         [(r["host"], r["ping"]["ok"]) for r in campus["reachability"]], "campus hosts answer pings")
    c.eq((True, "Campus Network Portal"), (campus["portal_ok"], campus["portal_title"]), "portal and its title")
    c.eq({"recognized": True, "user_name": "20230001", "online_ip": "192.168.50.10", "sum_bytes": "123456789",
          "sum_seconds": "3600", "error": "ok"}, campus["login"], "login status recognised")
    p = campus["probes"]
    c.eq(("203.0.113.80", "203.0.113.80"), (p[2]["dns"]["answer"], p[3]["dns"]["answer"]), "campus resolvers answer")
    c.eq((200, "not-tried"), (p[4]["http"]["status"], p[4]["tcp_fallback"]), "campus API answers HTTP")

with c.group("interception"):
    i = F["interception"]
    c.eq(("NONE", 0.2, 0.0, []), (i["level"], i["confidence"], i["score"], i["signals"]), "interception NONE")
    c.eq([], [a for a in F["proxy_candidates"]["assessments"] if own(a["pid"])], "no listener to assess")
    c.eq([], own_proxy_processes(), "no proxy process on the laptop")

c.has_block(["  223.5.5.5   IPv4 : OK", "      egress -> enp3s0  src 192.168.50.10",
             "  2400:3200::1 IPv6 : OK", "      egress -> enp3s0  src 2001:db8:50::10"], "Internet lines")
c.has_block(["  Portal 10.0.0.55 HTTP : OK", "      title = Campus Network Portal"], "portal lines")
c.has_block(["  Login 10.0.0.55 rad_user_info : OK",
             "      id = 20230001   ip = 192.168.50.10   sum_bytes = 123456789   sum_seconds = 3600"], "login lines")
for resolver in ("10.0.32.32", "10.0.32.33"):
    c.has_line("  DNS %-16sOK" % resolver, "resolver %s line" % resolver)
c.has_match(r"      -> 203\.0\.113\.80 in \d+ ms via enp3s0 -> 192\.168\.50\.1", "resolver answer line")
c.has_block(["  API 10.0.0.54:8800 HTTP : OK", "      status = 200"], "campus API lines")
PY

# The diagnosis of a healthy host: one all-clear and nothing else.
e2e_py <<'PY'
c.eq([("OK", "all-clear")], [(x["severity"], x["code"]) for x in F["findings"]], "diagnosis: all clear")
c.has_line("OK       No problem found: link, gateway, DNS, Internet and campus portal answer; no interception.",
           "diagnosis line")
PY
