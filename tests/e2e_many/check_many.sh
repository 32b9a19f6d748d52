#!/usr/bin/env bash
# Run on the lab laptop of scenario 'many' (300 listeners of one xray
# stand-in on 127.0.0.1:20000-20299; even ports SOCKS5, odd ports HTTP 407):
# the candidate assessment spends exactly its probe budgets on the best-ranked
# endpoints, gets the right verdict from each, and stays fast.
#   check_many.sh CORVALE [LIMIT_MS]   LIMIT_MS bounds the listener-discovery step (default 1000)
set -uo pipefail
CORVALE=$1
LIMIT_MS=${2:-${CORVALE_MANY_LIMIT_MS:-1000}}
source "$(dirname "$0")/../e2e/lib.sh"
export CORVALE_NO_OPEN=1 CORVALE_TIMING=1
cd "$E2E_TMP"

start=$(date +%s%N)
"$CORVALE" --json f.json >out.txt 2>err.txt
status=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
expect_eq 0 "$status" "exit status"
discovery_ms=$(awk '$2 == "listener-discovery" { print $3 }' err.txt)
total_ms=$(awk '$1 == "[timing]" { t = $6 } END { print t }' err.txt)
echo "many: listener-discovery ${discovery_ms:-?} ms, pipeline total ${total_ms:-?} ms, process ${elapsed_ms} ms"
if [[ $discovery_ms =~ ^[0-9]+$ ]]; then
  ((discovery_ms < LIMIT_MS)) && pass "listener-discovery under $LIMIT_MS ms" ||
    fail "listener-discovery took $discovery_ms ms (limit $LIMIT_MS)"
else
  fail "no listener-discovery timing line"
  sed 's/^/    | /' err.txt | head -30 >&2
fi

# One line per failed expectation; nothing when everything holds.
problems=$(python3 - f.json <<'PY'
import json, sys
FIRST, LAST, SOCKS_BUDGET, CONNECT_BUDGET = 20000, 20299, 72, 36
try:
    facts = json.load(open(sys.argv[1]))
    rows = facts["proxy_candidates"]["assessments"]
    candidates = facts["proxy_candidates"]["candidates"]
except Exception as e:  # noqa: BLE001 - any shape error is a failure to report
    print("facts JSON has no proxy_candidates.assessments: %r" % e)
    sys.exit(0)
mine = {r["port"]: r for r in rows if FIRST <= r.get("port", 0) <= LAST and r.get("host") == "127.0.0.1"}
def expect(cond, what):
    if not cond:
        print(what)
expect(len(mine) == LAST - FIRST + 1, "assessed %d of the 300 listeners" % len(mine))
probed = sorted(p for p, r in mine.items() if r.get("probed"))
socks = sorted(p for p, r in mine.items() if r.get("protocol") == "SOCKS5")
c407 = sorted(p for p, r in mine.items() if r.get("connect_verdict") == "HTTP CONNECT / 407")
# All 300 rank alike (same owner, known identity, no other evidence): the
# order is by port, so the SOCKS5 batch takes the lowest 72 ports and the
# CONNECT batch the 36 odd ones among them that did not answer SOCKS5.
expect(probed == list(range(FIRST, FIRST + SOCKS_BUDGET)),
       "probed ports are not exactly the lowest %d: %d probed, %s..." % (SOCKS_BUDGET, len(probed), probed[:3]))
expect(socks == list(range(FIRST, FIRST + SOCKS_BUDGET, 2)),
       "SOCKS5 answers on %d ports (want the 36 even ones of the budget): %s" % (len(socks), socks[:5]))
expect(c407 == list(range(FIRST + 1, FIRST + SOCKS_BUDGET, 2)),
       "407 verdicts on %d ports (want the CONNECT budget of %d, odd ports): %s" % (len(c407), CONNECT_BUDGET, c407[:5]))
expect(len(c407) == CONNECT_BUDGET, "CONNECT budget used %d times" % len(c407))
for p, r in sorted(mine.items()):
    sig = r.get("signals", "")
    if p in socks:
        want_score, want_sig = 12.0, "SOCKS5 negotiation + known proxy/tunnel process identity"
    elif p in c407:
        want_score, want_sig = 11.0, "HTTP CONNECT / 407 + known proxy/tunnel process identity"
    else:
        want_score, want_sig = 4.0, "known proxy/tunnel process identity + protocol probe budget not reached"
    expect(r.get("score") == want_score and sig == want_sig and r.get("level") == "candidate",
           "port %d: score %r level %r signals %r (want %r, %r)" % (p, r.get("score"), r.get("level"), sig, want_score, want_sig))
    expect(r.get("eligible") is True, "port %d not eligible" % p)
expect(sum(1 for c in candidates if FIRST <= c.get("port", 0) <= LAST) == 300,
       "candidate list holds %d of the 300" % len(candidates))
PY
)
checker=$?
# The checker's own failure (a crash, a traceback) is a failure too, not an
# empty list of problems.
if ((checker != 0)); then
  fail "the candidate checker failed (exit $checker)"
  head -20 <<<"$problems" | sed 's/^/    | /' >&2
elif [[ -z $problems ]]; then
  pass "72 SOCKS5 probes, 36 CONNECT probes with 407, 228 over budget, scores and signals"
else
  fail "candidate assessment:"
  head -20 <<<"$problems" | sed 's/^/    | /' >&2
fi
expect_contains out.txt "xray" "summary names the xray stand-in"
finish
