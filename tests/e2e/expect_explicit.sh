# explicit: local proxies (tinyproxy, microsocks, v2ray) and a plain web
# server on loopback; HTTP_PROXY names tinyproxy with a user name and a
# password. Sourced by run_e2e.sh in the run's directory (out.txt, facts.json).
e2e_py <<'PY'
tinyproxy, microsocks, v2ray = own_pid("tinyproxy"), own_pid("microsocks"), own_pid("v2ray")
web = own_pid("python3", "127.0.0.1:8080")

with c.group("listeners and owners"):
    owners = {8888: tinyproxy, 1080: microsocks, 10808: v2ray, 10809: v2ray, 8080: web}
    for port, pid in owners.items():
        l = listener(port)
        c.eq(("127.0.0.1", pid), (l and l["local_address"], l and l["pid"]), "listener %d and its owner" % port)
    c.eq(sorted(owners), sorted(l["local_port"] for l in F["tcp_listeners"]), "no other listener")
    c.eq(["v2ray"], own_proxy_processes(), "proxy processes: v2ray")
    c.eq([], own_core_infos(), "no mihomo-family core to query")

with c.group("proxy settings"):
    c.eq([{"source": "HTTP_PROXY", "host": "127.0.0.1", "scheme": "http", "port": 8888}],
         [e for e in F["proxy_settings"]["endpoints"] if e["source"] == "HTTP_PROXY"],
         "HTTP_PROXY endpoint without its credentials")

with c.group("proxy candidates"):
    expected = {8888: ("candidate", ""), 1080: ("candidate", "SOCKS5"), 10808: ("candidate", "SOCKS5"),
                10809: ("candidate", "HTTP CONNECT"), 8080: ("inventory", "")}
    for port, (level, protocol) in expected.items():
        a = candidate(port)
        c.eq((level, protocol), (a and a["level"], a and a["protocol"]), "port %d: %s %s" % (port, level, protocol))
    c.ok("explicit proxy policy references listener (HTTP_PROXY)" in candidate(8888)["signals"],
         "tinyproxy referenced by HTTP_PROXY", candidate(8888)["signals"])
    c.eq(-0.25, candidate(8080)["score"], "plain web server: common port, negative probe")

with c.group("interception"):
    i = F["interception"]
    c.eq(("POSSIBLE", 0.58, 5.0), (i["level"], i["confidence"], i["score"]), "interception POSSIBLE")
    c.eq(sorted([microsocks, v2ray]), i["protocol_proxy_processes"], "processes speaking a proxy protocol")
    c.eq(sorted([tinyproxy, microsocks, v2ray]), i["proxy_like_processes"], "proxy-like processes")

with c.group("probes as in direct"):
    c.eq((True, True), (F["internet_probes"]["v4"]["ok"], F["internet_probes"]["v6"]["ok"]), "Internet answers")
    c.eq(True, F["campus_probes"]["portal_ok"], "portal answers")
PY

# Working local proxies are no fault: no problem, no warning.
e2e_py <<'PY'
c.eq([], [x["code"] for x in F["findings"] if x["severity"] in ("PROBLEM", "WARNING")],
     "diagnosis: no problem or warning")
c.eq(1, sum(x["severity"] == "OK" for x in F["findings"]), "diagnosis: one all-clear")
PY
