#!/usr/bin/env bash
# Tab completion as bash-completion drives it: the command line so far in,
# the offered words out.
set -uo pipefail
COMPLETION=$1
source "$(dirname "$0")/../e2e/lib.sh"
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || { fail "bash-completion missing"; finish; }
source "$COMPLETION"

complete_line() { # the line up to the cursor -> offered words, sorted, on one line
  COMP_LINE=$1
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _corvale corvale "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

mkdir -p "$E2E_TMP/dir/sub"
touch "$E2E_TMP/dir/facts.json" "$E2E_TMP/dir/notes.txt"
cd "$E2E_TMP/dir" || exit 1
while IFS='|' read -r line want; do
  expect_eq "$want" "$(complete_line "$line")" "completion of [$line]"
done <<'CASES'
corvale |--color= --fail-on= --help --json --no-progress --no-report --prometheus --report --version
corvale --|--color= --fail-on= --help --json --no-progress --no-report --prometheus --report --version
corvale --n|--no-progress --no-report
corvale --no-progress |--color= --fail-on= --help --json --no-report --prometheus --report --version
corvale --json facts.json --no-progress --report x |--color= --fail-on= --help --prometheus --version
corvale --json=x.json --no-report |--color= --fail-on= --help --no-progress --prometheus --version
corvale --color=never --fail-on warning |--help --json --no-progress --no-report --prometheus --report --version
corvale --prometheus=c.prom --json f.json |--color= --fail-on= --help --no-progress --no-report --report --version
corvale --prometheus s|sub
corvale --help |
corvale -V |
corvale --version --|
corvale --json f|facts.json
corvale --json s|sub
corvale --json |- facts.json notes.txt sub
corvale --report s|sub
corvale --color=|always auto never
corvale --color=n|never
corvale --fail-on |problem warning
corvale --fail-on=w|warning
CASES
finish
