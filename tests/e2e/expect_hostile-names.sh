# hostile-names: processes named with a colour switch and a bell, a
# right-to-left override, HTML and quotes. The console shows each name
# neutralised and the columns aligned. Sourced by run_e2e.sh.
if LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' out.txt; then
  fail "raw control characters on the console: $(LC_ALL=C grep -n $'[\x01-\x08\x0b-\x1f\x7f]' out.txt | cat -v | head -3)"
else
  pass "no raw control character on the console"
fi
if grep -q $'\xe2\x80\xae' out.txt; then fail "raw direction override on the console"; else pass "no raw direction override"; fi

# The secrets planted on the clash stand-in's command line: no piece of any
# shows anywhere.
report=$(ls corvale-report-*.html 2>/dev/null | head -1)
for secret in lab-ctlpw-8e21 lab-q1-4b7d lab-q2-90ce lab-tok-5a3f lab-qs-71c2 lab-qs-2d90; do
  leaks=$(grep -liF -- "$secret" out.txt err.txt facts.json ${report:+"$report"} 2>/dev/null | tr '\n' ' ')
  [[ -z $leaks ]] && pass "planted secret $secret not shown" || fail "planted secret $secret found in: $leaks"
done

e2e_py <<'PY'
import re

xray = own_pid("xray\x1b[31m\x07")
trojan = own_pid("trojan\u202eexe")
html = own_pid('<b>"it\'s"</b>')

with c.group("the names as collected"):
    c.eq(["clash", "trojan\u202eexe", "xray\x1b[31m\x07"], own_proxy_processes(),
         "both proxy-like names collected verbatim")
    c.eq((xray, trojan, html), (listener(10808)["pid"], listener(10443)["pid"], listener(8123)["pid"]),
         "their listeners")

with c.group("clash's controller with credentials"):
    clash = own_pid("clash")
    k = next((ci for ci in own_core_infos() if ci["pid"] == clash), None)
    c.ok(k is not None, "a core entry for clash")
    if k:
        c.eq(["http://203.0.113.9:9090"], [e for e in k["skipped_endpoints"] if "203.0.113.9" in e],
             "the remote controller is skipped, without its user-info")
        c.eq(True, k["has_secret"], "its secret was found (and not shown)")
        c.eq([], [r for r in k["endpoint_results"] if "203.0.113.9" in r["label"]], "and never queried")

# Section 7: "  {:<28} {:<8} {}", the name padded after neutralising.
for name, pid in (("xray\\x1b[31m\\x07", xray), ("trojan\\u202eexe", trojan)):
    c.has_match(re.escape("  %-28s %-8d " % (name, pid)) + r"\S.*", "%s: neutralised, pid column aligned" % name)
# Section 8: "  {:<40} {:<8} {:<8} {}", the owner last.
c.has_line("  %-40s %-8s %-8d %s" % ("127.0.0.1:10808", "TCP", xray, "xray\\x1b[31m\\x07"), "listener row of xray")
c.has_line("  %-40s %-8s %-8d %s" % ("127.0.0.1:8123", "TCP", html, '<b>"it\'s"</b>'),
           "markup and quotes are not terminal controls: shown as they are")
PY
