#!/usr/bin/env bash
# The options people expect and the terminal manners, as a user sees them in
# the bare scenario (two PROBLEM findings): where the summary, the JSON and
# the report go, the exit statuses, colour, and the progress line's width.
set -uo pipefail
CORVALE=$1
source "$(dirname "$0")/lib.sh"
unset CORVALE_NO_PROGRESS CORVALE_FORCE_PROGRESS CORVALE_TIMING NO_COLOR
export CORVALE_NO_OPEN=1

reports_in() { find "$1" -name 'corvale-report-*.html' | wc -l; }

d=$E2E_TMP/version; mkdir -p "$d"
run_in "$d" -- -V
expect_eq 0 "$(cat "$d/status.txt")" "-V exit status"
if grep -Eq '^corvale [0-9]+\.[0-9]+\.[0-9]+$' "$d/out.txt"; then pass "-V prints the version"; else fail "-V: $(cat "$d/out.txt")"; fi

# --json -: the document alone on stdout, the summary and report line on stderr.
d=$E2E_TMP/json-stdout; mkdir -p "$d"
run_in "$d" -- --json - --no-report
expect_eq 0 "$(cat "$d/status.txt")" "--json - exit status"
expect_eq 1 "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["format_version"])' "$d/out.txt")" "--json - is a JSON document on stdout"
expect_contains "$d/err.txt" "  12. Diagnosis" "--json - puts the summary on stderr"
expect_eq 0 "$(reports_in "$d")" "--no-report writes no report"
expect_not_contains "$d/err.txt" "HTML report" "--no-report prints no report line"

# --report into a directory (dated name there) and to a named file.
d=$E2E_TMP/report; mkdir -p "$d/into"
run_in "$d" -- --report into
if ls "$d/into" | grep -Eq '^corvale-report-[0-9]{8}-[0-9]{6}\.html$'; then pass "--report DIR takes the dated name"; else fail "--report DIR: $(ls "$d/into")"; fi
expect_contains "$d/out.txt" "  HTML report -> into/corvale-report-" "report line names the directory"
run_in "$d" -- --report mine.html
expect_eq "efbbbf" "$(head -c 3 "$d/mine.html" | od -An -tx1 | tr -d ' \n')" "--report FILE written with its mark"
expect_contains "$d/out.txt" "  HTML report -> mine.html" "report line names the file"
expect_eq 0 "$(find "$d" -maxdepth 1 -name 'corvale-report-*' | wc -l)" "no dated report beside --report FILE"

# --no-report starts no browser either: a fake xdg-open would record it.
d=$E2E_TMP/noopen; mkdir -p "$d/bin"
printf '#!/bin/sh\necho "$@" >>%q/opened.txt\n' "$d" >"$d/bin/xdg-open"
chmod +x "$d/bin/xdg-open"
run_in "$d" -u CORVALE_NO_OPEN PATH="$d/bin:$PATH" -- --no-report
sleep 0.5
if [[ -e $d/opened.txt ]]; then fail "--no-report opened a browser"; else pass "--no-report opens nothing"; fi

# --fail-on: bare has PROBLEM findings, so both levels fail; without the
# option the run succeeds as always.
d=$E2E_TMP/fail-on; mkdir -p "$d"
rows=0
while IFS='|' read -r args want; do
  read -ra argv <<<"$args"
  run_in "$d" -- --no-report "${argv[@]}"
  expect_eq "$want" "$(cat "$d/status.txt")" "status with [$args]"
  rows=$((rows + 1))
done <<CASES
--fail-on=problem|1
--fail-on warning|1
--no-progress|0
CASES
expect_eq 3 "$rows" "every --fail-on case ran"

# A full disk under the summary is an error, not a success.
d=$E2E_TMP/full; mkdir -p "$d"
(cd "$d" && "$CORVALE" --no-report >/dev/full 2>err.txt; echo $? >status.txt)
expect_eq 3 "$(cat "$d/status.txt")" "write error: exit status"
expect_contains "$d/err.txt" "corvale: write error: No space left on device" "write error reported on stderr"
(cd "$d" && "$CORVALE" --no-report --json - >/dev/full 2>err.txt; echo $? >status.txt)
expect_eq 3 "$(cat "$d/status.txt")" "--json - to a full disk: exit status"

# A pasted 100 KB argument is echoed shortened.
d=$E2E_TMP/long; mkdir -p "$d"
run_in "$d" -- "--$(head -c 100000 /dev/zero | tr '\0' x)"
expect_eq 2 "$(cat "$d/status.txt")" "long argument refused"
if (( $(wc -c <"$d/err.txt") < 200 )); then pass "long argument echoed shortened"; else fail "error line of $(wc -c <"$d/err.txt") bytes"; fi

# Colour: --color decides alone; an empty NO_COLOR does not count (the
# other auto cases are in driver_e2e.sh).
d=$E2E_TMP/colour; mkdir -p "$d"
coloured() { grep -q $'\e\\[3[123]m' "$1"; }
rows=0
while IFS='|' read -r name envs args tty want; do
  read -ra envv <<<"$envs"
  if [[ $tty == tty ]]; then
    (cd "$d" && env TERM=xterm "${envv[@]}" script -qec "$CORVALE --no-report --no-progress $args" /dev/null </dev/null >o.txt 2>&1)
  else
    (cd "$d" && env TERM=xterm "${envv[@]}" "$CORVALE" --no-report $args >o.txt 2>/dev/null)
  fi
  expect_contains "$d/o.txt" "12. Diagnosis" "colour: $name: the summary is there"
  if coloured "$d/o.txt"; then got=colour; else got=plain; fi
  expect_eq "$want" "$got" "colour: $name"
  rows=$((rows + 1))
done <<CASES
always through a pipe|NO_COLOR=1|--color=always|pipe|colour
never on a terminal||--color=never|tty|plain
empty NO_COLOR on a terminal|NO_COLOR=||tty|colour
CASES
expect_eq 3 "$rows" "every colour case ran"

# On a 40-column terminal every drawing of the progress line fits in 39
# columns, so nothing wraps, and the last one is the blank that clears it.
d=$E2E_TMP/narrow; mkdir -p "$d"
(cd "$d" && TERM=xterm script -qec "stty cols 40; $CORVALE --no-report >/dev/null" /dev/null </dev/null >tty.txt 2>&1)
python3 - "$d/tty.txt" <<'PY'
import re, sys
text = open(sys.argv[1], "rb").read().decode()
draws = re.findall(r"\r([^\r\n]*)", text)
bars = [x for x in draws if "%  " in x]
print(f"{len(bars)} progress drawings")
wide = [x for x in draws if len(x) > 39]
if not bars or wide:
    sys.exit(f"FAIL: {len(bars)} drawings, too wide: {wide[:2]!r}")
if draws[-1].strip():
    sys.exit(f"FAIL: the line is not cleared at the end: {draws[-1]!r}")
print("ok: progress line fits 40 columns and is cleared")
PY
(( $? == 0 )) || fail "narrow terminal progress"

finish
