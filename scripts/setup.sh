#!/usr/bin/env bash
# Installs what Pelicore needs to build, run and test on Debian 12, when it is
# missing (with sudo unless run as root). Safe to run again. Run first by
# run.sh and test.sh.
set -euo pipefail

PELICORE_PACKAGES=(
  # the build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # the tests: gtest, the window's Japanese font, the private POP3 server, the
  # reference encoders and the benchmarks' baseline clients
  libgtest-dev libgmock-dev googletest
  fonts-ipafont-gothic fontconfig
  libssl-dev openssl
  dovecot-core dovecot-pop3d
  coreutils sharutils python3 curl
  # run.sh on a machine without a display
  xvfb xauth
  # the fuzz target (clang with libFuzzer), the linter and the formatter
  clang-14 libclang-rt-14-dev clang-tidy-14 clang-format-14
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
