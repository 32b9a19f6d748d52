# broken-dns: the laptop's resolvers (the campus ones) answer ping but not
# DNS, while the Internet and the portal answer by address. Sourced by run_e2e.sh.
e2e_py <<'PY'
findings = F["findings"]
with c.group("diagnosis"):
    c.eq(["dns-silent"], [x["code"] for x in findings if x["severity"] == "PROBLEM"],
         "the one problem is DNS")
    codes = [x["code"] for x in findings]
    c.ok("campus-dns-silent" not in codes, "the same resolvers are not told twice", str(codes))
    dns = [x for x in findings if x["code"] == "dns-silent"][0]
    c.ok("ping 223.5.5.5: answers" in dns["evidence"], "evidence: the Internet answers", str(dns["evidence"]))
c.has_line("PROBLEM  DNS servers 10.0.32.32, 10.0.32.33 do not answer, though the Internet (223.5.5.5) "
           "does: names do not resolve, so web pages do not load. Use another DNS server or ask the "
           "network's admin.", "the user reads what is wrong and what to do")
PY
