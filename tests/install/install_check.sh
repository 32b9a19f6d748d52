#!/usr/bin/env bash
# `cmake --install` into a scratch prefix: a stripped program, the manual page,
# the completion and the documents, and a manual page that agrees with --help.
set -uo pipefail
BUILD=$1
VERSION=$2
source "$(dirname "$0")/../e2e/lib.sh"

prefix=$E2E_TMP/prefix
if ! cmake --install "$BUILD" --prefix "$prefix" >"$E2E_TMP/install.log" 2>&1; then
  cat "$E2E_TMP/install.log" >&2
  fail "cmake --install failed"
  finish
fi
for f in bin/corvale share/man/man1/corvale.1.gz share/bash-completion/completions/corvale \
  share/zsh/vendor-completions/_corvale share/fish/vendor_completions.d/corvale.fish \
  share/doc/corvale/README.md share/doc/corvale/changelog.gz share/doc/corvale/copyright \
  share/corvale/facts.schema.json lib/systemd/system/corvale-monitor.service \
  lib/systemd/system/corvale-monitor.timer share/locale/zh_CN/LC_MESSAGES/corvale.mo; do
  if [[ -f $prefix/$f ]]; then pass "installed $f"; else fail "missing $f"; fi
done
# The installed catalog is po/zh_CN.po compiled: every sentence of it there.
mo_count=$(msgunfmt "$prefix/share/locale/zh_CN/LC_MESSAGES/corvale.mo" 2>/dev/null | grep -c '^msgid ')
po_count=$(msgattrib --translated --no-obsolete "$(dirname "$0")/../../po/zh_CN.po" | grep -c '^msgid ')
expect_eq "$po_count" "$mo_count" "installed catalog holds every translated sentence"
# The licence is shipped once, inside copyright.
if [[ -e $prefix/share/doc/corvale/LICENSE ]]; then fail "LICENSE beside copyright"; else pass "no second licence file"; fi
if readelf -S "$prefix/bin/corvale" | grep -qE ' \.comment| \.note '; then
  fail "program keeps .comment or .note"
else
  pass "program without .comment and .note"
fi
# Every option of --help can be completed in zsh and fish too.
"$prefix/bin/corvale" --help >"$E2E_TMP/help-options.txt"
for option in $(grep -oE -- '--[a-z-]+' "$E2E_TMP/help-options.txt" | sort -u); do
  # An option entry ends in its description "[…", "=" for a value, or "}" in a {-h,--help} pair.
  if grep -qE -- "${option}(\[|=|\})" "$prefix/share/zsh/vendor-completions/_corvale"; then
    pass "zsh completes $option"
  else
    fail "zsh does not complete $option"
  fi
  expect_contains "$prefix/share/fish/vendor_completions.d/corvale.fish" "-l ${option#--} " "fish completes $option"
done
if file "$prefix/bin/corvale" | grep -q ', stripped'; then pass "program is stripped"; else fail "program not stripped: $(file "$prefix/bin/corvale")"; fi
expect_eq "corvale $VERSION" "$("$prefix/bin/corvale" --version)" "installed program's version"

# The manual page: found by man, free of roff warnings, same version.
page=$(MANPATH=$prefix/share/man man -w corvale 2>&1)
expect_eq "$prefix/share/man/man1/corvale.1.gz" "$page" "man -w finds the page"
warnings=$(zcat "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l - 2>&1 >"$E2E_TMP/man.txt")
expect_eq "" "$warnings" "manual page renders without warnings"
expect_contains "$E2E_TMP/man.txt" "corvale $VERSION" "manual page names the version"
# Its date is the newest changelog entry's.
date=$(zcat "$prefix/share/doc/corvale/changelog.gz" | sed -n 's/^ -- .*>  //p' | head -1)
expect_contains "$E2E_TMP/man.txt" "$(date -u -d "$date" +%Y-%m-%d)" "manual page dated as the changelog"
for heading in SYNOPSIS FINDINGS "MONITORING A FLEET" "REPORTING BUGS"; do
  expect_contains "$E2E_TMP/man.txt" "$heading" "manual page section $heading"
done
# Every option and environment switch of --help is documented, and so is each
# exit status.
"$prefix/bin/corvale" --help >"$E2E_TMP/help.txt"
for word in $(grep -oE -- '(--[a-z-]+|\b[A-Z][A-Z_]{3,}\b)' "$E2E_TMP/help.txt" | sort -u); do
  expect_contains "$E2E_TMP/man.txt" "$word" "manual page documents $word"
done
sed -n '/^EXIT STATUS/,/^[A-Z]/p' "$E2E_TMP/man.txt" >"$E2E_TMP/exit.txt"
for code in 0 1 2 3 130 143; do
  if grep -qE "^ +(.*, )?$code(,| +|$)" "$E2E_TMP/exit.txt"; then pass "exit status $code documented"; else fail "exit status $code missing"; fi
done
finish
