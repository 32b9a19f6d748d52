#!/usr/bin/env bash
# One plain run in a lab scenario, checked the way a user sees it: exit
# status, report, JSON facts, where packets went, no planted secret anywhere,
# the console summary against tests/e2e/golden/SCENARIO.txt (masked), then
# the scenario's own checks from expect_SCENARIO.sh when that is executable.
# E2E_UPDATE_GOLDEN=1 rewrites the golden file from this run instead of
# comparing.
set -uo pipefail
SCENARIO=$1
CORVALE=$2
source "$(dirname "$0")/lib.sh"
export CORVALE_NO_OPEN=1
cd "$E2E_TMP"

# Capture what the laptop sends while corvale runs (bounded: 5 s to start).
python3 "$E2E_DIR/sniff.py" sniff.ready flows.txt 300 2>sniff.err &
sniff_pid=$!
for _ in $(seq 1 250); do [[ -e sniff.ready ]] || ! kill -0 "$sniff_pid" 2>/dev/null && break; sleep 0.02; done

start=$(date +%s%N)
# Timing on: the graph build then also says how many lookups missed the caches.
CORVALE_TIMING=1 "$CORVALE" --json facts.json --prometheus corvale.prom >out.txt 2>err.txt
status=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "scenario $SCENARIO: run took ${elapsed_ms} ms"
kill -TERM "$sniff_pid" 2>/dev/null
wait "$sniff_pid"

expect_eq 0 "$status" "exit status"
report=$(ls corvale-report-*.html 2>/dev/null | head -1)
[[ -n $report ]] && pass "report written" || fail "no report"
expect_eq "efbbbf" "$(head -c 3 "$report" | od -An -tx1 | tr -d ' \n')" "byte-order mark"
expect_contains out.txt "  HTML report -> $E2E_TMP/$report" "report line"
for title in "1. Physical links & tunnels" "6b. Default egress (effective metric, lower wins)" \
  "11. ZEK campus infra (ZekConnected targets)"; do
  expect_contains out.txt "  $title" "section $title"
done
[[ -s facts.json ]] && pass "--json written" || fail "--json missing"
expect_contains facts.json '"hostname": "campus-laptop"' "host name of the lab laptop"

# Every secret, password and user name the lab plants (mihomo config, clash
# command line, HTTP_PROXY, the proxy GUI's controller). Checked in every
# scenario: the laptop shares /proc with labs running alongside, so any run
# can come across them.
for secret in lab-secret-7f3a9c lab-pw-ss-55aa lab-cmdline-secret-31c4 lab-pw-http-9d1e labuser set-your-secret; do
  leaks=$(grep -liF -- "$secret" out.txt err.txt facts.json corvale.prom ${report:+"$report"} 2>/dev/null | tr '\n' ' ')
  [[ -z $leaks ]] && pass "secret $secret not shown" || fail "secret $secret found in: $leaks"
done

# The whole document against the JSON Schema the package installs: every key
# named there present, none that it does not name at the top.
e2e_py <<'PY'
import jsonschema
schema_path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../doc/facts.schema.json")
schema = json.load(open(schema_path))
errors = sorted(jsonschema.Draft202012Validator(schema).iter_errors(F), key=lambda e: list(e.path))
c.ok(not errors, "--json matches doc/facts.schema.json",
     "; ".join("%s: %s" % ("/".join(map(str, e.path)), e.message[:160]) for e in errors[:5]))
PY

# The metrics as node_exporter's textfile collector takes them: promtool's
# own parser and lint, no temporary file left beside them, and one finding
# series for each finding of this run's --json.
if [[ -s corvale.prom ]]; then pass "--prometheus written"; else fail "--prometheus missing"; fi
if promtool check metrics <corvale.prom >promtool.txt 2>&1; then
  pass "promtool check metrics"
else
  fail "promtool check metrics: $(head -5 promtool.txt)"
fi
expect_eq "" "$(ls -A | grep -F .corvale.prom)" "no temporary metrics file left"
e2e_py <<'PY'
import re
findings = sorted((f["code"], f["severity"].lower()) for f in F["findings"])
c.ok(findings, "the run has findings")
series = sorted(re.findall(r'^corvale_finding\{code="([^"]*)",severity="([^"]*)"\} 1$',
                           open("corvale.prom").read(), re.M))
c.eq(findings, series, "one corvale_finding series per finding")
PY

# facts.json parses (or every Python check fails); packets went only to
# the targets the README lists.
if [[ -s sniff.err ]]; then fail "packet capture: $(head -3 sniff.err)"; fi
e2e_py <<'PY'
c.ok(True, "--json parses")
check_destinations("flows.txt")
PY

# The report: its payload is facts.json's graph, its chain hashes recompute
# from the page, and host-chosen names stay text.
if [[ -n $report && -s facts.json ]]; then
  python3 "$E2E_DIR/report_check.py" "$report" facts.json "$SCENARIO"
  E2E_FAILS=$((E2E_FAILS + $?))
fi

golden=$E2E_DIR/golden/$SCENARIO.txt
if [[ -n ${E2E_UPDATE_GOLDEN:-} ]]; then
  mkdir -p "$E2E_DIR/golden" && python3 "$E2E_DIR/mask_console.py" out.txt >"$golden" &&
    echo "golden file rewritten: $golden"
elif [[ -f $golden ]]; then
  if python3 "$E2E_DIR/mask_console.py" --diff "$golden" out.txt >console.diff; then
    pass "console summary matches golden/$SCENARIO.txt"
  else
    fail "console summary differs from golden/$SCENARIO.txt"
    cat console.diff >&2
  fi
else
  fail "no golden file golden/$SCENARIO.txt"
fi

python3 "$E2E_DIR/graph_check.py" "$SCENARIO"; E2E_FAILS=$((E2E_FAILS + $?))
# Every scenario has its own checks: a missing or unusable script is a
# failure, never a scenario that silently checks less.
if [[ -f "$E2E_DIR/expect_$SCENARIO.sh" && -x "$E2E_DIR/expect_$SCENARIO.sh" ]]; then
  source "$E2E_DIR/expect_$SCENARIO.sh"
else
  fail "no executable expect_$SCENARIO.sh"
fi
finish
