# broken-v6: the laptop keeps an IPv6 default route via fe80::1, but IPv6
# ends at the gateway; IPv4 works. Sourced by run_e2e.sh.
e2e_py <<'PY'
findings = F["findings"]
with c.group("facts"):
    c.eq((True, False), (F["internet_probes"]["v4"]["ok"], F["internet_probes"]["v6"]["ok"]),
         "IPv4 answers, IPv6 does not")
with c.group("diagnosis"):
    c.eq([], [x["code"] for x in findings if x["severity"] == "PROBLEM"], "no problem")
    c.eq(["ipv6-broken"], [x["code"] for x in findings if x["severity"] == "WARNING"],
         "one warning: broken IPv6")
c.has_line("WARNING  IPv6 has a default route via fe80::1 (enp3s0), but 2400:3200::1 does not answer "
           "over IPv6 while IPv4 works: programs that try IPv6 first may stall. Ask the network's admin "
           "to fix IPv6, or turn IPv6 off on enp3s0.", "the user reads what is wrong and what to do")
PY
