#!/usr/bin/env bash
# One plain run in a lab scenario, checked the way a user sees it.
set -uo pipefail
SCENARIO=$1
CORVALE=$2
source "$(dirname "$0")/lib.sh"
export CORVALE_NO_OPEN=1
cd "$E2E_TMP"
start=$(date +%s%N)
"$CORVALE" --json facts.json >out.txt 2>err.txt
status=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "scenario $SCENARIO: run took ${elapsed_ms} ms"
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
python3 -c 'import json,sys; json.load(open(sys.argv[1]))' facts.json && pass "--json parses" || fail "--json is not JSON"
expect_contains facts.json '"hostname": "campus-laptop"' "host name of the lab laptop"
if [[ -x "$(dirname "$0")/expect_$SCENARIO.sh" ]]; then
  source "$(dirname "$0")/expect_$SCENARIO.sh"
fi
finish
