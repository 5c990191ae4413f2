#!/usr/bin/env bash
# The browser tests: builds the core for wasm (scripts/build-web.sh, which installs
# emscripten, node, npm and chromium where missing), installs the test harness's locked
# npm packages in tests/web, and runs its tests in Debian's headless chromium.
#
# Usage: scripts/test-web.sh [--no-build]
#   --no-build  only the browser tests, against what build-web/ already holds
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=1
for arg in "$@"; do
  case "$arg" in
    --no-build) build=0 ;;
    *) echo "test-web: unknown argument $arg" >&2; exit 2 ;;
  esac
done
if [ "$build" -eq 1 ]; then
  "$here/scripts/build-web.sh"
elif ! command -v npm >/dev/null || [ ! -x /usr/bin/chromium ]; then
  echo "test-web: npm or /usr/bin/chromium is missing; run without --no-build to install them" >&2
  exit 1
fi
cd "$here/tests/web"
# The browser comes from Debian; puppeteer-core never downloads one, and this keeps any
# other package from trying.
export PUPPETEER_SKIP_DOWNLOAD=1
t0=${EPOCHREALTIME/./}
npm ci --no-audit --no-fund --loglevel=error
echo "test-web: npm ci took $(( (${EPOCHREALTIME/./} - t0) / 1000 )) ms"
export PLOTMINT_WEB_OUT=${PLOTMINT_WEB_OUT:-${PLOTMINT_WEB_BUILD:-$here/build-web}/web-test-out}
nice -n 19 node --test
