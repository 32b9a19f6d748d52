#!/usr/bin/env bash
# Ctrl-C (SIGINT) or SIGTERM during a run in the offline scenario, where the
# pings take seconds: the run ends at once by that signal (status 130 or
# 143), no ping is left running, no report or JSON file is left, and the
# progress line is cleared.
set -uo pipefail
CORVALE=$1
source "$(dirname "$0")/lib.sh"
export CORVALE_NO_OPEN=1 CORVALE_FORCE_PROGRESS=1
unset CORVALE_NO_PROGRESS CORVALE_TIMING
# Job control: a background job keeps SIGINT (a script's jobs otherwise start
# with it ignored) and gets a process group of its own, whose members are
# the run and every child it started.
set -m

rows=0
while read -r sig want; do
  d=$E2E_TMP/$sig; mkdir -p "$d"
  (cd "$d" && exec "$CORVALE" --json facts.json </dev/null >out.txt 2>err.txt) &
  pid=$!
  # Bounded wait (10 s) for the first ping the run starts.
  for _ in $(seq 1 200); do pgrep -g "$pid" -x ping >/dev/null && break; sleep 0.05; done
  if pgrep -g "$pid" -x ping >/dev/null; then pass "$sig: a ping is running"; else fail "$sig: no ping started"; fi
  start=$(date +%s%N)
  kill -"$sig" "$pid"
  wait "$pid"
  status=$?
  took=$(( ($(date +%s%N) - start) / 1000000 ))
  expect_eq "$want" "$status" "$sig: exit status"
  # The pings of the pre-warm wait 2 s for an answer: ending well under that
  # shows the run did not wait for them.
  if (( took < 1000 )); then pass "$sig: ended in $took ms"; else fail "$sig: took $took ms to end"; fi
  # Killed children may linger a moment as zombies until their new parent
  # reaps them; only live ones count (bounded: 2 s).
  for _ in $(seq 1 40); do pgrep -g "$pid" -r D,R,S,T >/dev/null || break; sleep 0.05; done
  left=$(pgrep -g "$pid" -r D,R,S,T | wc -l)
  expect_eq 0 "$left" "$sig: no child of the run left"
  (( left == 0 )) || ps -o pid,stat,etime,args -g "$pid" >&2
  expect_eq "" "$(cd "$d" && ls corvale-report-*.html facts.json 2>/dev/null)" "$sig: no report or JSON file"
  # The last thing on stderr is the blank that clears the progress line.
  if tail -c 3 "$d/err.txt" | od -An -c | grep -q '   \\r$'; then pass "$sig: progress line cleared"; else fail "$sig: progress line left: $(tail -c 40 "$d/err.txt" | od -An -c)"; fi
  rows=$((rows + 1))
done <<CASES
INT 130
TERM 143
CASES
expect_eq 2 "$rows" "both signals tried"

finish
