# logged-out: the portal answers and says "not_online_error"; the campus
# answers, the Internet does not. Sourced by run_e2e.sh.
e2e_py <<'PY'
findings = F["findings"]
with c.group("facts"):
    login = F["campus_probes"]["login"]
    c.eq(("not_online_error", ""), (login["error"], login["user_name"]), "login status kept the portal's error")
    c.eq(True, F["campus_probes"]["portal_ok"], "portal answers")
    c.eq(False, F["internet_probes"]["v4"]["ok"], "Internet v4 silent")
with c.group("diagnosis"):
    c.eq(["campus-logged-out"], [x["code"] for x in findings if x["severity"] == "PROBLEM"],
         "the one problem is the missing log-in")
    c.ok("ipv6-broken" not in [x["code"] for x in findings], "IPv6 not blamed separately")
c.has_line("PROBLEM  The campus portal 10.0.0.55 answers, but says this host is not logged in "
           "(\"not_online_error\"): the Internet stays blocked until you log in. Open "
           "http://10.0.0.55/ in a browser and log in.", "the user reads what is wrong and what to do")
PY
