#!/usr/bin/env bash
# Second command of the quick start, and what CI runs: build and run every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
jobs=$(nproc)

cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$here/build" --output-on-failure -j"$jobs"
# Every picture of the examples, the graph files under tests/data and a few generated mixes,
# with its exit status and log, as in the committed baseline: a change that alters any
# picture shows here, and must renew tests/data/emf-checksums.txt on purpose.
bash "$here/scripts/emf-checksums.sh" --check "$here/build"

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer: any invalid
# memory access, leak or undefined behaviour a test reaches fails it.
# The window's tests run too: Qt's own libraries are not instrumented, and nothing in them
# has tripped the sanitizers.
cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLOTMINT_SANITIZE=ON >/dev/null
cmake --build "$here/build-asan" -j"$jobs"
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$here/build-asan" --output-on-failure -j"$jobs"

# A short fuzz run of each target on its seeds (fixed seed and count, a few seconds each),
# so that a regression in the readers shows at once. Long runs: scripts/fuzz-long.sh.
# The core targets build without Qt (-DPLOTMINT_EXPORT=OFF); CI has Qt, so the preview
# target (the window's painting of graph.emf) is built and run as well.
CC=clang CXX=clang++ cmake -S "$here" -B "$here/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPLOTMINT_FUZZ=ON -DPLOTMINT_SANITIZE=ON -DPLOTMINT_GUI=OFF -DPLOTMINT_TESTS=OFF -DPLOTMINT_EXPORT=ON >/dev/null
cmake --build "$here/build-fuzz" -j"$jobs" --target fuzz_convert fuzz_tables fuzz_emf fuzz_preview
for target in convert tables emf preview; do
  seeds=$target
  runs=10000
  case "$target" in
    # A whole conversion per input is the slowest target: fewer runs keep it to seconds.
    convert) dict=graph.dict; runs=3000 ;;
    tables) dict=tables.dict ;; emf) dict=emf.dict ;; preview) dict=emf.dict; seeds=emf ;;
  esac
  work=$(mktemp -d)
  # New inputs go to the scratch folder; the committed seeds are only read.
  if ! QT_QPA_PLATFORM=offscreen LSAN_OPTIONS=suppressions="$here/fuzz/lsan.supp" \
      "$here/build-fuzz/bin/fuzz_$target" -seed=1 -runs="$runs" -max_total_time=60 -timeout=10 \
      -dict="$here/fuzz/$dict" -artifact_prefix="$work/" "$work" "$here/fuzz/corpus/$seeds" \
      >"$work.log" 2>&1; then
    tail -n 40 "$work.log" >&2
    echo "fuzz_$target found a problem; the input is in $work/" >&2
    exit 1
  fi
  echo "fuzz_$target: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$work.log")"
  rm -rf "$work" "$work.log"
done

# The browser build and its tests in Debian's chromium, against the converter built above.
bash "$here/scripts/test-web.sh"

# The Windows build (scripts/build-windows.sh --help): cross-built with MinGW-w64, its core
# tests run under Wine, every example converted under Wine and compared byte for byte with
# the Linux converter built above, then the clipboard copy and GDI's playback checked.
bash "$here/scripts/build-windows.sh" --test --linux-build "$here/build"
