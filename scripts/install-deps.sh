#!/bin/sh
# Installs the Debian packages a set-up command needs, skipping the ones
# already present. Non-interactive; uses sudo when not run as root.
#   install-deps.sh build   what the host build and dtvctl need
#   install-deps.sh test    that, and what every checked configuration needs
set -eu

packages="
build-essential cmake ninja-build pkg-config
libgtest-dev libgmock-dev libbenchmark-dev
nlohmann-json3-dev libcli11-dev libfmt-dev libdvbpsi-dev
"
if [ "${1:-test}" = test ]; then
  packages="$packages
clang libclang-rt-14-dev
ffmpeg
g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
"
fi

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing="$missing $p"
  fi
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
