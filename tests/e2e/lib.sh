# Small assertion helpers shared by the end-to-end scripts.
E2E_FAILS=0
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_TMP=$(mktemp -d /tmp/corvale-e2e.XXXXXX)
trap 'rm -rf "$E2E_TMP"' EXIT

fail() {
  echo "FAIL: $*" >&2
  E2E_FAILS=$((E2E_FAILS + 1))
}
pass() { echo "ok: $*"; }

expect_eq() { # expected actual what
  if [[ "$1" == "$2" ]]; then pass "$3"; else fail "$3: expected [$1], got [$2]"; fi
}
expect_contains() { # file text what
  if grep -qF -- "$2" "$1"; then pass "$3"; else fail "$3: [$2] not in $1"; sed 's/^/    | /' "$1" | head -40 >&2; fi
}
expect_not_contains() {
  if grep -qF -- "$2" "$1"; then fail "$3: [$2] found in $1"; else pass "$3"; fi
}
# e2e_py <<'PY' ... PY: Python checks over facts.json and out.txt in the
# current directory, with the helpers of facts_check.py; failures add up here.
e2e_py() {
  python3 "$E2E_DIR/facts_check.py" run -
  E2E_FAILS=$((E2E_FAILS + $?))
}
# run_in DIR [ENV=VAL...] -- ARGS: $CORVALE run in DIR; its stdout, stderr
# and exit status land in DIR/out.txt, err.txt and status.txt.
run_in() {
  local dir=$1; shift
  local envs=()
  while [[ $1 != -- ]]; do envs+=("$1"); shift; done
  shift
  (cd "$dir" && env "${envs[@]}" "$CORVALE" "$@" >out.txt 2>err.txt; echo $? >status.txt)
}
has_cr() { grep -q $'\r' "$1"; }

finish() {
  if [[ $E2E_FAILS -gt 0 ]]; then
    echo "$E2E_FAILS check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}
