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

dpkg-deb -c "$deb" | awk '{print $NF}' >"$E2E_TMP/contents.txt"
for f in ./usr/bin/corvale ./usr/share/man/man1/corvale.1.gz \
  ./usr/share/bash-completion/completions/corvale ./usr/share/doc/corvale/copyright; do
  if grep -qxF "$f" "$E2E_TMP/contents.txt"; then pass "package holds $f"; else fail "package lacks $f"; fi
done

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
dpkg --root="$root" -r corvale >>"$E2E_TMP/dpkg.log" 2>&1
if [[ -e $root/usr/bin/corvale ]]; then fail "removal left the program"; else pass "dpkg -r removes it"; fi
finish
