#!/usr/bin/env bash
# Builds the Debian packages tarvo and tarvo-devsim from a clean copy of the
# tree (the files git knows, as they are in the work tree: no build folder
# comes along) with dpkg-buildpackage, checks them with lintian and leaves
# tarvo_VERSION_ARCH.deb and tarvo-devsim_VERSION_ARCH.deb in the top folder
# of the tree (or in the folder given as the only argument). The package
# build compiles the product only: no tests, no benchmarks.
#   bash scripts/package.sh [OUTDIR]
# Needs the packages of scripts/setup.sh (debhelper, lintian among them).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(mkdir -p "${1:-$here}" && cd "${1:-$here}" && pwd)
work=$here/build-package

rm -rf "$work"
mkdir -p "$work/tarvo"
(
  cd "$here"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -
) | tar -xf - -C "$work/tarvo"

export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-parallel=$(nproc)}
(cd "$work/tarvo" && dpkg-buildpackage -us -uc -b)

changes=$(ls "$work"/tarvo_*.changes)
if command -v lintian >/dev/null; then
  echo "== lintian"
  lintian --fail-on error --info "$changes"
  echo "== lintian: no errors"
else
  echo "package.sh: lintian is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
for deb in "$work"/tarvo_*.deb "$work"/tarvo-devsim_*.deb; do
  cp "$deb" "$out/"
  echo "built $out/$(basename "$deb")"
done
