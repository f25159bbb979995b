#!/usr/bin/env bash
# Builds Pelicore and starts it. Without a display it runs under a virtual one.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"

cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPELICORE_TESTS=OFF -DPELICORE_BENCH=OFF >/dev/null
cmake --build "$root/build-release" --target pelicore

app="$root/build-release/app/pelicore"
if [ ! -x "$app" ]; then
  echo "run: the window is not built yet (no app/pelicore target); the libraries built."
  exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; starting Pelicore on a virtual display (xvfb-run)"
  exec xvfb-run -a "$app"
fi
exec "$app"
