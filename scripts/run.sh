#!/usr/bin/env bash
# Builds Pelicore and starts it, with the demo mailbox: a small POP3 server on
# 127.0.0.1:11110 (user demo, password demo) serving the sample messages of
# tools/demo-mailbox, which the window's fields name on a first start. The
# demo server stops when the window closes. Without a display the window runs
# under a virtual one.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"

build="$root/build-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPELICORE_TESTS=OFF -DPELICORE_BENCH=OFF >/dev/null
cmake --build "$build" --target pelicore pelicore-demo-pop3

# A demo server that cannot listen (the port is taken, for instance by one
# started earlier) says why and ends; the window starts all the same.
"$build/tools/pelicore-demo-pop3" --port 11110 --folder "$root/tools/demo-mailbox" &
demo=$!
trap 'kill "$demo" 2>/dev/null || true; wait "$demo" 2>/dev/null || true' EXIT

app="$build/app/pelicore"
status=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; starting Pelicore on a virtual display (xvfb-run)"
  xvfb-run -a "$app" || status=$?
else
  "$app" || status=$?
fi
exit "$status"
