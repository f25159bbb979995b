#!/usr/bin/env bash
# Checks on the sources that each layer includes only itself and the layers
# below it (the build enforces the same through each library's own include
# folder, see cmake/Layers.cmake), never a path that climbs out of its
# folder, and that no header of a component layer brings in Qt.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

# Each layer and the folders its files may include from.
declare -A allowed=(
  [platform]="platform"
  [socket]="platform socket"
  [codec]="platform codec"
  [pop3]="platform socket codec pop3"
  [app]="platform socket codec pop3 app"
)

failures=0
for layer in "${!allowed[@]}"; do
  while IFS=: read -r file line text; do
    target="$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$text")"
    case "$target" in
      ../*|*/../*)
        echo "$file:$line: climbs out of its folder: $target"
        failures=$((failures + 1))
        continue ;;
      */*) folder="${target%%/*}" ;;
      *) continue ;;  # a file beside it, in its own layer
    esac
    if [[ " ${allowed[$layer]} " != *" $folder "* ]]; then
      echo "$file:$line: $layer/ may not include $target"
      failures=$((failures + 1))
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' -r --include='*.h' --include='*.cpp' "$layer" || true)
done

# The components are plain C++ on the platform's headers: Qt stays in the
# platform's .cpp files and in app/.
while IFS= read -r hit; do
  echo "$hit: a component header includes Qt"
  failures=$((failures + 1))
done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' platform/*.h socket/*.h codec/*.h pop3/*.h || true)

if ((failures)); then
  echo "layers: $failures violation(s)"
  exit 1
fi
echo "layers: every include points to its own layer or one below"
