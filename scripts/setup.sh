#!/usr/bin/env bash
# Installs what Pelicore needs to build, run and test on Debian 12, when it is
# missing. Safe to run again. Sourced by run.sh and test.sh.
set -euo pipefail

PELICORE_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev googletest
  fonts-ipafont-gothic fontconfig
  dovecot-core dovecot-pop3d
  coreutils sharutils python3 curl
  xvfb xauth
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${PELICORE_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
