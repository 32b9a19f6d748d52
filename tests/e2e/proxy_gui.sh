# The checks of a proxy core as GUIs and services run it, with a TUN and a
# controller: sourced by the expect scripts of verge-tun, verge-tcp,
# verge-hung and sing-box, which differ in the core, where its controller
# listens and which applications use it.
# The script is put together first and fed to e2e_py in this shell, so that
# its failure count reaches the run's.
checks=$(cat <<'PY'
import html
verge = scenario.startswith("verge")
core_name, dev = ("verge-mihomo", "Mihomo") if verge else ("sing-box", "tun0")
core = own_pid(core_name)
firefox = own_pid("firefox")
explicit = scenario in ("verge-tcp", "sing-box")
answers = scenario != "verge-hung"
home_app = "/.local/share/io.github.clash-verge-rev.clash-verge-rev/"

with c.group("the GUI is not the core"):
    cores = own_core_infos()
    c.eq([core], [ci["pid"] for ci in cores], "one core entry, the core's")
    if verge:
        c.eq(["clash-verge", "verge-mihomo"], own_proxy_processes(), "the GUI stays listed as a process")
        c.eq(own_pid("clash-verge"), listener(33331) and listener(33331)["pid"], "the GUI's own port is the GUI's")
        gui_port = candidate(33331)
        c.eq("inventory", gui_port and gui_port["level"], "the GUI's own port is no proxy candidate")
    ci = cores[0] if cores else {}
    results = [(r["label"].split("/")[-1] if r["label"].startswith("unix:") else r["label"], r["answered"])
               for r in ci.get("endpoint_results", [])]
    if scenario in ("verge-tun", "verge-hung"):
        c.eq([("verge-mihomo.sock", answers)], results, "only the unix socket is asked: the TCP one is off on purpose")
        c.eq(True, ci.get("tcp_controller_off"), "external-controller \"\" read as off")
    if scenario == "verge-tcp":
        c.eq(("verge-mihomo.sock", True), results[0] if results else None, "the unix socket is asked first")
        c.ok(("http://127.0.0.1:9097", True) in results, "the TCP controller answers its secret", str(results))
    selected = ci.get("selected_controller") or ""
    c.eq({"verge-hung": "", "sing-box": "http://127.0.0.1:9090"}.get(scenario, "verge-mihomo.sock"),
         selected.split("/")[-1] if verge else selected, "the controller that answered is the core's")
    if not verge:
        c.ok((ci.get("config_path") or "").endswith("/sing-box/etc/10-outbounds.json"),
             "the file of -C that holds the controller", ci.get("config_path"))
    # sing-box's /configs names no TUN.
    c.eq("Mihomo" if verge and answers else None, ci.get("runtime_tun_device"), "the TUN the running core reports")
    c.ok(not any("33331" in r[0] for r in results), "the GUI's single-instance port is never asked", str(results))

with c.group("the core's connections"):
    conns = ci.get("connections", [])
    kinds = sorted((x["metadata"].get("type"), x["metadata"].get("destinationPort")) for x in conns)
    tun_type = "Tun" if verge else "tun/tun-in"
    want = [] if not answers else sorted([(tun_type, "443")] + ([("Socks5" if verge else "mixed/mixed-in", "993")]
                                                                 if explicit else []))
    c.eq(want, kinds, "inbound types as the core reports them")

with c.group("config files"):
    p = F["proxy_settings"]
    ports = sorted({e["port"] for e in p["endpoints"]})
    c.eq([7895, 7896, 7897, 7898, 7899] if verge else [], ports, "endpoints only from listener keys")
    stored = [(e["host"], e["port"]) for e in p["config_controllers"] if e["source"].endswith(home_app + "config.yaml")]
    c.eq([("127.0.0.1", 9097)] if verge else [], stored, "the GUI's stored controller is a controller")

findings = F["findings"]
with c.group("diagnosis"):
    c.eq([], [x["code"] for x in findings if x["severity"] == "PROBLEM"], "no problem")
    apps = {"verge-tun": "the proxy core reports firefox's connections captured by the tunnel",
            "verge-hung": "the proxy core's controller did not answer",
            "verge-tcp": "the proxy core reports firefox's connections captured by the tunnel and "
                         "thunderbird's connections sent to its proxy port",
            "sing-box": "the proxy core reports firefox's connections captured by the tunnel and "
                        "thunderbird's connections sent to its proxy port"}[scenario]
    line = "NOTE     All IPv4 traffic goes through %s (Tunnel, 0.98), owned by %s (pid %s); %s." % (
        dev, core_name, core, apps)
    c.has_line(line, "the tunnel, its core and how each application reached it")
    report = html.unescape(open([n for n in os.listdir(".") if n.startswith("corvale-report-")][0],
                                encoding="utf-8-sig").read())
    c.ok(line[9:] in report, "the report's findings say the same")
    c.ok("reports no connections" not in "\n".join(OUT) + report, "never 'reports no connections'")
PY
)
e2e_py <<<"scenario = '$SCENARIO'"$'\n'"$checks"
