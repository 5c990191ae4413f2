#!/usr/bin/env bash
# Builds tools/hershey_layout_dump.cpp natively and with emcc, runs both over generated
# cases and the Hershey blocks of examples/*.g, and shows where they differ.
#
#   tools/hershey-layout-diff.sh [COUNT [SEED]] [-- EXTRA_FLAGS...]   (default 5000 cases, seed 1)
#
# EXTRA_FLAGS go to both compilers (e.g. -mlong-double-64). Needs what
# scripts/build-web.sh installs; outputs stay in build-web/hershey/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
count=5000
seed=1
if [ $# -gt 0 ] && [ "$1" != -- ]; then count=$1; shift; fi
if [ $# -gt 0 ] && [ "$1" != -- ]; then seed=$1; shift; fi
[ "${1:-}" = -- ] && shift
extra=("$@")
out=${PLOTMINT_WEB_BUILD:-$here/build-web}/hershey
mkdir -p "$out"

export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
if [ -d "${PLOTMINT_WEB_BUILD:-$here/build-web}/em-cache" ]; then
  export EM_CACHE=${PLOTMINT_WEB_BUILD:-$here/build-web}/em-cache EM_FROZEN_CACHE=
fi

srcs=(tools/hershey_layout_dump.cpp src/text/hershey.cpp src/text/fonts.cpp src/text/font_width.cpp
      src/text/font_width_tables.cpp src/metafile/recording_surface.cpp)
# The flags of a release build of the project.
flags=(-std=c++20 -O3 -DNDEBUG -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
       -I"$here/src" "${extra[@]}")
cd "$here"
nice -n 19 "${CXX:-c++}" "${flags[@]}" "${srcs[@]}" -o "$out/dump-native"
nice -n 19 em++ "${flags[@]}" "${srcs[@]}" -sALLOW_MEMORY_GROWTH=1 -sENVIRONMENT=node -sNODERAWFS=1 -o "$out/dump-wasm.cjs"

examples=("$here"/examples/*.g)
for kind in native wasm; do
  if [ $kind = native ]; then run=("$out/dump-native"); else run=(node --no-experimental-fetch "$out/dump-wasm.cjs"); fi
  nice -n 19 "${run[@]}" gen "$count" "$seed" >"$out/gen-$kind.txt"
  nice -n 19 "${run[@]}" graph "${examples[@]}" >"$out/examples-$kind.txt"
done

status=0
for set in gen examples; do
  cases=$(grep -c '^case ' "$out/$set-native.txt")
  # A case differs when any of its lines does.
  differing=$(awk '
    FNR == 1 { file++ }
    /^case / { id = $2 }
    { line[file, FNR] = $0; caseof[file, FNR] = id; n[file] = FNR }
    END {
      if (n[1] != n[2]) { print "line-count"; exit }
      for (i = 1; i <= n[1]; i++) if (line[1, i] != line[2, i]) bad[caseof[1, i]] = 1
      c = 0; for (k in bad) c++; print c
    }' "$out/$set-native.txt" "$out/$set-wasm.txt")
  runs=$(grep -c '^  run ' "$out/$set-native.txt")
  emf=$(grep -c '^  emf text_out' "$out/$set-native.txt")
  echo "$set: $cases cases, $runs runs, $emf text_out calls; cases that differ: $differing"
  if ! diff -q "$out/$set-native.txt" "$out/$set-wasm.txt" >/dev/null; then
    status=1
    diff "$out/$set-native.txt" "$out/$set-wasm.txt" >"$out/$set.diff" || true
    echo "  differing lines: $(grep -c '^<' "$out/$set.diff"), of them in emf calls: $(grep -c '^<   emf' "$out/$set.diff" || true); diff in $out/$set.diff"
  fi
done
exit $status
