#!/usr/bin/env bash
# Each host pinged once and each resolver asked once per run, and a run on a
# broken network over in about the time of its slowest probe.
#   probe_count_e2e.sh SCENARIO CORVALE BOUND_MS
# Pings are counted by a `ping` first on PATH that logs its arguments and
# runs the real one; DNS queries by a capture of what the laptop sends.
set -uo pipefail
SCENARIO=$1
CORVALE=$2
BOUND_MS=$3
source "$(dirname "$0")/lib.sh"
export CORVALE_NO_OPEN=1
cd "$E2E_TMP"

real_ping=$(command -v ping) || { fail "no ping on PATH"; finish; }
mkdir bin
cat >bin/ping <<SH
#!/bin/sh
printf '%s\n' "\$*" >>"$E2E_TMP/pings.log"
exec "$real_ping" "\$@"
SH
chmod +x bin/ping
: >pings.log

python3 "$E2E_DIR/sniff.py" sniff.ready flows.txt 300 2>sniff.err &
sniff_pid=$!
for _ in $(seq 1 250); do [[ -e sniff.ready ]] || ! kill -0 "$sniff_pid" 2>/dev/null && break; sleep 0.02; done

start=$(date +%s%N)
PATH="$E2E_TMP/bin:$PATH" "$CORVALE" --no-progress --json facts.json >out.txt 2>err.txt
status=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
kill -TERM "$sniff_pid" 2>/dev/null
wait "$sniff_pid"
expect_eq 0 "$status" "exit status"

# The host is the last argument of every ping.
awk '{print $NF}' pings.log | sort | uniq -c | sort -rn >ping_counts.txt
echo "pings per host:"; sed 's/^/    /' ping_counts.txt
[[ -s ping_counts.txt ]] && pass "pings were made" || fail "no ping was logged"
twice=$(awk '$1 > 1 {print $2 " (" $1 "x)"}' ping_counts.txt | tr '\n' ' ')
[[ -z $twice ]] && pass "no host pinged twice" || fail "pinged more than once: $twice"
for host in 223.5.5.5 2400:3200::1 10.0.0.55 10.0.0.54 10.0.32.32 10.0.32.33; do
  grep -qE " $host\$" ping_counts.txt && pass "$host pinged" || fail "$host not pinged"
done

# "IFNAME DST PROTO DPORT COUNT": every query is one datagram to port 53.
if [[ -s sniff.err ]]; then fail "packet capture: $(head -3 sniff.err)"; fi
awk '$3 == "udp" && $4 == "53" {n[$2] += $5} END {for (d in n) print n[d], d}' flows.txt |
  sort -k2 >dns_counts.txt
echo "DNS queries per resolver:"; sed 's/^/    /' dns_counts.txt
twice=$(awk '$1 > 1 {print $2 " (" $1 "x)"}' dns_counts.txt | tr '\n' ' ')
[[ -z $twice ]] && pass "no resolver asked twice" || fail "asked more than once: $twice"
# Once, not at most once: a capture that saw no DNS at all proves nothing.
# Where the gateway answers no ARP (offline) no datagram reaches the wire, so
# there the count cannot be seen; the run must still have asked both.
if [[ $SCENARIO == offline ]]; then
  expect_eq "" "$(cat dns_counts.txt)" "no DNS datagram on a wire without a neighbour"
  e2e_py <<'PY'
probes = F["campus_probes"]["probes"]
for kind in (2, 3):
    c.ok(probes[kind].get("dns") is not None, "campus DNS probe %d was made" % kind)
PY
else
  for resolver in 10.0.32.32 10.0.32.33; do
    n=$(awk -v r="$resolver" '$2 == r {print $1}' dns_counts.txt)
    expect_eq 1 "${n:-0}" "DNS queries to $resolver"
  done
fi

# The console and the JSON tell one result per resolver.
e2e_py <<'PY'
probes = F["campus_probes"]["probes"]
for kind, resolver in ((2, "10.0.32.32"), (3, "10.0.32.33")):
    ok = probes[kind]["dns"]["answer"] != ""
    c.has_line("  DNS %-16s%s" % (resolver, "OK" if ok else "FAIL"), "console agrees with --json on " + resolver)
PY

echo "scenario $SCENARIO: run took ${elapsed_ms} ms (bound ${BOUND_MS} ms)"
if ((elapsed_ms < BOUND_MS)); then
  pass "run within ${BOUND_MS} ms"
else
  fail "run took ${elapsed_ms} ms, bound ${BOUND_MS} ms"
fi
finish
