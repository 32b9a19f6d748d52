# listeners: proxy variables naming [::1], localhost and 127.0.0.1, listeners
# on 0.0.0.0:7890 and dual-stack [::]:7891. The graph and the findings follow
# one rule of which listener takes which connection. Sourced by run_e2e.sh.
e2e_py <<'PY'
import json
g = F["graph"]
def cards(port):
    return [n for n in g["nodes"] if n["id"].startswith("cfgproxy-") and n["id"].endswith("-%d" % port)]
with c.group("the graph"):
    c.eq(["FAIL"], [n["status"] for n in cards(7890)], "[::1]:7890 refused: 0.0.0.0 takes IPv4 only")
    c.eq(["OK", "OK"], [n["status"] for n in cards(7891)], "localhost and 127.0.0.1 taken by the dual-stack socket")
with c.group("--json tells the listeners apart"):
    # Both read 0.0.0.0; only the flag says which one takes IPv6 too.
    for port, dual in ((7890, False), (7891, True)):
        l = listener(port)
        c.ok(l and l["local_address"] == "0.0.0.0" and l.get("dual_stack") is dual,
             "listener :%d dual_stack %s" % (port, dual), l)
with c.group("the findings agree"):
    dead = [x for x in F["findings"] if x["code"] == "proxy-setting-dead"]
    c.eq(1, len(dead), "one dead proxy setting")
    c.ok(dead and "[::1]:7890" in dead[0]["text"] and "HTTP_PROXY" in dead[0]["text"], "it names HTTP_PROXY and [::1]:7890",
         dead and dead[0]["text"])
    c.ok(dead and "7891" not in json.dumps(dead[0]), "the dual-stack listener's settings are not called dead")
    c.ok(all(x["code"] != "all-clear" for x in F["findings"]), "no all-clear while a setting is refused")
PY
