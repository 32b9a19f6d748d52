#!/usr/bin/env bash
# Runs the built corvale on the lab's laptop in one scenario, then opens the
# report it wrote in chromium (lab_report.test.js). The run's files stay in
# $CORVALE_BROWSER_ARTEFACTS/lab-SCENARIO.
set -euo pipefail
scenario=$1
corvale=$2
node=${3:-node}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${CORVALE_BROWSER_ARTEFACTS:?}/lab-$scenario
rm -rf "$out"
mkdir -p "$out"
status=0
"$root/lab/lab" run "$scenario" -- sh -c 'cd "$1" && CORVALE_NO_OPEN=1 "$2" --no-progress >stdout.txt 2>stderr.txt' \
  _ "$out" "$corvale" || status=$?
if [[ $status -ne 0 ]]; then
  echo "corvale in lab scenario $scenario exited with $status" >&2
  tail -20 "$out/stderr.txt" >&2 || true
  exit 1
fi
shopt -s nullglob
reports=("$out"/corvale-report-*.html)
if [[ ${#reports[@]} -ne 1 ]]; then
  echo "expected one report in $out, found ${#reports[@]}" >&2
  exit 1
fi
CORVALE_REPORT=${reports[0]} CORVALE_SCENARIO=$scenario exec "$node" --test "$here/lab_report.test.js"
