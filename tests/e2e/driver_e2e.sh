#!/usr/bin/env bash
# What a user of the driver sees: progress decision, timing lines, report
# name and byte-order mark, write failures, and the desktop opener.
set -uo pipefail
CORVALE=$1
source "$(dirname "$0")/lib.sh"
unset CORVALE_NO_PROGRESS CORVALE_FORCE_PROGRESS CORVALE_TIMING
export CORVALE_NO_OPEN=1

# Runs as nobody need a copy of the binary that nobody can reach: a build tree
# under /root (mode 0700) cannot be entered by another user.
chmod 0711 "$E2E_TMP"
mkdir -m 0755 "$E2E_TMP/world"
install -m 0755 "$CORVALE" "$E2E_TMP/world/corvale"
CORVALE_WORLD=$E2E_TMP/world/corvale


# --no-progress wins over CORVALE_FORCE_PROGRESS.
d=$E2E_TMP/noprog; mkdir -p "$d"
run_in "$d" CORVALE_FORCE_PROGRESS=1 -- --json facts.json --no-progress
expect_eq 0 "$(cat "$d/status.txt")" "exit status with --no-progress"
if has_cr "$d/err.txt"; then fail "--no-progress still drew the progress line"; else pass "--no-progress wins over CORVALE_FORCE_PROGRESS"; fi

# CORVALE_FORCE_PROGRESS alone draws into a file.
d=$E2E_TMP/force; mkdir -p "$d"
run_in "$d" CORVALE_FORCE_PROGRESS= -- 
if has_cr "$d/err.txt"; then pass "CORVALE_FORCE_PROGRESS draws the line"; else fail "forced progress drew nothing"; fi
expect_contains "$d/err.txt" "building topology" "progress label reaches stderr"

# CORVALE_NO_PROGRESS set to the empty string turns it off.
d=$E2E_TMP/noprog-empty; mkdir -p "$d"
run_in "$d" CORVALE_NO_PROGRESS= CORVALE_FORCE_PROGRESS=1 --
if has_cr "$d/err.txt"; then fail "empty CORVALE_NO_PROGRESS did not turn progress off"; else pass "empty CORVALE_NO_PROGRESS"; fi

# stderr redirected to a file with no variables: no carriage return at all.
d=$E2E_TMP/plain; mkdir -p "$d"
run_in "$d" --
if has_cr "$d/err.txt"; then fail "carriage return in redirected stderr"; else pass "no carriage return when stderr is a file"; fi
if has_cr "$d/out.txt"; then fail "carriage return on stdout"; else pass "stdout has no carriage return"; fi

# Timing lines, in the driver's order, the first one at 0 ms.
d=$E2E_TMP/timing; mkdir -p "$d"
run_in "$d" CORVALE_TIMING= --
grep '^  \[timing\] ' "$d/err.txt" | awk '{print $2}' >"$d/labels.txt"
expect_eq "adapters+pnp+routes" "$(head -1 "$d/labels.txt")" "first timing mark"
expect_eq "render-doc" "$(tail -1 "$d/labels.txt")" "last timing mark"
expect_eq 20 "$(wc -l <"$d/labels.txt")" "twenty timing marks"
first=$(grep -m1 '^  \[timing\] ' "$d/err.txt")
if [[ $first =~ ^\ \ \[timing\]\ adapters\+pnp\+routes\ +[0-9]+\ ms\ \ \ \(total\ +[0-9]+\ ms\)$ ]]; then
  pass "timing line format"
else
  fail "timing line format: [$first]"
fi
expect_eq "collect prewarm-ping-start prewarm-ping prewarm-done graph-build render-doc" \
  "$(tail -6 "$d/labels.txt" | tr '\n' ' ' | sed 's/ $//')" "driver timing marks in order"

# The report: name from date, byte-order mark, report line.
d=$E2E_TMP/report; mkdir -p "$d"
run_in "$d" --
report=$(ls "$d"/corvale-report-*.html 2>/dev/null | head -1)
if [[ $(basename "$report") =~ ^corvale-report-[0-9]{8}-[0-9]{6}\.html$ ]]; then pass "report file name"; else fail "report file name [$report]"; fi
expect_eq "efbbbf" "$(head -c 3 "$report" | od -An -tx1 | tr -d ' \n')" "byte-order mark"
expect_eq "<!DOCTYPE html>" "$(tail -c +4 "$report" | head -1)" "document starts after the mark"
expect_contains "$d/out.txt" "  HTML report -> $report" "report line names the file"
expect_eq "" "$(tail -2 "$d/out.txt" | head -1)" "empty line before the report line"

# The stamp comes from the process's own clock: without date on PATH the
# report is still named by the time.
d=$E2E_TMP/nodate; mkdir -p "$d/bin"
for tool in ip ss ping ping6 hostname systemctl; do
  p=$(command -v "$tool") && ln -s "$p" "$d/bin/$tool"
done
run_in "$d" PATH="$d/bin" --
if ls "$d" | grep -Eq '^corvale-report-[0-9]{8}-[0-9]{6}\.html$'; then pass "time stamp without date"; else fail "no time-stamped report without date"; ls "$d" >&2; fi
expect_eq 0 "$(cat "$d/status.txt")" "exit status without date"

# A read-only working directory: failure line, exit status 0. Root ignores
# directory permissions, so drop to nobody when we are root.
d=$E2E_TMP/readonly; mkdir -p "$d"
chmod 0555 "$d"
if [[ $(id -u) -eq 0 ]]; then
  (cd "$d" && setpriv --reuid=65534 --regid=65534 --clear-groups "$CORVALE_WORLD" >"$E2E_TMP/ro-out.txt" 2>"$E2E_TMP/ro-err.txt"; echo $? >"$E2E_TMP/ro-status.txt")
else
  (cd "$d" && "$CORVALE" >"$E2E_TMP/ro-out.txt" 2>"$E2E_TMP/ro-err.txt"; echo $? >"$E2E_TMP/ro-status.txt")
fi
expect_eq 0 "$(cat "$E2E_TMP/ro-status.txt")" "exit status in a read-only directory"
expect_contains "$E2E_TMP/ro-out.txt" "  failed to write report: " "failure line in a read-only directory"
expect_eq 0 "$(ls "$d" | wc -l)" "nothing written to the read-only directory"

# Every name the next report can take: the date-less stamp and the stamps of
# the coming seconds, so the checks below hold whichever clock names it.
report_names() {
  echo corvale-report-report.html
  for i in $(seq 0 60); do echo "corvale-report-$(date -d "+$i sec" +%Y%m%d-%H%M%S).html"; done
}

# A symbolic link planted at the report path is not followed: its name is
# taken, so the report goes to the next number.
d=$E2E_TMP/planted; mkdir -p "$d/bin"
printf 'keep' >"$d/victim"
for name in $(report_names); do ln -s "$d/victim" "$d/$name"; done
for tool in ip ss ping ping6 hostname systemctl; do
  p=$(command -v "$tool") && ln -s "$p" "$d/bin/$tool"
done
run_in "$d" PATH="$d/bin" --
expect_eq keep "$(cat "$d/victim")" "planted link target untouched"
if grep -qE "^  HTML report -> $d/corvale-report-[0-9a-z-]+-2\.html$" "$d/out.txt"; then
  pass "planted link's name skipped for the next number"
else
  fail "planted link: $(tail -1 "$d/out.txt")"
fi

# Two runs in the same second: the earlier report stays, the later one is
# numbered. Earlier reports are laid down under every name this run can take.
d=$E2E_TMP/same-second; mkdir -p "$d"
names=$(report_names)
for name in $names; do printf 'earlier' >"$d/$name"; done
run_in "$d" --
expect_eq "" "$(for f in $names; do [[ $(cat "$d/$f") == earlier ]] || echo "$f"; done)" "earlier reports kept"
written=$(sed -n 's/^  HTML report -> //p' "$d/out.txt")
if [[ $written =~ ^$d/corvale-report-[0-9a-z-]+-2\.html$ && $(head -c 3 "$written" | od -An -tx1 | tr -d ' ') == efbbbf ]]; then
  pass "later report numbered -2"
else
  fail "later report: [$written]"
fi

# The opener: not started with CORVALE_NO_OPEN, handed the path without it.
d=$E2E_TMP/opener; mkdir -p "$d/bin"
cat >"$d/bin/xdg-open" <<FAKE
#!/bin/sh
printf '%s\n' "\$@" >>"$d/opened.txt"
FAKE
chmod +x "$d/bin/xdg-open"
run_in "$d" PATH="$d/bin:$PATH" CORVALE_NO_OPEN= --
sleep 0.3
if [[ -e $d/opened.txt ]]; then fail "xdg-open started despite CORVALE_NO_OPEN"; else pass "no opener with CORVALE_NO_OPEN"; fi
rm -f "$d"/corvale-report-*.html
(cd "$d" && env -u CORVALE_NO_OPEN PATH="$d/bin:$PATH" "$CORVALE" >out.txt 2>err.txt)
for _ in $(seq 1 50); do [[ -s $d/opened.txt ]] && break; sleep 0.1; done
report=$(ls "$d"/corvale-report-*.html | head -1)
expect_eq "$report" "$(cat "$d/opened.txt" 2>/dev/null)" "xdg-open receives the report path"

# A refused command line: one line on stderr, status 2, nothing probed or
# written. A fake ping on PATH records any probe that slips through.
d=$E2E_TMP/usage; mkdir -p "$d/bin" "$d/ro"
cat >"$d/bin/ping" <<FAKE
#!/bin/sh
echo "\$@" >>"$d/pinged.txt"
FAKE
chmod +x "$d/bin/ping"
ln -s "$d/victim.json" "$d/link.json"
chmod 0555 "$d/ro"
while IFS='|' read -r what expect args; do
  read -ra argv <<<"$args"
  start=$(date +%s%N)
  if [[ $(id -u) -eq 0 && $what == "unwritable directory" ]]; then
    (cd "$d" && setpriv --reuid=65534 --regid=65534 --clear-groups env PATH="$d/bin:$PATH" \
      "$CORVALE_WORLD" "${argv[@]}" >out.txt 2>err.txt; echo $? >status.txt)
  else
    run_in "$d" PATH="$d/bin:$PATH" -- "${argv[@]}"
  fi
  took=$(( ($(date +%s%N) - start) / 1000000 ))
  expect_eq 2 "$(cat "$d/status.txt")" "$what: exit status"
  expect_eq 1 "$(wc -l <"$d/err.txt")" "$what: one line on stderr"
  expect_contains "$d/err.txt" "$expect" "$what: names the problem"
  expect_contains "$d/err.txt" "(try corvale --help)" "$what: hint"
  expect_eq 0 "$(wc -c <"$d/out.txt")" "$what: nothing on stdout"
  if (( took < 1000 )); then pass "$what: answered at once"; else fail "$what: took $took ms"; fi
done <<CASES
unknown option|unknown option '--bogus'|--bogus
short option|unknown option '-v'|-v
typo|unknown option '--no-progres'|--no-progres
stray word|unexpected argument 'now'|--no-progress now
json without file|--json needs a file name|--json
json in a missing directory|directory '$d/missing' does not exist|--json $d/missing/f.json
json on a symbolic link|is a symbolic link|--json $d/link.json
unwritable directory|directory 'ro' is not writable|--json ro/f.json
metrics in a missing directory|directory '$d/missing' does not exist|--prometheus $d/missing/c.prom
metrics on a symbolic link|is a symbolic link|--prometheus=$d/link.json
CASES
expect_eq 0 "$(ls "$d" | grep -c -e '^corvale-report' -e '^pinged.txt$' -e '^victim.json$')" "refused runs probed and wrote nothing"

# --help and --version run nothing and exit 0.
d=$E2E_TMP/help; mkdir -p "$d"
run_in "$d" -- --help
expect_eq 0 "$(cat "$d/status.txt")" "--help exit status"
expect_contains "$d/out.txt" "CORVALE_NO_OPEN" "--help lists the switches"
expect_eq 0 "$(ls "$d"/corvale-report-* 2>/dev/null | wc -l)" "--help writes no report"
run_in "$d" -- --version
expect_contains "$d/out.txt" "corvale " "--version"

# Status words are coloured on a terminal only: under a pseudo-terminal they
# are, with a non-empty NO_COLOR or through a pipe they are not.
d=$E2E_TMP/colour; mkdir -p "$d"
(cd "$d" && TERM=xterm script -qec "$CORVALE --no-progress" /dev/null >tty.txt 2>&1)
if grep -q $'\e\\[3[123]mOK\\|\e\\[3[123]mFAIL' "$d/tty.txt"; then pass "status words coloured on a terminal"; else fail "no colour on a terminal"; fi
(cd "$d" && NO_COLOR=1 TERM=xterm script -qec "$CORVALE --no-progress" /dev/null >nocolor.txt 2>&1)
if grep -q $'\e\\[' "$d/nocolor.txt"; then fail "colour despite NO_COLOR"; else pass "NO_COLOR keeps the terminal plain"; fi
run_in "$d" TERM=xterm -- --no-progress
if grep -q $'\e' "$d/out.txt"; then fail "escape sequence in piped output"; else pass "piped output has no colour"; fi

# One version everywhere: --version, the JSON document and the report footer.
d=$E2E_TMP/version; mkdir -p "$d"
version=$("$CORVALE" --version | sed -n 's/^corvale \([0-9][0-9.]*\)$/\1/p')
[[ -n $version ]] || fail "--version prints no version number"
run_in "$d" -- --json facts.json
expect_eq "$version" "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["corvale_version"])' "$d/facts.json")" "JSON corvale_version matches --version"
expect_eq 1 "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["format_version"])' "$d/facts.json")" "JSON format_version"
expect_contains "$(ls "$d"/corvale-report-*.html | head -1)" "Generated by corvale $version." "report footer names the version"

finish
