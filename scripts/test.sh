#!/usr/bin/env bash
# Second command of the quick start, and what CI runs: build and run every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
jobs=$(nproc)

cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$here/build" --output-on-failure -j"$jobs"
