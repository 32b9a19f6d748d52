# resolved: a desktop whose DNS systemd-resolved manages; /etc/resolv.conf and
# /etc/os-release are symbolic links. Sourced by run_e2e.sh in the run's
# directory (out.txt, facts.json).
e2e_py <<'PY'
import os, re

with c.group("system files read through their links"):
    c.eq(("../run/systemd/resolve/stub-resolv.conf", "../usr/lib/os-release"),
         (os.readlink("/etc/resolv.conf"), os.readlink("/etc/os-release")), "the laptop's files are links")
    m = re.search(r'^PRETTY_NAME="?([^"\n]*)"?$', open("/usr/lib/os-release").read(), re.M)
    c.ok(m and F["os_name"] == m.group(1), "os_name from the linked os-release", F["os_name"])
    c.ok(F["os_name"] != "Linux", "os_name is not the fallback", F["os_name"])

with c.group("stub and upstream resolvers"):
    c.eq([["127.0.0.53"]] * 3, [a["dns_servers"] for a in F["adapters"]], "every adapter lists the stub")
    c.eq(["127.0.0.53"], assessment("enp3s0")["loopback_dns"], "the stub is seen as loopback DNS")
    c.eq(["10.0.32.32", "10.0.32.33"], F["upstream_dns_servers"], "the servers the stub forwards to")
    c.eq("Carrier", assessment("enp3s0")["verdict"], "enp3s0 still judged Carrier")

c.has_block(["enp3s0                             Disabled   127.0.0.53",
             "wlp2s0                             Disabled   127.0.0.53",
             "  Upstream (systemd-resolved): 10.0.32.32, 10.0.32.33"], "DNS section: stub, then upstream")
c.has_line("      via enp3s0 -> 192.168.50.1", "campus hosts via the Ethernet gateway")
PY
