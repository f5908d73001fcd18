#!/usr/bin/env bash
# Installs every Debian package Tarvo needs to build, test, fuzz and benchmark,
# then configures and builds the project. Idempotent; run as root on Debian 12.
#   scripts/setup.sh                 packages + normal build in build/
#   scripts/setup.sh --packages-only only the packages
#   scripts/setup.sh --build-dir D [-- extra cmake args]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$here/build"
packages_only=0
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --packages-only) packages_only=1 ;;
    --build-dir) build_dir=$2; shift ;;
    --) shift; extra=("$@"); break ;;
    *) echo "setup.sh: unknown argument $1" >&2; exit 1 ;;
  esac
  shift
done

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libmariadb-dev libmariadb-dev-compat
  libpcre2-dev
  libsocket++-dev
  libdtl-dev
  zlib1g-dev
  libssh-dev
  libssl-dev openssl
  mariadb-server mariadb-client
  galera-4 rsync
  openssh-client
  libgtest-dev libgmock-dev libbenchmark-dev
  expect
  procps iproute2 psmisc
  mandoc groff-base
  lighttpd lighttpd-mod-webdav lighttpd-mod-openssl tftpd-hpa tftp-hpa curl
  debhelper lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: packages missing (${missing[*]}); run as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  # The MariaDB server package must not start a system service; the tests
  # start their own private server.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
    remove_policy=1
  fi
  apt-get install -y --no-install-recommends "${missing[@]}"
  [ "${remove_policy:-0}" = 1 ] && rm -f /usr/sbin/policy-rc.d
fi

[ "$packages_only" = 1 ] && exit 0

cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}"
cmake --build "$build_dir"
