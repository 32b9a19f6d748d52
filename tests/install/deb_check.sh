#!/usr/bin/env bash
# `cpack -G DEB` from the build directory: the package's name, fields and
# files, its dependencies resolvable by apt on this machine, and a real
# install and removal in a throw-away root.
set -uo pipefail
BUILD=$1
VERSION=$2
source "$(dirname "$0")/../e2e/lib.sh"

arch=$(dpkg --print-architecture)
out=$E2E_TMP/pkg
if ! (cd "$BUILD" && cpack -G DEB -B "$out") >"$E2E_TMP/cpack.log" 2>&1; then
  cat "$E2E_TMP/cpack.log" >&2
  fail "cpack -G DEB failed"
  finish
fi
deb=$out/corvale_${VERSION}_${arch}.deb
if [[ -f $deb ]]; then pass "package file name"; else fail "no $deb"; ls "$out" >&2; finish; fi

field() { dpkg-deb -f "$deb" "$1"; }
expect_eq corvale "$(field Package)" "Package"
expect_eq "$VERSION" "$(field Version)" "Version"
expect_eq net "$(field Section)" "Section"
expect_eq "$arch" "$(field Architecture)" "Architecture"
if [[ $(field Description) == "network-path diagnostics for a campus desktop"$'\n'* ]]; then
  pass "Description with a long text"
else
  fail "Description: $(field Description)"
fi
depends=$(field Depends)
for dep in libc6 'libstdc\+\+6' libpcre2-8-0 'libfmt[0-9]+' iproute2 iputils-ping; do
  if grep -qE "(^|, )$dep( |,|$)" <<<"$depends"; then pass "Depends names $dep"; else fail "Depends lacks $dep: $depends"; fi
done
if grep -q systemd <<<"$depends"; then fail "Depends names systemd: $depends"; else pass "no systemd dependency"; fi
expect_eq prometheus-node-exporter "$(field Suggests)" "Suggests"
if [[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^@\>]+\>$ ]]; then pass "Maintainer with an address"; else fail "Maintainer: $(field Maintainer)"; fi

# lintian as Debian's archive would run it, pedantic tags included; the
# check fails on any error or warning and shows every tag it printed.
lintian --pedantic --info --tag-display-limit 0 "$deb" >"$E2E_TMP/lintian.txt" 2>&1
grep -E '^[EWIPXO]: ' "$E2E_TMP/lintian.txt" | sed 's/^/    lintian| /'
tags=$(grep -cE '^[EW]: ' "$E2E_TMP/lintian.txt")
if ! command -v lintian >/dev/null; then
  fail "lintian is missing (Debian package lintian)"
elif [[ $tags -eq 0 ]]; then
  pass "lintian --pedantic: no error, no warning"
else
  fail "lintian --pedantic: $tags error(s) or warning(s)"
fi

dpkg-deb -c "$deb" | awk '{print $NF}' >"$E2E_TMP/contents.txt"
for f in ./usr/bin/corvale ./usr/share/man/man1/corvale.1.gz \
  ./usr/share/bash-completion/completions/corvale ./usr/share/doc/corvale/copyright \
  ./usr/share/doc/corvale/changelog.gz ./usr/share/corvale/facts.schema.json \
  ./usr/share/zsh/vendor-completions/_corvale ./usr/share/fish/vendor_completions.d/corvale.fish \
  ./usr/lib/systemd/system/corvale-monitor.service ./usr/lib/systemd/system/corvale-monitor.timer \
  ./usr/share/locale/zh_CN/LC_MESSAGES/corvale.mo; do
  if grep -qxF "$f" "$E2E_TMP/contents.txt"; then pass "package holds $f"; else fail "package lacks $f"; fi
done

# The units are off until enabled: nothing links them into a target and no
# maintainer script enables or starts them.
if grep -q '^\./etc/' "$E2E_TMP/contents.txt"; then fail "package writes under /etc"; else pass "nothing under /etc"; fi
dpkg-deb -e "$deb" "$E2E_TMP/control"
scripts=$(ls "$E2E_TMP/control" | grep -E '^(pre|post)(inst|rm)$' | tr '\n' ' ')
expect_eq "" "$scripts" "no maintainer scripts"

# apt resolves every dependency from what this machine has (no download: the
# suite runs without a network), as `apt install ./corvale_….deb` would.
sim=$(apt-get -s -o Debug::NoLocking=1 install "$deb" 2>&1)
if grep -q "^Inst corvale " <<<"$sim" && ! grep -qE "^E: |unmet dependencies" <<<"$sim"; then
  pass "apt-get install resolves the package"
else
  fail "apt-get -s install: $sim"
fi

# A real install into an empty root. Its dependencies are not in that root,
# which is why they were checked against this machine above.
root=$E2E_TMP/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
if dpkg --root="$root" --force-depends -i "$deb" >"$E2E_TMP/dpkg.log" 2>&1; then
  pass "dpkg --root installs the package"
else
  fail "dpkg --root -i: $(cat "$E2E_TMP/dpkg.log")"
fi
expect_eq "corvale $VERSION" "$("$root/usr/bin/corvale" --version 2>&1)" "installed corvale --version"
expect_eq "$root/usr/share/man/man1/corvale.1.gz" "$(MANPATH=$root/usr/share/man man -w corvale 2>&1)" "man -w corvale"
"$root/usr/bin/corvale" --bogus >/dev/null 2>&1
expect_eq 2 "$?" "installed corvale refuses --bogus"
# The units as systemd reads them, against the installed program and manual
# page and the system's own units (sysinit.target ...). Unknown keys are only
# warned about, so any output fails too.
if command -v systemd-analyze >/dev/null; then
  cp -an /lib/systemd/system/. "$root/usr/lib/systemd/system/"
  if verify=$(MANPATH=$root/usr/share/man systemd-analyze verify --root="$root" \
    corvale-monitor.timer corvale-monitor.service 2>&1) && [[ -z $verify ]]; then
    pass "systemd-analyze verify"
  else
    fail "systemd-analyze verify: $verify"
  fi
else
  echo "systemd-analyze not on this machine (package systemd): the units were not verified"
fi
dpkg --root="$root" -r corvale >>"$E2E_TMP/dpkg.log" 2>&1
if [[ -e $root/usr/bin/corvale ]]; then fail "removal left the program"; else pass "dpkg -r removes it"; fi
finish
