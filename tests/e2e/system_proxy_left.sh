# The checks of a system proxy a proxy GUI left on 127.0.0.1:7897, where
# nothing listens: sourced by the expect scripts of gnome-proxy-left and
# kde-proxy-left, which differ only in the desktop's words.
# The script is put together first and fed to e2e_py in this shell, so that
# its failure count reaches the run's.
checks=$(cat <<'PY'
D = "KDE" if scenario.startswith("kde") else "GNOME"
OVR, FILE, OFF = {
    "GNOME": ("localhost;127.0.0.0/8;::1", "org.gnome.system.proxy",
              "in Settings → Network → Network Proxy (or: gsettings set org.gnome.system.proxy mode 'none')."),
    "KDE": ("localhost;127.0.0.1;::1", "kioslaverc", "in System Settings → Network → Proxy."),
}[D]
with c.group("section 4 and the chip"):
    c.has_block(["  ProxyEnable   : 1",
                 "  ProxyServer   : http=127.0.0.1:7897;https=127.0.0.1:7897;socks=127.0.0.1:7897",
                 "  ProxyOverride : " + OVR,
                 "  AutoConfigURL : ",
                 "  AutoDetect    : 0",
                 "  Desktop       : %s system proxy (%s)" % (D, FILE)], "the desktop's setting under its labels")
    report = open([n for n in os.listdir(".") if n.startswith("corvale-report-")][0], encoding="utf-8-sig").read()
    c.ok("WinINET proxy <b>on (http=127.0.0.1:7897;https=127.0.0.1:7897;socks=127.0.0.1:7897)</b>" in report,
         "the chip reads on (...)")
with c.group("--json"):
    p = F["proxy_settings"]
    c.eq((D, True, OVR), (p["desktop"], p["proxy_enabled"], p["proxy_override"]), "proxy settings")
    c.eq([(D + " proxy", s, 7897) for s in ("http", "https", "socks")],
         [(e["source"], e["scheme"], e["port"]) for e in p["endpoints"]], "endpoints carry the desktop")
    c.eq([], F["tcp_listeners"], "nothing listens")
findings = F["findings"]
with c.group("diagnosis"):
    c.eq(["system-proxy-dead"], [x["code"] for x in findings if x["severity"] == "PROBLEM"],
         "the one problem is the system proxy left on")
    c.eq([], [x["code"] for x in findings if x["severity"] == "OK"], "no all-clear beside a problem")
c.has_line("PROBLEM  The %s system proxy points at 127.0.0.1:7897, where nothing accepts the connection: "
           "browsers and desktop programs that follow it cannot connect (a proxy GUI that quit may have "
           "left it on). Start the proxy, or turn the system proxy off %s" % (D, OFF),
           "the user reads what is wrong and where to turn it off")
PY
)
e2e_py <<<"scenario = '$SCENARIO'"$'\n'"$checks"
