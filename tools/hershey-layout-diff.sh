#!/usr/bin/env bash
# Builds tools/hershey_layout_dump.cpp natively and with emcc, runs both over generated
# cases and the Hershey blocks of examples/*.g, and shows where they differ.
#
#   tools/hershey-layout-diff.sh [COUNT [SEED]] [-- EXTRA_FLAGS...]   (default 5000 cases, seed 1)
#
# Sets: "gen" (COUNT cases at all kinds of angles, every run), "drawn" (20 x COUNT cases at
# the angles that reach the picture, picture calls only), "examples", and "angles" (the
# angle in degrees of every angle10 within +-ANGLES, default 10^7, and the direction of
# writing of the drawn angles), and "steps" (the pen after a few steps through the layout
# for every angle10 within +-STEPS, default 36000).
#
# HERSHEY_SRC names another file to build in place of src/text/hershey.cpp, to try a
# change of the layout's arithmetic against today's native build: the native side always
# builds src/text/hershey.cpp. (The layout does x87 arithmetic exactly on binary128 since
# the browser build drew some runs a pixel off; tools/wasm-native-diff.sh compares whole
# pictures.)
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

common=(tools/hershey_layout_dump.cpp src/text/fonts.cpp src/text/font_width.cpp src/text/ps_fonts.cpp
        src/text/font_width_tables.cpp src/metafile/recording_surface.cpp)
wasm_layout=$(realpath "${HERSHEY_SRC:-$here/src/text/hershey.cpp}")
# The flags of a release build of the project.
flags=(-std=c++20 -O3 -DNDEBUG -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
       -I"$here/src" "${extra[@]}")
cd "$here"
nice -n 19 "${CXX:-c++}" "${flags[@]}" "${common[@]}" src/text/hershey.cpp -o "$out/dump-native"
nice -n 19 em++ "${flags[@]}" "${common[@]}" "$wasm_layout" -sALLOW_MEMORY_GROWTH=1 -sENVIRONMENT=node -sNODERAWFS=1 -o "$out/dump-wasm.cjs"

examples=("$here"/examples/*.g)
for kind in native wasm; do
  if [ $kind = native ]; then run=("$out/dump-native"); else run=(node --no-experimental-fetch "$out/dump-wasm.cjs"); fi
  nice -n 19 "${run[@]}" gen "$count" "$seed" >"$out/gen-$kind.txt"
  nice -n 19 "${run[@]}" drawn $((20 * count)) "$seed" >"$out/drawn-$kind.txt"
  nice -n 19 "${run[@]}" graph "${examples[@]}" >"$out/examples-$kind.txt"
  nice -n 19 "${run[@]}" angles "-${ANGLES:-10000000}" "${ANGLES:-10000000}" >"$out/angles-$kind.txt"
  nice -n 19 "${run[@]}" steps "-${STEPS:-36000}" "${STEPS:-36000}" >"$out/steps-$kind.txt"
done

status=0
for set in gen drawn examples; do
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
  runs=$(grep -c "^  run " "$out/$set-native.txt" || true)
  emf=$(grep -c "^  emf text_out" "$out/$set-native.txt" || true)
  echo "$set: $cases cases, $runs runs, $emf text_out calls; cases that differ: $differing"
  if ! diff -q "$out/$set-native.txt" "$out/$set-wasm.txt" >/dev/null; then
    status=1
    diff "$out/$set-native.txt" "$out/$set-wasm.txt" >"$out/$set.diff" || true
    echo "  differing lines: $(grep -c '^<' "$out/$set.diff"), of them in emf calls: $(grep -c '^<   emf' "$out/$set.diff" || true); diff in $out/$set.diff"
  fi
done
if cmp -s "$out/steps-native.txt" "$out/steps-wasm.txt"; then
  echo "steps: $(wc -l <"$out/steps-native.txt") angles, the same"
else
  status=1
  diff "$out/steps-native.txt" "$out/steps-wasm.txt" >"$out/steps.diff" || true
  echo "steps: $(grep -c '^<' "$out/steps.diff") of $(wc -l <"$out/steps-native.txt") angles differ; diff in $out/steps.diff"
fi
# The direction lines show the raw long double of each platform (binary128 has more bits
# to show), for reading; only the angles in degrees must agree.
diff "$out/angles-native.txt" "$out/angles-wasm.txt" >"$out/angles.diff" || true
if [ "$(head -n1 "$out/angles-native.txt")" = "$(head -n1 "$out/angles-wasm.txt")" ]; then
  echo "angles: degrees the same; direction lines differing: $(grep -c '^<' "$out/angles.diff" || true) (in $out/angles.diff)"
else
  status=1
  echo "angles: degrees differ; see $out/angles.diff"
fi
# The exact rounding the patch does on binary128, against integer arithmetic.
nice -n 19 em++ "${flags[@]}" -sENVIRONMENT=node tools/hershey_ext80_check.cpp -o "$out/ext80-check.cjs"
if check=$(nice -n 19 node --no-experimental-fetch "$out/ext80-check.cjs"); then
  echo "ext80 rounding check: $check"
else
  echo "ext80 rounding check failed: $check"
  status=1
fi
exit $status
