# gnome-proxy: the GNOME system proxy names 127.0.0.1:7897 and the GUI's core
# listens there: a note, no problem. Sourced by run_e2e.sh.
e2e_py <<'PY'
core = own_pid("mihomo")
with c.group("section 4 and the listeners"):
    c.has_line("  Desktop       : GNOME system proxy (org.gnome.system.proxy)", "the desktop is named")
    c.eq(("127.0.0.1", core), (listener(7897) and listener(7897)["local_address"], listener(7897) and listener(7897)["pid"]),
         "the core's mixed port and its owner")
with c.group("candidates"):
    a = candidate(7897)
    c.ok(a and "explicit proxy policy references listener (GNOME proxy)" in a["signals"],
         "the system proxy is a policy reference of the core's port", a and a["signals"])
findings = F["findings"]
with c.group("diagnosis"):
    c.eq([], [x["code"] for x in findings if x["severity"] in ("PROBLEM", "WARNING")], "no problem or warning")
    notes = [x for x in findings if x["severity"] == "NOTE"]
    c.ok(any("GNOME proxy" in x["text"] and "127.0.0.1:7897 (mihomo)" in x["text"] for x in notes),
         "a note says programs that follow the GNOME proxy use the core", [x["text"] for x in notes])
PY
