#!/usr/bin/env bash
# First command of the quick start: install what is missing, build, and draw the bundled
# example into graph.emf in the current directory.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" -j"$(nproc)"
example="$here/examples/graph.g"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$here/build/bin/plotmint" ]; then
  exec "$here/build/bin/plotmint" "$example"
fi
"$here/build/bin/plotmint-convert" "$example"
echo "Wrote $(pwd)/graph.emf"
