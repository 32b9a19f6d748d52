# tun: a proxy core (mihomo stand-in) owns tun0 and the preferred IPv4
# default route; an idle clash stand-in names a controller on another host
# (203.0.113.9:9090) and a secret on its command line. Sourced by run_e2e.sh
# in the run's directory (out.txt, facts.json, flows.txt).
e2e_py <<'PY'
mihomo = own_pid("mihomo")
clash = own_pid("clash")

with c.group("adapters"):
    c.eq(["lo", "enp3s0", "wlp2s0", "tun0"], [a["name"] for a in F["adapters"]], "adapters in listing order")
    tun = adapter("tun0")
    c.eq((True, 131, ["198.18.0.1"]), (tun["is_up"], tun["if_type"], [a["address"] for a in tun["ipv4_addresses"]]),
         "tun0 up, a tunnel, 198.18.0.1")
    c.eq(("Tunnel", 0.98), (assessment("tun0")["verdict"], assessment("tun0")["confidence"]), "tun0 judged Tunnel")
    c.eq(["198.18.0.1"], assessment("tun0")["fake_ip_addresses"], "fake-IP address of tun0")
    c.eq("Carrier", assessment("enp3s0")["verdict"], "enp3s0 still judged Carrier")
    c.eq([["198.18.0.2", "10.0.32.32", "10.0.32.33"]] * 4, [a["dns_servers"] for a in F["adapters"]],
         "every adapter lists the core's resolver 198.18.0.2 first")

with c.group("routes and egress"):
    c.eq("tun0", F["egress_v4_adapter"]["name"], "IPv4 egress adapter is tun0")
    c.eq({"destination": "0.0.0.0", "gateway": "", "if_index": tun["if_index"], "metric": 10, "family": 2,
          "prefix_length": 0}, F["default_route_v4"], "IPv4 default route through tun0")
    c.eq((None, "fe80::1"), (F["default_gateway_v4"], F["default_gateway_v6"]), "default gateways")
    c.eq((adapter("enp3s0")["if_index"], "2001:db8:50::10"), (F["egress_v6"]["if_index"], F["egress_v6"]["source"]),
         "IPv6 still leaves by enp3s0")

with c.group("processes and listeners"):
    c.eq(["clash", "mihomo"], own_proxy_processes(), "proxy processes: mihomo and the idle clash")
    for port in (7890, 9090):
        l = listener(port)
        c.eq(("127.0.0.1", mihomo), (l and l["local_address"], l and l["pid"]), "listener %d owned by mihomo" % port)
    for port, protocol in ((7890, "SOCKS5"), (9090, "")):
        a = candidate(port)
        c.eq(("candidate", protocol, mihomo), (a["level"], a["protocol"], a["pid"]), "port %d assessed" % port)

with c.group("interception"):
    i = F["interception"]
    c.eq(("VISIBLE-TUNNEL", 1.0), (i["level"], i["confidence"]), "interception VISIBLE-TUNNEL")
    c.eq("selected default-route adapter is an identified tunnel", i["signals"][0], "first signal")
    c.eq([mihomo], [p for p in i["protocol_proxy_processes"] if own(p)], "mihomo speaks a proxy protocol")

with c.group("controller of mihomo"):
    cores = own_core_infos()
    c.eq(sorted([mihomo, clash]), [ci["pid"] for ci in cores], "one core entry per core, by process id")
    m = cores[0]
    c.eq(mihomo, m["pid"], "first core entry is mihomo")
    c.eq(("127.0.0.1:9090", True, "strict", "gvisor"),
         (m["controller_text"], m["has_secret"], m["find_process_mode"], m["tun_stack"]), "read from its config.yaml")
    c.ok(m["config_path"].endswith("/mihomo/config.yaml"), "config path from -d", m["config_path"])
    c.eq([{"name": "hk-01", "type": "ss", "server": "203.0.113.10", "port": "8388"}], m["proxies"], "its proxies")
    c.eq(("http://127.0.0.1:9090", "v1.18.5"), (m["selected_controller"], m["version"]), "controller answered")
    conns = m["connections"]
    c.ok(len(conns) >= 1, "at least one connection listed", "got %d" % len(conns))
    c.ok(any(x.get("metadata", {}).get("host") == "example.org" and "hk-01" in x.get("chains", []) for x in conns),
         "the firefox tunnel to example.org through hk-01 is listed")

with c.group("remote controller of clash"):
    k = next(ci for ci in cores if ci["pid"] == clash)
    c.eq("203.0.113.9:9090", k["controller_text"], "clash's controller read from its command line")
    c.eq(True, k["has_secret"], "its secret was found (and not shown)")
    c.ok("203.0.113.9:9090" in k["skipped_endpoints"], "remote controller skipped", str(k["skipped_endpoints"]))
    c.eq([], [r for r in k["endpoint_results"] if "203.0.113.9" in r["label"]], "remote controller never queried")
    c.eq((None, []), (k["selected_controller"], k["connections"]), "no controller selected for clash")

with c.group("probes"):
    c.eq([True, True], [g["ok"] for g in F["gateway_probes"]], "gateways answer")
    c.eq((False, True), (F["internet_probes"]["v4"]["ok"], F["internet_probes"]["v6"]["ok"]),
         "IPv4 Internet lost in the tunnel, IPv6 answers")
    c.eq([False] * 4, [r["ping"]["ok"] for r in F["campus_probes"]["reachability"]], "campus pings lost in the tunnel")

c.has_line("  IPv4 egress -> tun0 (ifIndex %d)  src 198.18.0.1  via " % tun["if_index"], "IPv4 egress line")
PY

# No packet of the run went towards the remote controller, on any interface.
if grep -q '^[^ ]* 203\.0\.113\.9 ' flows.txt; then
  fail "packets sent to 203.0.113.9: $(grep '^[^ ]* 203\.0\.113\.9 ' flows.txt | tr '\n' ';')"
else
  pass "nothing sent to the remote controller 203.0.113.9"
fi

# The tunnel, its core and the application it carries, in words; the core
# runs, so nothing is called stale.
e2e_py <<'PY'
codes = [x["code"] for x in F["findings"]]
c.ok("stale-tunnel" not in codes, "diagnosis: the tunnel is not called stale", str(codes))
c.eq([], [x["code"] for x in F["findings"] if x["severity"] == "PROBLEM"], "diagnosis: no problem")
c.has_match(r"NOTE     All IPv4 traffic goes through tun0 \(Tunnel, 0\.98\), owned by mihomo \(pid \d+\); "
            r"the proxy core reports firefox's connections sent to its proxy port\.", "diagnosis: tunnel, owner and application")
PY
