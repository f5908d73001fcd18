#!/usr/bin/env bash
# Checks what the packages built by scripts/package.sh hold, with dpkg-deb
# only (nothing is installed):
#   bash scripts/check-packages.sh DIR     (DIR holds tarvo_*.deb, tarvo-devsim_*.deb)
set -euo pipefail
dir=${1:?usage: check-packages.sh DIR}
failed=0
fail() { echo "check-packages: $*" >&2; failed=1; }

tarvo=$(ls "$dir"/tarvo_*.deb)
devsim=$(ls "$dir"/tarvo-devsim_*.deb)

holds() { # DEB PATH...: every path is in the package
  local deb=$1 listing; shift
  listing=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|')
  for path in "$@"; do
    grep -qxF "$path" <<<"$listing" || fail "$(basename "$deb") lacks $path"
  done
  # Nothing is shipped below the installation root: the maintainer scripts
  # make its folders, and the settings file there is the operator's.
  if grep -q '^/opsbase' <<<"$listing"; then fail "$(basename "$deb") ships files below /opsbase"; fi
}

holds "$tarvo" /usr/bin/Tarvo /usr/bin/tarvo-image-info /usr/bin/tarvo-dispatch \
  /lib/systemd/system/tarvo-dispatch.service /usr/share/man/man8/tarvo-dispatch.8.gz \
  /usr/share/tarvo/schema.sql /usr/share/tarvo/migrate-tarvo-claims.sql /usr/share/tarvo/cordal.xml \
  /usr/share/man/man1/Tarvo.1.gz /usr/share/man/man1/tarvo-image-info.1.gz /usr/share/man/man5/cordal.xml.5.gz \
  /usr/share/doc/tarvo/examples/lighttpd-tarvo.conf /usr/share/doc/tarvo/examples/lighttpd-tarvo-https.conf \
  /usr/share/doc/tarvo/examples/tftpd-hpa
holds "$devsim" /usr/bin/devsim /usr/share/man/man1/devsim.1.gz
if dpkg-deb --contents "$tarvo" | grep -q devsim; then fail "tarvo holds devsim"; fi

# The test-only runner and the test and benchmark programs stay out.
for deb in "$tarvo" "$devsim"; do
  if dpkg-deb --contents "$deb" | grep -Eq 'test-runner|_test$|bench_'; then fail "$(basename "$deb") holds a test program"; fi
done

grep -q 'openssh-client' <<<"$(dpkg-deb -f "$tarvo" Depends)" || fail "tarvo does not depend on openssh-client"

scripts=$(mktemp -d)
trap 'rm -rf "$scripts"' EXIT
dpkg-deb -e "$tarvo" "$scripts"
grep -q 'adduser --system --group' "$scripts/postinst" || fail "postinst creates no system user"
grep -q '\[ ! -e /opsbase/etc/cordal.xml \]' "$scripts/postinst" || fail "postinst may overwrite cordal.xml"
for folder in /opsbase/etc /opsbase/tftpboot /opsbase/var/template/master /opsbase/bin; do
  grep -q "$folder\$" "$scripts/postinst" || fail "postinst does not make $folder"
done

# The unit starts the installed dispatcher as the user tarvo, and the
# package enables and starts nothing.
dpkg-deb --fsys-tarfile "$tarvo" | tar -xOf - ./lib/systemd/system/tarvo-dispatch.service >"$scripts/unit"
grep -qx 'ExecStart=/usr/bin/tarvo-dispatch' "$scripts/unit" || fail "the unit does not start /usr/bin/tarvo-dispatch"
grep -qx 'User=tarvo' "$scripts/unit" || fail "the unit does not run as tarvo"
# (debhelper's code re-enables the unit only where the operator had it enabled.)
if grep -q 'deb-systemd-invoke' "$scripts/postinst" ||
   { grep -q 'deb-systemd-helper enable' "$scripts/postinst" && ! grep -q 'was-enabled' "$scripts/postinst"; }; then
  fail "postinst enables or starts the dispatcher"
fi

# The program in the package has the installation root compiled in.
extracted=$scripts/root
dpkg-deb -x "$tarvo" "$extracted"
"$extracted/usr/bin/Tarvo" -h | grep -q 'Write logfile to /opsbase/tftpboot.' || fail "Tarvo -h does not name /opsbase"

[ "$failed" = 0 ] && echo "check-packages: $(basename "$tarvo") and $(basename "$devsim") hold what they should"
exit "$failed"
