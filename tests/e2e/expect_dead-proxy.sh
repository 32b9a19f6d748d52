# dead-proxy: HTTP_PROXY and https_proxy name 127.0.0.1:7890, where nothing
# listens; everything else is as in direct. Sourced by run_e2e.sh.
e2e_py <<'PY'
findings = F["findings"]
with c.group("diagnosis"):
    c.eq(["proxy-setting-dead"], [x["code"] for x in findings if x["severity"] == "PROBLEM"],
         "the one problem is the dead proxy setting")
    c.eq([], [x["code"] for x in findings if x["severity"] == "OK"], "no all-clear beside a problem")
    dead = [x for x in findings if x["code"] == "proxy-setting-dead"][0]
    c.eq(["HTTP_PROXY, https_proxy -> 127.0.0.1:7890: no listener"], dead["evidence"], "its evidence")
c.has_line("PROBLEM  HTTP_PROXY and https_proxy point at 127.0.0.1:7890, but nothing listens there: "
           "programs that use it cannot connect. Start the proxy or unset HTTP_PROXY and https_proxy.",
           "the user reads what is wrong and what to do")
PY
