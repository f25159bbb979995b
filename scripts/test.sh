#!/usr/bin/env bash
# Checks the layering, builds Pelicore twice (debug, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs every test in both, runs clang-tidy over
# the debug build, runs the tests of the listening server (the one part with
# several threads) under ThreadSanitizer, then the fuzz target briefly. Exits
# non-zero when a check or a test fails.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
jobs="$(nproc)"

echo "== layers"
"$root/scripts/check-layers.sh"

run_suite() {
  local dir="$1"; shift
  echo "== $(basename "$dir"): configure and build"
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $(basename "$dir"): tests"
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300
}

run_suite "$root/build-test" -DCMAKE_BUILD_TYPE=Debug

# The curated checks of .clang-tidy over every source of ours in the debug
# build (generated files left out); a finding fails the run.
if command -v run-clang-tidy-14 >/dev/null && command -v clang-tidy-14 >/dev/null; then
  echo "== clang-tidy"
  run-clang-tidy-14 -p "$root/build-test" -clang-tidy-binary clang-tidy-14 -j "$jobs" -quiet \
    -extra-arg=-Wno-unknown-warning-option "^$root/(platform|socket|codec|pop3|app|tools|tests|bench)/" 2>/dev/null \
    || { echo "clang-tidy: findings above"; exit 1; }
else
  echo "== clang-tidy: not installed, skipped"
fi
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DPELICORE_SANITIZE=ON -DPELICORE_BENCH=OFF

# Qt's library is not instrumented: tests/tsan.supp lists what that hides.
echo "== build-tsan: configure and build the server tests"
cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELICORE_TSAN=ON -DPELICORE_BENCH=OFF >/dev/null
cmake --build "$root/build-tsan" -j "$jobs" --target socket_tests
echo "== build-tsan: server tests"
TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1" QT_QPA_PLATFORM=offscreen \
  ctest --test-dir "$root/build-tsan" -R '^(ServerTest|Threads)[.]' -j "$jobs" --output-on-failure --timeout 300

# The fuzz target, built with clang and run briefly over its seeds and the
# inputs that once failed; new findings go to a scratch folder.
echo "== build-fuzz: configure and build"
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 \
  -DPELICORE_FUZZ=ON -DPELICORE_TESTS=OFF -DPELICORE_BENCH=OFF >/dev/null
cmake --build "$root/build-fuzz" -j "$jobs" --target fuzz_message_parts
echo "== build-fuzz: a short run"
fuzz_work="$(mktemp -d)"
trap 'rm -rf "$fuzz_work"' EXIT
"$root/build-fuzz/tests/fuzz/fuzz_message_parts" -max_total_time=10 -max_len=4096 -artifact_prefix="$fuzz_work/" \
  "$fuzz_work" "$root/tests/fuzz/seeds" "$root/tests/fuzz/regressions"
