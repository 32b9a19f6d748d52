# bridge-capture: a container bridge on 10.0.32.0/24 takes the campus
# resolvers' route. Sourced by run_e2e.sh.
e2e_py <<'PY'
br = adapter("br-3f2a1c")
findings = F["findings"]
with c.group("routes"):
    c.eq("bridge", br["link_kind"], "the bridge's kind is read")
    for h in ("10.0.32.32", "10.0.32.33"):
        c.eq(br["if_index"], F["campus_routes"][h]["if_index"], "%s routed into the bridge" % h)
    c.eq(2, F["campus_routes"]["10.0.0.55"]["if_index"], "the portal still via enp3s0")
with c.group("diagnosis"):
    c.eq(["local-route-capture"], [x["code"] for x in findings if x["severity"] == "PROBLEM"],
         "the one problem is the capturing bridge")
    codes = [x["code"] for x in findings]
    c.ok("dns-silent" not in codes and "campus-dns-silent" not in codes,
         "the network's admin is not blamed", str(codes))
c.has_line("PROBLEM  10.0.32.32 (campus DNS server) is routed into br-3f2a1c, a local container or VM network "
           "(10.0.32.0/24), instead of the network: it cannot be reached from this host. Remove or re-address "
           "that network (for Docker, choose other ranges with \"default-address-pools\" in "
           "/etc/docker/daemon.json). It captures 2 probed addresses in all.", "the user reads the fix")
c.has_block(["  10.0.32.32      FAIL", "      via br-3f2a1c"], "section 11 shows the captured route")
PY
