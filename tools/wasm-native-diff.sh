#!/usr/bin/env bash
# Whether the browser engine draws what the native converter draws: generates COUNT graph
# files of each kind, adds the examples, converts each in every Hershey mode with
# build/bin/plotmint-convert and with build-web/site's engine in node, and counts the files
# whose graph.emf, log or status differ. Kinds: "text", bench/gen_graph's text mix (text and
# Hershey blocks at 0 and 90 degrees, SIZE_MB each, seeds 1..COUNT), and "scripts",
# tools/gen_hershey_scripts.py (Hershey blocks with superscripts and subscripts at and about
# 0 and 90 degrees).
#
#   tools/wasm-native-diff.sh [COUNT [SIZE_MB [KINDS]]]   (default 3000, 0.02, "text scripts")
#   HERSHEY_MODES="1 2" limits the modes (default "0 1 2").
#
# Needs build/bin/plotmint-convert and scripts/build-web.sh's site.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-3000}
size=${2:-0.02}
kinds=${3:-text scripts}
convert=${PLOTMINT_CONVERT:-$here/build/bin/plotmint-convert}
site=${PLOTMINT_WEB_SITE:-${PLOTMINT_WEB_BUILD:-$here/build-web}/site}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"${CXX:-c++}" -O2 -std=c++20 "$here/bench/gen_graph.cpp" -o "$work/gen_graph"
mkdir -p "$work/g" "$work/run/tables"
for kind in $kinds; do
  case "$kind" in
    text)
      for seed in $(seq 1 "$count"); do
        "$work/gen_graph" --mix text --size-mb "$size" --seed "$seed" --out "$work/g/gen-$seed.g"
      done ;;
    scripts) python3 "$here/tools/gen_hershey_scripts.py" "$work/g" "$count" ;;
    *) echo "wasm-native-diff: unknown kind $kind" >&2; exit 2 ;;
  esac
done
cp "$here"/examples/*.g "$work/g/"
# The run's folder as the engine lays it out: the graph file and tables/.
cp "$site"/tables/*.ktc "$site"/tables/*.klc "$work/run/tables/"
files=("$work"/g/*.g)
status=0
for hershey in ${HERSHEY_MODES:-0 1 2}; do
  : >"$work/native-$hershey.txt"
  for f in "${files[@]}"; do
    name=$(basename "$f")
    cp "$f" "$work/run/$name"
    rm -f "$work/run/graph.emf"
    rc=0
    (cd "$work/run" && "$convert" --table-dir tables --hershey "$hershey" "$name" 2>"$work/run/stderr") || rc=$?
    emf=-
    [ -f "$work/run/graph.emf" ] && emf=$(sha256sum <"$work/run/graph.emf" | cut -d' ' -f1)
    echo "$name $rc $emf $(sha256sum <"$work/run/stderr" | cut -d' ' -f1)" >>"$work/native-$hershey.txt"
    rm -f "$work/run/$name"
  done
  (cd "$work/g" && node "$here/tools/wasm_convert_many.cjs" "$site" "$hershey" *.g) >"$work/wasm-$hershey.txt"
  differ=$(diff "$work/native-$hershey.txt" "$work/wasm-$hershey.txt" | grep -c '^<' || true)
  echo "hershey $hershey: ${#files[@]} files, differing: $differ"
  if [ "$differ" -ne 0 ]; then
    status=1
    { diff "$work/native-$hershey.txt" "$work/wasm-$hershey.txt" | grep '^<' | head -n 20; } || true
    keep=${PLOTMINT_DIFF_KEEP:-}
    if [ -n "$keep" ]; then
      mkdir -p "$keep"
      diff "$work/native-$hershey.txt" "$work/wasm-$hershey.txt" | sed -n 's/^< \([^ ]*\) .*/\1/p' |
        while read -r n; do cp "$work/g/$n" "$keep/$hershey-$n"; done || true
    fi
  fi
done
exit $status
