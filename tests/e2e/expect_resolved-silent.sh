# resolved-silent: resolv.conf names the stub, which listens but forwards to
# silent resolvers. Sourced by run_e2e.sh.
e2e_py <<'PY'
findings = F["findings"]
c.eq(["10.0.32.32", "10.0.32.33"], F["upstream_dns_servers"], "the servers the stub forwards to")
c.eq(["dns-silent"], [x["code"] for x in findings if x["severity"] == "PROBLEM"],
     "the silent upstream servers are the problem")
c.ok(all(x["code"] != "all-clear" for x in findings), "no all-clear with DNS left out")
c.has_line("PROBLEM  DNS servers 10.0.32.32, 10.0.32.33 do not answer, though the Internet (223.5.5.5) does: "
           "names do not resolve, so web pages do not load. Use another DNS server or ask the network's admin.",
           "the user reads which servers fail")
PY
