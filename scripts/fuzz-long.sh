#!/usr/bin/env bash
# Long fuzz run of one target under ASan+UBSan, e.g.
#   scripts/fuzz-long.sh convert 7200            # two hours
#   scripts/fuzz-long.sh emf 3600 /var/tmp/fz    # one hour, work dir of your choice
# Targets: convert, tables, emf, and preview (the window's painting of graph.emf; needs Qt).
# The growing corpus, crash artifacts and the log stay in WORKDIR/<target>/ (default
# ~/.cache/plotmint-fuzz), outside the repository; the seeds in fuzz/corpus/ are read, never
# written. Several runs may start at once: they take turns building. Extra libFuzzer flags may follow the work
# dir (e.g. -max_len=4096). Runs at the lowest priority so it can share a machine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

if [ $# -lt 2 ]; then
  echo "usage: $0 convert|tables|emf|preview SECONDS [WORKDIR] [libFuzzer flags...]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2
work=${1:-${PLOTMINT_FUZZ_WORK:-$HOME/.cache/plotmint-fuzz}}
[ $# -gt 0 ] && shift
seeds=$target
export_option=-DPLOTMINT_EXPORT=OFF  # the core targets need neither Qt nor GoogleTest
case "$target" in
  convert) dict=graph.dict ;;
  tables) dict=tables.dict ;;
  emf) dict=emf.dict ;;
  preview) dict=emf.dict; seeds=emf; export_option=-DPLOTMINT_EXPORT=ON ;;
  *) echo "$0: unknown target '$target' (convert, tables, emf, preview)" >&2; exit 2 ;;
esac
case "$seconds" in
  ''|*[!0-9]*) echo "$0: '$seconds' is not a number of seconds" >&2; exit 2 ;;
esac

build=${PLOTMINT_FUZZ_BUILD:-$here/build-fuzz}
mkdir -p "$build"
exec 9>"$build/.fuzz-long.lock"
flock 9
if [ ! -x "$build/bin/fuzz_$target" ]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPLOTMINT_FUZZ=ON -DPLOTMINT_SANITIZE=ON -DPLOTMINT_GUI=OFF -DPLOTMINT_TESTS=OFF "$export_option" >/dev/null
fi
cmake --build "$build" --target "fuzz_$target" >/dev/null
flock -u 9

dir=$work/$target
mkdir -p "$dir/corpus" "$dir/artifacts"
log=$dir/run-$(date +%Y%m%d-%H%M%S).log
echo "fuzz_$target for ${seconds}s; corpus $dir/corpus, artifacts $dir/artifacts, log $log"
start=$(date +%s)
set +e
QT_QPA_PLATFORM=offscreen LSAN_OPTIONS=suppressions="$here/fuzz/lsan.supp" \
nice -n 19 "$build/bin/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
  -dict="$here/fuzz/$dict" -artifact_prefix="$dir/artifacts/" "$@" \
  "$dir/corpus" "$here/fuzz/corpus/$seeds" >"$log" 2>&1
status=$?
set -e
end=$(date +%s)
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
echo "fuzz_$target: ${runs:-?} executions in $((end - start)) s, exit status $status"
if grep -q "run interrupted" "$log"; then
  echo "interrupted; nothing found up to then"
  exit 0
fi
if [ "$status" -ne 0 ]; then
  echo "finding: see $log and $dir/artifacts/" >&2
  grep -m1 -E '^(==[0-9]+==ERROR|SUMMARY|fuzz_)' "$log" >&2 || true
fi
exit "$status"
