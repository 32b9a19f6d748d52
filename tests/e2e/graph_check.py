#!/usr/bin/env python3
"""The evidence graph of one corvale run, read from the "graph" key of
facts.json in the current directory, checked as a user reads the graph.

  graph_check.py SCENARIO

Prints "ok: ..." / "FAIL: ..." lines; the exit status is the number of
failed checks (capped at 100), so a shell caller adds it to its failures.
"""

import json
import re
import sys

fails = 0


def ok(cond, what, detail=""):
    global fails
    if cond:
        print("ok: graph: " + what, flush=True)
    else:
        print("FAIL: graph: " + what + (": " + detail if detail else ""), file=sys.stderr, flush=True)
        fails += 1
    return bool(cond)


def eq(expected, actual, what):
    return ok(expected == actual, what, "expected %r, got %r" % (expected, actual))


def node(g, id_):
    return next((n for n in g["nodes"] if n["id"] == id_), None)


def item(n, id_):
    return next((i for i in (n or {}).get("items", []) if i["id"] == id_), None)


def edges(g, **kw):
    return [e for e in g["edges"] if all(e[k] == v for k, v in kw.items())]


def invariants(g):
    ids = [n["id"] for n in g["nodes"]]
    eq(len(ids), len(set(ids)), "node ids unique")
    dup_rows = [n["id"] for n in g["nodes"] if len({i["id"] for i in n["items"]}) != len(n["items"])]
    eq([], dup_rows, "row ids unique within each node")
    nulls = [(n["id"], k) for n in g["nodes"] for k in ("ifIndex", "layer", "processId", "layoutLane")
             if k in n and n[k] is None]
    eq([], nulls, "unset optional node fields are absent, not null")
    keys = [(e["from"], e["fromItem"], e["to"]) for e in g["edges"]]
    eq(len(keys), len(set(keys)), "one edge per (from, fromItem, to)")
    known = set(ids)
    bad = [k for k in keys if not k[0] or not k[2] or k[0] == k[2] or k[0] not in known or k[2] not in known]
    eq([], bad, "every edge joins two distinct existing nodes")
    conf = [e["confidence"] for e in g["edges"] if not isinstance(e["confidence"], float) or not 0 <= e["confidence"] <= 1]
    eq([], conf, "confidences are numbers within 0..1")


def main_chain(g):
    """Ids along the "main" edges from "app"/"default", first edge at a time."""
    path, at, row = ["app"], "app", "default"
    for _ in range(10):
        nxt = [e for e in g["edges"] if e["from"] == at and e["kind"] == "main" and (row is None or e["fromItem"] == row)]
        if not nxt:
            break
        at, row = nxt[0]["to"], None
        path.append(at)
    return path


def main():
    scenario = sys.argv[1]
    F = json.load(open("facts.json", encoding="utf-8"))
    g = F.get("graph")
    if not ok(isinstance(g, dict) and "nodes" in g and "edges" in g, "--json carries the graph"):
        return
    invariants(g)
    eq(node(g, "app") and node(g, "app")["label"], "Applications", "source card first")
    eq("app", g["nodes"][0]["id"], "source card first in order")
    text = json.dumps(g, ensure_ascii=False)
    for secret in ("lab-secret-7f3a9c", "lab-pw-ss-55aa", "lab-cmdline-secret-31c4", "lab-pw-http-9d1e", "labuser",
                   "set-your-secret"):
        ok(secret not in text, "secret %s not in the graph" % secret)
    try:
        err = open("err.txt", encoding="utf-8", errors="replace").read()
    except OSError:
        err = ""
    m = re.search(r"graph-build cache misses: ping (\d+), dns (\d+)", err)
    ok(m is not None, "graph build reports its cache misses")
    if m:
        eq(("0", "0"), m.groups(), "the pre-warmed caches answered every lookup")

    app = node(g, "app")
    inventory = item(app, "adapter-inventory")
    listed = {i["v"]: i for i in ((inventory or {}).get("detail") or {}).get("items", [])}
    ok("lo" not in listed, "loopback never in the inventory")
    intercept = node(g, "intercept-evidence")
    mains = edges(g, kind="main")

    if scenario == "direct":
        chain = main_chain(g)
        eq(["app", "nic-2", "gw-v4-2-192.168.50.1", "isp-v4-2-192.168.50.1"], chain[:4],
           "app/default -> carrier -> gateway -> ISP along main edges")
        last = edges(g, **{"from": "gw-v4-2-192.168.50.1", "to": "isp-v4-2-192.168.50.1"})
        eq(["established socket beyond gateway"], [e["evidence"] for e in last], "ISP edge rests on an observed socket")
        eq(("adapter", "DOWN"), (listed.get("wlp2s0", {}).get("k"), listed.get("wlp2s0", {}).get("status")),
           "the Wi-Fi card is in the inventory as DOWN")
        ok("enp3s0" not in listed, "the selected adapter is not in the inventory")
        ok(intercept is None, "no interception card")
        eq(["zek"], [e["kind"] for e in edges(g, **{"from": "zekportal", "to": "zekapi"})], "portal -> API edge of kind zek")
        eq(False, edges(g, **{"from": "zekportal", "to": "zekapi"})[0]["bad"], "the campus API answered")

    elif scenario == "tun":
        tun = next((n for n in g["nodes"] if n["kind"] == "tun"), None)
        ok(tun and tun["sel"], "the tunnel card is selected")
        tun0 = next(a for a in F["adapters"] if a["name"] == "tun0")
        eq(tun0["if_index"], tun and tun.get("ifIndex"), "tunnel card of tun0")
        eq(["main"], [e["kind"] for e in edges(g, **{"from": "app", "fromItem": "default", "to": tun["id"]})],
           "app/default -> tunnel is the main edge")
        owner = item(tun, "owner")
        ok(owner and owner["v"].startswith("mihomo · PID "), "the stand-in core owns the tunnel", repr(owner))
        firefox = next((p for p in F["processes_by_pid"].values() if p["name"] == "firefox"), None)
        ok(firefox, "the firefox stand-in runs")
        if firefox:
            # firefox uses the mixed port on purpose: the core's card carries
            # it, the tunnel does not.
            eq([], edges(g, **{"from": tun["id"], "to": "capture-%d" % firefox["pid"]}), "no capture by the tunnel")
            core = item(tun, "owner") and "proc-%s-l2" % item(tun, "owner")["v"].split("PID ")[-1]
            capture = edges(g, **{"from": core, "to": "capture-%d" % firefox["pid"]})
            # The collect stage reads the full record of every process the
            # controller names, so the exact-path rule can hold.
            ok(firefox["command_line"].startswith("/usr/lib/firefox/firefox"), "firefox's full record read",
               repr(firefox["command_line"]))
            eq([("main", 0.99, True)],
               [(e["kind"], e["confidence"], e["evidence"].startswith("API-observed explicit use of the proxy"))
                for e in capture], "the client application's explicit use seen through the controller")
        ok(intercept is None, "no interception card")

    elif scenario in ("verge-tun", "verge-tcp", "verge-hung", "sing-box"):
        # A core's TUN: the applications the tunnel took hang off its card,
        # those that used a proxy port off the core's card only.
        verge = scenario.startswith("verge")
        tun = next((n for n in g["nodes"] if n["kind"] == "tun"), None)
        ok(tun and tun["sel"], "the tunnel card is selected")
        owner = item(tun, "owner")
        pid = next(p["pid"] for p in F["proxy_processes"] if p["name"] == ("verge-mihomo" if verge else "sing-box"))
        eq("%s · PID %d" % ("mihomo" if verge else "singbox", pid), owner and owner["v"], "the core owns the tunnel")
        core = node(g, "proc-%d-l2" % pid)
        procs = {p["name"]: p["pid"] for p in F["processes_by_pid"].values()}
        tb = procs.get("thunderbird")
        via_tun = sorted(e["to"] for e in edges(g, **{"from": tun and tun["id"]}) if e["to"].startswith("capture-"))
        via_core = sorted((e["to"], e["confidence"], e["evidence"].split(" · ")[0])
                          for e in edges(g, **{"from": core and core["id"]}) if e["to"].startswith("capture-"))
        if scenario == "verge-hung":
            eq([], via_tun + via_core, "nothing drawn as captured without the controller's answer")
            eq(("not answered", "controller did not answer"),
               (item(core, "api") and item(core, "api")["v"], item(core, "owner") and item(core, "owner")["v"]),
               "the core's card says its controller did not answer")
        else:
            eq(["capture-%d" % procs["firefox"]], via_tun, "the tunnel took firefox's connection")
            want = [("capture-%d" % procs["firefox"], 0.99, "API-observed process capture")]
            if tb:
                want.append(("capture-%d" % tb, 0.99, "API-observed explicit use of the proxy"))
            eq(sorted(want), via_core, "the core's card: capture and explicit use, by executable")
        if verge:
            ok(not any(n["id"].startswith("proc-%d-" % procs["clash-verge"]) for n in g["nodes"]),
               "the GUI has no core card")
        stray = [n["id"] for n in g["nodes"] if n["id"].startswith("cfgproxy") and
                 (n["id"].endswith("-9097") or n["id"].endswith("-53"))]
        eq([], stray, "no stored controller or DNS hijack drawn as a configured proxy")

    elif scenario in ("wg-quick", "autoroute", "stale-autoroute"):
        # A default route of a rule-selected table puts its tunnel on the path
        # exactly as a main-table default does.
        name = "wg0" if scenario == "wg-quick" else "tun0"
        dev = next(a for a in F["adapters"] if a["name"] == name)
        tun = next((n for n in g["nodes"] if n["kind"] == "tun"), None)
        ok(tun and tun["sel"], "the tunnel card is selected")
        eq(dev["if_index"], tun and tun.get("ifIndex"), "tunnel card of " + name)
        eq(["main"], [e["kind"] for e in edges(g, **{"from": "app", "fromItem": "default", "to": tun and tun["id"]})],
           "app/default -> tunnel is the main edge")
        ok(name not in listed, "the tunnel is not filed under no selected default route")
        ok(not edges(g, **{"from": "app", "fromItem": "default", "to": "nic-2", "kind": "main"}),
           "IPv4 does not go from the applications straight to the Ethernet adapter")

    elif scenario == "bridge-capture":
        eq(["app", "nic-2", "gw-v4-2-192.168.50.1"], main_chain(g)[:3], "the Ethernet carrier stays on the path")
        ok(not any(n.get("ifIndex") == next(a["if_index"] for a in F["adapters"] if a["name"] == "br-3f2a1c")
                   and n.get("sel") for n in g["nodes"]), "the bridge is never the selected path")

    elif scenario == "explicit":
        policy = node(g, "policy-env")
        row = item(policy, "ENV:HTTP_PROXY")
        eq("http://127.0.0.1:8888", row and row["v"], "HTTP_PROXY policy row without credentials")
        cfg = node(g, "cfgproxy-127.0.0.1-8888")
        ok(cfg and cfg["status"] == "OK", "configured proxy with a listener")
        owner = item(cfg, "owner")
        ok(owner and owner["v"].startswith("tinyproxy · PID "), "its listener owner is tinyproxy", repr(owner))
        metas = [i["meta"] for n in g["nodes"] if n["id"].startswith("candidate-") for i in n["items"]]
        for protocol in ("SOCKS5", "HTTP CONNECT"):
            ok(any(m.startswith(protocol) for m in metas), "a candidate card names " + protocol)
        if F["interception"]["level"] != "NONE":
            eq("EXPLICIT-PROXY", F.get("interception_level"), "interception attributed to explicit policy")
            ok(intercept is None, "no interception card when explained by policy")

    elif scenario in ("gnome-proxy-left", "kde-proxy-left", "gnome-proxy"):
        source = ("KDE" if scenario.startswith("kde") else "GNOME") + " proxy"
        policy = node(g, "policy-env")
        row = item(policy, "policy-" + source)
        eq("http=127.0.0.1:7897;https=127.0.0.1:7897;socks=127.0.0.1:7897", row and row["v"],
           "the system proxy is a policy row")
        left = scenario.endswith("-left")
        cfg = node(g, ("cfgproxy-dead-" if left else "cfgproxy-") + "127.0.0.1-7897")
        eq("FAIL" if left else "OK", cfg and cfg["status"], "the configured proxy card")
        to_cfg = edges(g, **{"from": "policy-env", "fromItem": "policy-" + source, "to": cfg and cfg["id"]})
        eq([("policy", left)], [(e["kind"], e["bad"]) for e in to_cfg], "policy edge to it, bad where dead")

    elif scenario == "offline":
        gw = edges(g, **{"from": "nic-2", "to": "gw-v4-2-192.168.50.1"})
        eq([True], [e["bad"] for e in gw], "carrier -> silent gateway marked bad")
        isp = node(g, "isp-v4-2-192.168.50.1")
        ok(isp and isp["status"] != "OK", "the Internet side is not claimed reachable", repr(isp and isp["status"]))
        beyond = edges(g, **{"from": "gw-v4-2-192.168.50.1", "to": "isp-v4-2-192.168.50.1"})
        ok(beyond and all(e["bad"] and e["evidence"] != "established socket beyond gateway" for e in beyond),
           "gateway -> ISP edge leads into a failure")

    elif scenario == "bare":
        eq([], mains, "no main edge without an adapter")
        ok(item(app, "default") is None, "no selected route row")


if __name__ == "__main__":
    try:
        main()
    except Exception as e:  # a broken graph fails the check, never the harness
        ok(False, "graph readable", "%s: %s" % (type(e).__name__, e))
    sys.exit(min(fails, 100))
