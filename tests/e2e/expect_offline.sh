# offline: configured like 'direct' but the gateway never answers. Every
# probe fails, the run still ends with status 0, and it ends in a time set by
# the probes' time-outs. Sourced by run_e2e.sh ($elapsed_ms, out.txt, facts.json).
e2e_py <<'PY'
with c.group("configuration as in direct"):
    c.eq("enp3s0", F["egress_v4_adapter"]["name"], "IPv4 egress adapter")
    c.eq(("192.168.50.1", "fe80::1"), (F["default_gateway_v4"], F["default_gateway_v6"]), "default gateways")
    c.eq("Carrier", assessment("enp3s0")["verdict"], "enp3s0 judged Carrier")

with c.group("every probe failed"):
    c.eq((False, False), (F["internet_probes"]["v4"]["ok"], F["internet_probes"]["v6"]["ok"]), "Internet v4 and v6 fail")
    c.eq([("192.168.50.1", False), ("fe80::1%2", False)], [(g["gateway"], g["ok"]) for g in F["gateway_probes"]],
         "both gateways fail")
    campus = F["campus_probes"]
    c.eq([False] * 4, [r["ping"]["ok"] for r in campus["reachability"]], "campus pings fail")
    c.eq((False, ""), (campus["portal_ok"], campus["portal_title"]), "no portal")
    c.eq(False, campus["login"]["recognized"], "no login status")
    p = campus["probes"]
    c.eq((None, None), (p[0]["http"], p[1]["http"]), "portal requests get no response")
    c.eq(("", ""), (p[2]["dns"]["answer"], p[3]["dns"]["answer"]), "campus resolvers silent")
    c.eq((None, "failed"), (p[4]["http"], p[4]["tcp_fallback"]), "campus API and its TCP fallback fail")
    c.eq(False, F["route_source"]["connected"], "route-source connect fails")
    c.eq("NONE", F["interception"]["level"], "interception NONE")

c.has_line("  223.5.5.5   IPv4 : FAIL", "Internet v4 line")
c.has_line("  2400:3200::1 IPv6 : FAIL", "Internet v6 line")
c.has_block(["  Portal 10.0.0.55 HTTP : FAIL", "      title = "], "portal lines")
c.has_block(["  Login 10.0.0.55 rad_user_info : FAIL", "      (unrecognized response shape)"], "login lines")
c.has_block(["  DNS 10.0.32.32      FAIL", "      -> no answer"], "resolver line")
c.has_block(["  API 10.0.0.54:8800 HTTP : FAIL", "      (fallback: tcp probe)"], "campus API lines")
PY

# When nothing answers the slow probes overlap, so the run takes about as
# long as the slowest of them: the campus API (a DNS probe, then 6000 plus
# the 1400 TCP fallback) next to the portal's 8000, plus the local
# collectors. The same bound as the probe-count run of this scenario; a
# looser one here would let a run that serialises its probes pass.
offline_bound_ms=12000
echo "offline: run took ${elapsed_ms} ms (bound ${offline_bound_ms} ms)"
if ((elapsed_ms < offline_bound_ms)); then
  pass "offline run within ${offline_bound_ms} ms"
else
  fail "offline run took ${elapsed_ms} ms, bound ${offline_bound_ms} ms"
fi

# The answer in words: the gateway does not answer, and nothing else is blamed.
e2e_py <<'PY'
c.eq(["gateway-silent"], [x["code"] for x in F["findings"] if x["severity"] == "PROBLEM"],
     "diagnosis: the gateway is the problem")
c.has_line("PROBLEM  Gateway 192.168.50.1 (enp3s0) does not answer; the Internet and the campus are "
           "unreachable. Check the cable / Wi-Fi association.", "diagnosis line")
PY
