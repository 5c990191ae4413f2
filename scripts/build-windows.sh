#!/usr/bin/env bash
# Cross-builds the Qt-free part of Plotmint for 64-bit Windows with Debian's MinGW-w64 and
# runs what it built under Wine.
#
#   scripts/build-windows.sh [--install-only] [--deps-only] [--no-install] [--test]
#                            [--linux-build DIR]
#
#   --install-only  install the Debian packages and stop
#   --deps-only     also build libUEMF and GoogleTest under build-win/deps, then stop
#   --no-install    do not touch apt (fail when a tool is missing)
#   --test          after the build, run the test programs that built under Wine, convert
#                   the examples under Wine and compare the pictures with the Linux
#                   converter's, check --copy and GDI's playback of the examples
#   --linux-build DIR  the Linux build whose bin/plotmint-convert (with PNG export) the
#                   Windows converter is compared with (default: build)
#
# Layout:
#   build-win/deps/src/      libUEMF's Debian source package, unpacked
#   build-win/deps/          lib/libuemf.a, include/uemf*.h, GoogleTest (lib/, include/,
#                            lib/cmake/GTest) built with the cross compiler
#   build-win/               the project, configured with cmake/mingw-w64.cmake
#   build-win/wineprefix/    the Wine prefix the tests run in (made on first use)
#   build-win/wine-checks/   what --test converts, copies and plays, with its logs (renewed
#                            by each run)
#
# The project is built with ninja -k 0, so a source that does not compile yet does not hide
# the targets that do; the script names both kinds at the end. It exits non-zero when the
# tools or the dependencies fail and, with --test, when a target did not build or a test or
# check under Wine fails (CI runs it so). ctest in build-win/ works too
# (WINEPREFIX=build-win/wineprefix; the toolchain file names Wine as its emulator) but
# starts Wine once per test, a second or more each: the script runs each program once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

install=1
stop_after=
run_tests=0
for arg in "$@"; do
  case "$arg" in
    --install-only) stop_after=install ;;
    --deps-only) stop_after=deps ;;
    --no-install) install=0 ;;
    --test) run_tests=1 ;;
    --linux-build) want_linux_build=1 ;;
    -h|--help) sed -n '2,31p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *)
      if [ "${want_linux_build:-0}" -eq 1 ]; then
        linux_build=$arg
        want_linux_build=0
      else
        echo "build-windows: unknown argument $arg" >&2; exit 2
      fi ;;
  esac
done
if [ "${want_linux_build:-0}" -eq 1 ]; then echo "build-windows: --linux-build needs a folder" >&2; exit 2; fi
linux_convert="${linux_build:-$here/build}/bin/plotmint-convert"

build="$here/build-win"
deps="$build/deps"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$here}"
jobs="${JOBS:-2}"
# Other people's builds share the machine.
nice_cmd=(nice -n "${NICE:-19}")

log() { printf 'build-windows: %s\n' "$*" >&2; }
# ccache where it is installed (developers' machines); CI's clean machine has none.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
elapsed() { printf '%ds' $(($(date +%s) - $1)); }

# --- Debian packages -----------------------------------------------------------------------
# The posix flavour of the cross compiler is the one whose libstdc++ has std::thread and
# std::mutex in GCC 12; g++-mingw-w64-x86-64 brings both flavours. dpkg-dev unpacks the
# source package; fonts-wine has the small fonts Wine's own dialogs use; the Liberation and
# URW faces stand in for the Windows faces our pictures name (Symbol made by
# tools/windows/make_symbol_font.py). No X server: GDI draws into memory bitmaps, and the
# clipboard lives in the wineserver (Xvfb matters only for handing the clipboard to X
# programs, which see Wine's picture under the private target WCF_ENHMETAFILE). Pillow
# reads the PNG and BMP images the playback check compares.
packages=(
  g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 fonts-wine
  build-essential dpkg-dev cmake ninja-build googletest python3 python3-fonttools python3-pil
  fonts-liberation2 fonts-urw-base35
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

install_packages() {
  local missing=() p
  for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$install" -eq 0 ]; then
    log "missing packages (and --no-install given): ${missing[*]}"
    exit 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    log "these packages are missing and installing them needs root: ${missing[*]}"
    exit 1
  fi
  local t0
  t0=$(date +%s)
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=900 "${missing[@]}"; then
    apt-get update -q -o DPkg::Lock::Timeout=900
    apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=900 "${missing[@]}"
  fi
  log "installed ${missing[*]} in $(elapsed "$t0")"
}

t_start=$(date +%s)
install_packages
[ "$stop_after" = install ] && exit 0

# --- Debian source lists -------------------------------------------------------------------
# `apt-get source` needs deb-src entries. Debian 12 keeps its lists in deb822 form in
# debian.sources; a file of our own repeats each of its stanzas with Types: deb-src, so the
# system's own file stays as it was. Written only when its contents change.
src_list=/etc/apt/sources.list.d/plotmint-deb-src.sources

wanted_src_list() {
  local f=/etc/apt/sources.list.d/debian.sources
  [ -r "$f" ] || return 0
  # Each stanza whose Types lack deb-src, with Types: deb-src; comments dropped.
  awk 'BEGIN { RS = ""; ORS = "\n\n" }
       {
         n = split($0, lines, "\n"); out = ""; has_src = 0; has_deb = 0
         for (i = 1; i <= n; i++) {
           if (lines[i] ~ /^#/) continue
           if (lines[i] ~ /^Types:/) {
             if (lines[i] ~ /deb-src/) has_src = 1
             if (lines[i] ~ /(:| )deb( |$)/) has_deb = 1
             lines[i] = "Types: deb-src"
           }
           out = out lines[i] "\n"
         }
         if (has_deb && !has_src) printf "%s\n", out
       }' "$f"
}

ensure_deb_src() {
  local wanted
  wanted=$(wanted_src_list)
  if [ -z "$wanted" ]; then
    # The system's lists carry deb-src themselves (now): ours would repeat them.
    if [ -e "$src_list" ]; then
      rm -f "$src_list"
      apt-get update -q -o DPkg::Lock::Timeout=900
    fi
    # sources.list form, or lists that already carry deb-src.
    if ! grep -qs '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list &&
       [ -r /etc/apt/sources.list ] && grep -qs '^deb ' /etc/apt/sources.list; then
      wanted_list=$(sed -n 's/^deb /deb-src /p' /etc/apt/sources.list)
      if ! cmp -s <(printf '%s\n' "$wanted_list") /etc/apt/sources.list.d/plotmint-deb-src.list; then
        printf '%s\n' "$wanted_list" >/etc/apt/sources.list.d/plotmint-deb-src.list
        apt-get update -q -o DPkg::Lock::Timeout=900
      fi
    fi
  elif ! cmp -s <(printf '%s\n' "$wanted") "$src_list"; then
    if [ "$(id -u)" -ne 0 ]; then
      log "adding deb-src entries for apt-get source needs root"
      exit 1
    fi
    printf '%s\n' "$wanted" >"$src_list"
    apt-get update -q -o DPkg::Lock::Timeout=900
  fi
  # Lists written by an earlier run but never fetched.
  if ! apt-cache showsrc libuemf 2>/dev/null | grep -q '^Package: libuemf'; then
    apt-get update -q -o DPkg::Lock::Timeout=900
  fi
}

# --- libUEMF -------------------------------------------------------------------------------
# Built from Debian's own source package (its patches applied), as the static library the
# Linux build gets from libuemf-dev. Its UTF conversions call iconv, which MinGW-w64 lacks:
# tools/windows/iconv.c stands in, checked against glibc's iconv here first.
uemf_version=0.2.8
uemf_sources=(uemf uemf_print uemf_endian uemf_safe uemf_utf uwmf uwmf_print uwmf_endian upmf upmf_print)

build_uemf() {
  local stamp="$deps/lib/libuemf.a" dir obj t0
  t0=$(date +%s)
  mkdir -p "$deps/src" "$deps/lib" "$deps/include" "$deps/obj/uemf"
  dir=$(find "$deps/src" -maxdepth 1 -type d -name "libuemf-${uemf_version}*" | head -n 1)
  if [ -z "$dir" ]; then
    ensure_deb_src
    # The version libuemf-dev has on the build machine, so both builds read EMF alike.
    (cd "$deps/src" && apt-get source -q -o DPkg::Lock::Timeout=900 libuemf)
    dir=$(find "$deps/src" -maxdepth 1 -type d -name "libuemf-${uemf_version}*" | head -n 1)
    if [ -z "$dir" ] || [ ! -f "$dir/uemf.h" ]; then
      log "apt-get source libuemf left no libuemf-${uemf_version} source tree in $deps/src"
      exit 1
    fi
  fi
  if [ -f "$stamp" ] && [ "$stamp" -nt "$here/tools/windows/iconv.c" ] &&
     [ "$stamp" -nt "$here/tools/windows/iconv.h" ]; then
    return 0
  fi
  "${nice_cmd[@]}" cc -std=c99 -D_DEFAULT_SOURCE -Wall -Wextra -o "$deps/obj/iconv_test" \
    "$here/tools/windows/iconv_test.c"
  "$deps/obj/iconv_test" >&2
  local objs=() pids=() f
  for f in "${uemf_sources[@]}" iconv; do
    local src="$dir/$f.c"
    [ "$f" = iconv ] && src="$here/tools/windows/iconv.c"
    obj="$deps/obj/uemf/$f.o"
    objs+=("$obj")
    "${nice_cmd[@]}" x86_64-w64-mingw32-gcc-posix -std=c99 -O2 -I"$here/tools/windows" -I"$dir" \
      -c "$src" -o "$obj" &
    pids+=($!)
    # Two at a time.
    if [ ${#pids[@]} -ge "$jobs" ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
  done
  for f in "${pids[@]}"; do wait "$f"; done
  rm -f "$stamp"
  x86_64-w64-mingw32-gcc-ar-posix rcs "$stamp" "${objs[@]}"
  cp "$dir"/uemf*.h "$dir"/uwmf*.h "$dir"/upmf*.h "$deps/include/"
  log "libUEMF built in $(elapsed "$t0")"
}

# --- GoogleTest ----------------------------------------------------------------------------
build_gtest() {
  local t0
  t0=$(date +%s)
  if [ -f "$deps/lib/cmake/GTest/GTestConfig.cmake" ] && [ -f "$deps/lib/libgtest_main.a" ]; then
    return 0
  fi
  if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
    log "/usr/src/googletest is missing (package googletest)"
    exit 1
  fi
  "${nice_cmd[@]}" cmake -S /usr/src/googletest -B "$deps/obj/googletest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF \
    "${launcher[@]}" >/dev/null
  "${nice_cmd[@]}" cmake --build "$deps/obj/googletest" -j"$jobs"
  cmake --install "$deps/obj/googletest" >/dev/null
  log "GoogleTest built in $(elapsed "$t0")"
}

t_deps=$(date +%s)
build_uemf
build_gtest
log "dependencies ready in $(elapsed "$t_deps")"
[ "$stop_after" = deps ] && exit 0

# --- The project ---------------------------------------------------------------------------
# No Qt on the Windows side yet: the converter writes EMF only.
configure() {
  "${nice_cmd[@]}" cmake -S "$here" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DPLOTMINT_DEPS_PREFIX="$deps" \
    -DCMAKE_BUILD_TYPE=Release \
    -DPLOTMINT_EXPORT=OFF -DPLOTMINT_GUI=OFF -DPLOTMINT_TESTS=ON \
    "${launcher[@]}" >/dev/null
}

# What the cross build is for; each is reported as built or not.
targets=(
  plotmint_records plotmint_metafile plotmint_color plotmint_text plotmint_graph plotmint_core
  plotmint_cli plotmint-convert
  test_platform test_records test_metafile test_color test_text test_graph test_app
  clipboard_check clipboard_put playback_check
)

t_build=$(date +%s)
configure
# A name the project no longer has would make ninja build nothing at all.
known=$(ninja -C "$build" -t targets all | cut -d: -f1)
present=()
for t in "${targets[@]}"; do
  if grep -qx "$t" <<<"$known"; then present+=("$t"); else log "no target $t in the project"; fi
done
targets=("${present[@]}")
# What each target makes; removed first, so a library or program left from an earlier build
# is never taken for one that builds now (ninja links them again from the objects it has).
artifact() {
  if [ -f "$build/bin/$1.exe" ] || [[ "$1" == test_* || "$1" == *_check || "$1" == *_put || "$1" == *-convert ]]; then
    echo "$build/bin/$1.exe"
  else
    find "$build" -path "$deps" -prune -o -name "lib$1.a" -print | head -n 1
  fi
}
for t in "${targets[@]}"; do
  a=$(artifact "$t")
  [ -n "$a" ] && rm -f "$a"
done
# -k 0: one source that does not compile yet must not stop the others.
build_log="$build/build.log"
if "${nice_cmd[@]}" ninja -C "$build" -k 0 -j"$jobs" "${targets[@]}" >"$build_log" 2>&1; then
  log "everything built in $(elapsed "$t_build")"
else
  log "built what compiles in $(elapsed "$t_build"); the errors are in $build_log:"
  grep -E '^FAILED: |: (fatal )?error: ' "$build_log" | sed 's/^/  /' >&2 || true
fi
built=() missing=()
for t in "${targets[@]}"; do
  a=$(artifact "$t")
  if [ -n "$a" ] && [ -f "$a" ]; then built+=("$t"); else missing+=("$t"); fi
done
log "built: ${built[*]:-none}"
log "not built: ${missing[*]:-none}"
[ "$run_tests" -eq 1 ] || exit 0

# --- Under Wine ----------------------------------------------------------------------------
# A prefix of our own, made once; no display needed (the clipboard lives in the wineserver,
# which stays up for the whole test run). The font replacements give GDI the metric twins of
# the faces our pictures name, as fontconfig does for the Linux programs.
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine_cmd=(wine)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  t0=$(date +%s)
  "${nice_cmd[@]}" wine wineboot -i >/dev/null 2>&1
  wineserver -w
  for pair in "Arial=Liberation Sans" "Times New Roman=Liberation Serif" "Courier New=Liberation Mono" \
              "Century=C059"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${pair%%=*}" /t REG_SZ /d "${pair#*=}" /f \
      >/dev/null 2>&1
  done
  wineserver -w
  log "Wine prefix made in $(elapsed "$t0")"
fi
# Wine's own Symbol maps by Unicode only, and GDI draws a metafile's U+F0xx Symbol text as
# boxes with it; one laid out like Windows' Symbol (in the prefix's Fonts, found first).
symbol_font="$WINEPREFIX/drive_c/windows/Fonts/symbol.ttf"
if [ ! -s "$symbol_font" ]; then
  /usr/bin/python3 "$here/tools/windows/make_symbol_font.py" "$symbol_font.tmp" >&2
  # Bytes of the Symbol encoding that pictures use, each at U+F000 + byte, and nothing that
  # GDI could take for a Unicode font.
  /usr/bin/python3 - "$symbol_font.tmp" <<'PY'
import sys
from fontTools.ttLib import TTFont
f = TTFont(sys.argv[1])
tables = {(t.platformID, t.platEncID): t.cmap for t in f["cmap"].tables}
assert list(tables) == [(3, 0)], tables.keys()
want = {0xF061: "alpha", 0xF062: "beta", 0xF053: "Sigma", 0xF0A3: "lessequal",
        0xF0B1: "plusminus", 0xF0E5: "summation", 0xF0B6: "partialdiff", 0xF031: "one"}
got = {c: tables[(3, 0)].get(c) for c in want}
assert got == want, got
assert f["OS/2"].ulCodePageRange1 & (1 << 31), "symbol code page bit"
PY
  mv "$symbol_font.tmp" "$symbol_font"
fi
# One server for the whole run, ours alone: the clipboard checks need it to outlive
# clipboard_put.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT

# A target that did not build is a failure of the test run, not something to pass over.
failures=${#missing[@]}
passed=0 skipped=0
for t in "${built[@]}"; do
  case "$t" in test_*) ;; *) continue ;; esac
  t0=$(date +%s)
  status=0
  (cd "$build" && "${nice_cmd[@]}" "${wine_cmd[@]}" "bin/$t.exe" --gtest_brief=1) >"$build/$t.log.tmp" 2>&1 || status=$?
  # The programs' text streams end their lines in \r\n.
  tr -d '\r' <"$build/$t.log.tmp" >"$build/$t.log" && rm -f "$build/$t.log.tmp"
  if [ "$status" -eq 0 ]; then
    log "$t passed under Wine in $(elapsed "$t0"): $(grep -E '^\[  (PASSED|SKIPPED) +\]' "$build/$t.log" | tr '\n' ' ')"
    n=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\./\1/p' "$build/$t.log" | head -n 1)
    passed=$((passed + ${n:-0}))
    n=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}\./\1/p' "$build/$t.log" | head -n 1)
    skipped=$((skipped + ${n:-0}))
    # Each skip with the reason the test gave (the line after "FILE:LINE: Skipped").
    grep -A1 -E ': Skipped$' "$build/$t.log" | grep -vE '^--$' | paste - - | sed "s/^/  skipped: /" >&2 || true
  else
    failures=$((failures + 1))
    log "$t FAILED under Wine in $(elapsed "$t0"); see $build/$t.log"
    grep -E '^\[  FAILED  \]' "$build/$t.log" | sed 's/^/  /' >&2 || true
  fi
done

# The Win32 checks on EMF files of libUEMF's source package (made by other writers than ours):
# a picture put on the clipboard reads back byte for byte, a different file is told apart,
# and GDI plays a picture into a bitmap of the asked size.
uemf_dir=$(find "$deps/src" -maxdepth 1 -type d -name 'libuemf-*' | head -n 1)
sample="$uemf_dir/test_libuemf_ref.emf"
other="$uemf_dir/test_libuemf_ref30.emf"
check() {  # name expected-status command...
  local name=$1 want=$2 got=0
  shift 2
  (cd "$build" && "${wine_cmd[@]}" "$@") >"$build/$name.log" 2>&1 || got=$?
  if [ "$got" -eq "$want" ]; then
    log "$name: status $got as expected"
  else
    failures=$((failures + 1))
    log "$name FAILED: status $got, expected $want; see $build/$name.log"
  fi
}
if [[ " ${built[*]} " == *" clipboard_put "* && " ${built[*]} " == *" clipboard_check "* ]]; then
  check clipboard_put 0 bin/clipboard_put.exe "$sample"
  check clipboard_same 0 bin/clipboard_check.exe "$sample"
  check clipboard_other 1 bin/clipboard_check.exe "$other"
fi
if [[ " ${built[*]} " == *" playback_check "* ]]; then
  # Wine 8.0's gdi32 crashes on some records of test_libuemf_ref.emf at some sizes; the map
  # mode sample (two letters and a colour square on yellow) plays every time.
  picture="$uemf_dir/test_mm_text_ref.emf"
  rm -f "$build/playback.bmp"
  check playback 0 bin/playback_check.exe "$picture" playback.bmp 320 240
  # 54 header bytes, then 240 rows of 320 * 3 bytes (a multiple of 4, so no padding), and
  # the picture drawn: most of it is the sample's yellow, not the white the bitmap starts as.
  if ! python3 - "$build/playback.bmp" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
assert d[:2] == b"BM" and len(d) == 54 + 320 * 3 * 240, "size"
assert struct.unpack_from("<iiHH", d, 18) == (320, 240, 1, 24), "header"
px = d[54:]
white = sum(1 for i in range(0, len(px), 3) if px[i:i + 3] == b"\xff\xff\xff")
assert white < 0.5 * 320 * 240, "mostly white: nothing drawn"
PY
  then
    failures=$((failures + 1))
    log "playback: $build/playback.bmp is not the picture drawn on 320 x 240"
  fi
  check playback_bad_size 2 bin/playback_check.exe "$picture" playback.bmp 0 240
  check playback_not_emf 2 bin/playback_check.exe "$here/README.md" playback.bmp 32 32
fi
# --- The converter under Wine against the Linux one ---------------------------------------
# Every example and the edge cases under tests/data/graphs, in one --output-dir run per
# setting on each side (one Wine start each): the same exit status, the same files, and
# each EMF byte for byte the Linux converter's. Explicit settings besides the defaults, the
# same on both sides: a smaller display and each Hershey choice move every coordinate and
# font height.
graphs=("$here"/examples/*.g "$here"/tests/data/graphs/*.g)
settings=(
  ""
  "--display 344,194,1366,768 --hershey 1 --vhline 1"
  "--display 600,340,2560,1440 --hershey 2 --vhline 2 --widths 2,4,6,8,20"
)
work="$build/wine-checks"
rm -rf "$work"
mkdir -p "$work"
if [ ! -x "$linux_convert" ]; then
  failures=$((failures + 1))
  log "no Linux converter at $linux_convert to compare with (build it first, or name the build with --linux-build)"
elif [[ " ${built[*]} " != *" plotmint-convert "* ]]; then
  log "plotmint-convert.exe did not build; no conversions compared"
else
  t0=$(date +%s)
  compared=0 differing=0
  for i in "${!settings[@]}"; do
    # shellcheck disable=SC2206  # the settings are words
    opts=(${settings[$i]})
    for side in linux win; do mkdir -p "$work/convert-$i/$side"; done
    linux_status=0 win_status=0
    (cd "$work/convert-$i/linux" && "${nice_cmd[@]}" "$linux_convert" -q "${opts[@]}" -d out "${graphs[@]}") \
      >"$work/convert-$i/linux.log" 2>&1 || linux_status=$?
    (cd "$work/convert-$i/win" && "${nice_cmd[@]}" "${wine_cmd[@]}" "$build/bin/plotmint-convert.exe" -q "${opts[@]}" \
      -d out "${graphs[@]}") >"$work/convert-$i/win.log" 2>&1 || win_status=$?
    if [ "$linux_status" -ne "$win_status" ]; then
      failures=$((failures + 1))
      log "convert (${settings[$i]:-defaults}): exit status $win_status under Wine, $linux_status on Linux"
    fi
    # The outcome line of each graph file, the same on both sides.
    if ! cmp -s <(grep -o ': [^ ]*\.g: [a-z].*' "$work/convert-$i/linux.log" | sed 's|to out/.*|to out|') \
                <(tr -d '\r' <"$work/convert-$i/win.log" | grep -o ': [^ ]*\.g: [a-z].*' | sed 's|to out[/\\].*|to out|'); then
      failures=$((failures + 1))
      log "convert (${settings[$i]:-defaults}): the outcome lines differ; see $work/convert-$i/*.log"
    fi
    if ! cmp -s <(ls "$work/convert-$i/linux/out") <(ls "$work/convert-$i/win/out"); then
      failures=$((failures + 1))
      log "convert (${settings[$i]:-defaults}): different files written: $(ls "$work/convert-$i/linux/out" | tr '\n' ' ')/ $(ls "$work/convert-$i/win/out" | tr '\n' ' ')"
    fi
    for f in "$work/convert-$i/linux/out"/*.emf; do
      compared=$((compared + 1))
      if ! cmp -s "$f" "$work/convert-$i/win/out/$(basename "$f")"; then
        differing=$((differing + 1))
        failures=$((failures + 1))
        log "convert (${settings[$i]:-defaults}): $(basename "$f") differs from the Linux converter's"
      fi
    done
  done
  log "converter: $compared EMFs of ${#graphs[@]} graph files x ${#settings[@]} settings compared with Linux, $differing differ, in $(elapsed "$t0")"
fi

# --- The converter's refusals and failures, against the Linux one ---------------------------
# Usage errors, inputs that are no graph file and outputs that cannot be written: the same
# exit status on both sides, the same words for a usage error, and an input that doubles
# as the output left as it was. Paths and system error texts differ, so other failures are
# compared by status only. Each case is one Wine start.
if [ -x "$linux_convert" ] && [[ " ${built[*]} " == *" plotmint-convert "* ]]; then
  t0=$(date +%s)
  cases=(
    "--bogus" "--widths 1,2,3,4" "--widths 1,2,3,4,x" "--vhline 3" "--hershey a" "--vhline-pen 1,2,3"
    "--display 0,1,1,1" "-o" "a.g b.g" "-o x.svg -d out a.g" "-d out" "--quiet=yes a.g"
    "--dpi 300 --width 800 a.g" "-f gif a.g"
    "missing.g" "folder.g" "junk.g" "graph.g -o no-such-folder/x.emf" "graph.g -o graph.g" "-d graph.g graph.g"
    "graph.g -f svg -o x.svg" "graph.g -f png -o x.png"
  )
  refused=0
  for side in linux win; do
    mkdir -p "$work/refuse/$side/folder.g"
    cp "$here/examples/graph.g" "$work/refuse/$side/"
    printf '%%PDF-1.4 3 0 0 2 100 200' >"$work/refuse/$side/junk.g"
  done
  for c in "${cases[@]}"; do
    # shellcheck disable=SC2206  # the case is words
    args=($c)
    ls_=0 ws=0
    (cd "$work/refuse/linux" && "$linux_convert" -q "${args[@]}") >"$work/refuse/linux.log" 2>&1 || ls_=$?
    (cd "$work/refuse/win" && "${wine_cmd[@]}" "$build/bin/plotmint-convert.exe" -q "${args[@]}") \
      >"$work/refuse/win.raw" 2>&1 || ws=$?
    tr -d '\r' <"$work/refuse/win.raw" >"$work/refuse/win.log"
    refused=$((refused + 1))
    # PNG is not in the Windows build: status 1 there, 0 on Linux.
    [ "$c" = "graph.g -f png -o x.png" ] && [ "$ls_" -eq 0 ] && ls_=1
    if [ "$ws" -ne "$ls_" ]; then
      failures=$((failures + 1))
      log "refusals: '$c': status $ws under Wine, $ls_ on Linux; see $work/refuse/win.log"
    elif [ "$ls_" -eq 2 ] && ! cmp -s "$work/refuse/linux.log" "$work/refuse/win.log"; then
      failures=$((failures + 1))
      log "refusals: '$c': the usage message differs: $(head -n 1 "$work/refuse/win.log")"
    fi
  done
  if ! cmp -s "$here/examples/graph.g" "$work/refuse/win/graph.g"; then
    failures=$((failures + 1)); log "refusals: a run under Wine wrote over its graph file"
  fi
  log "refusals: $refused cases compared with Linux in $(elapsed "$t0")"
fi

# --- --copy --------------------------------------------------------------------------------
# What the converter leaves on the clipboard is the metafile it wrote, byte for byte; a
# failed run leaves the clipboard alone; --copy is refused where it makes no sense.
if [[ " ${built[*]} " == *" plotmint-convert "* && " ${built[*]} " == *" clipboard_check "* ]]; then
  t0=$(date +%s)
  copy="$work/copy"
  mkdir -p "$copy"
  cp "$here/examples/graph.g" "$here/examples/text.g" "$copy/"
  wconvert() { (cd "$copy" && "${wine_cmd[@]}" "$build/bin/plotmint-convert.exe" "$@"); }
  expect() {  # name expected-status command...: the status, and the log kept
    local name=$1 want=$2 got=0
    shift 2
    "$@" >"$copy/$name.log" 2>&1 || got=$?
    tr -d '\r' <"$copy/$name.log" >"$copy/$name.txt"
    if [ "$got" -ne "$want" ]; then
      failures=$((failures + 1))
      log "copy: $name FAILED: status $got, expected $want; see $copy/$name.txt"
      return 1
    fi
  }
  wcheck() { (cd "$copy" && "${wine_cmd[@]}" "$build/bin/clipboard_check.exe" "$@"); }
  fail() { failures=$((failures + 1)); log "copy: $*"; }
  # graph.emf in the current folder, no output named.
  if expect emf 0 wconvert -q --copy graph.g; then
    expect emf_check 0 wcheck graph.emf || true
    grep -qx 'plotmint-convert: graph.emf: copied to the clipboard' "$copy/emf.txt" ||
      fail "no line saying graph.emf was copied; see $copy/emf.txt"
  fi
  # An SVG: the clipboard gets the private metafile it was played from, which is gone
  # afterwards; it equals the EMF of the same graph file.
  mv "$copy/graph.emf" "$copy/graph-of-graph.emf" 2>/dev/null || true
  if expect svg 0 wconvert -q --copy -o text.svg text.g; then
    if [ -e "$copy/graph.emf" ] || ! [ -s "$copy/text.svg" ]; then
      fail "the SVG run left graph.emf behind or wrote no SVG"
    fi
    if expect text_emf 0 wconvert -q -o text.emf text.g; then
      expect svg_check 0 wcheck text.emf || true
      # A run that fails copies nothing: the clipboard still holds text.emf's picture.
      expect missing 1 wconvert -q --copy missing.g && expect missing_check 0 wcheck text.emf || true
      # And the check tells another picture apart.
      [ -f "$copy/graph-of-graph.emf" ] && { expect other_differs 1 wcheck graph-of-graph.emf || true; }
    fi
  fi
  if expect with_output_dir 2 wconvert --copy -d out text.g; then
    grep -q -- '--copy cannot be used with --output-dir' "$copy/with_output_dir.txt" ||
      fail "--copy with --output-dir refused with another message; see $copy/with_output_dir.txt"
  fi
  expect with_value 2 wconvert --copy=yes text.g || true
  # The Linux converter has no such option, and its help neither --copy nor the note.
  if expect linux_refuses 2 "$linux_convert" --copy text.g; then
    grep -q "unknown option '--copy'" "$copy/linux_refuses.txt" ||
      fail "the Linux converter refused --copy with another message; see $copy/linux_refuses.txt"
  fi
  if expect win_help 0 wconvert --help && expect linux_help 0 "$linux_convert" --help; then
    for text in "--copy" "This build writes EMF and SVG only"; do
      if ! grep -q -- "$text" "$copy/win_help.txt" || grep -q -- "$text" "$copy/linux_help.txt"; then
        fail "'$text' should be in the Windows help only"
      fi
    done
  fi
  # With --watch each conversion's picture replaces the clipboard's: a watching converter
  # copies graph.g's picture, then, once the file is replaced by text.g's records, that one.
  cp "$copy/graph.g" "$copy/watched.g"
  (cd "$copy" && exec "${wine_cmd[@]}" "$build/bin/plotmint-convert.exe" -q --watch --copy -o watched.emf watched.g) \
    >"$copy/watch.log" 2>&1 &
  watcher=$!
  wait_for_clipboard() {  # FILE: until the clipboard holds it, 30 s at most
    local n
    for n in $(seq 60); do
      if [ -s "$1" ] && wcheck "$1" >/dev/null 2>&1; then return 0; fi
      sleep 0.5
    done
    return 1
  }
  if ! wait_for_clipboard "$copy/graph-of-graph.emf"; then
    fail "a watching converter did not copy its first picture; see $copy/watch.log"
  else
    cp "$copy/text.g" "$copy/watched.g.new" && mv "$copy/watched.g.new" "$copy/watched.g"
    wait_for_clipboard "$copy/text.emf" ||
      fail "a watching converter did not copy the picture of the changed file; see $copy/watch.log"
  fi
  kill "$watcher" 2>/dev/null || true
  wait "$watcher" 2>/dev/null || true
  log "--copy checks done in $(elapsed "$t0")"
fi

# --- GDI's playback of the examples ---------------------------------------------------------
# Each example's EMF, played by PlayEnhMetaFile into a bitmap of the size of the Linux
# converter's PNG of it (at 40 dpi, as scripts/compare-lo.sh uses), scored against that PNG;
# the limits are checked at every run against GDI's playback broken on purpose (each of
# which must fail). Limits: see docs/windows-build.md for the figures they were set from.
max_grey=${PLAYBACK_MAX_GREY:-1.2}
min_ink=${PLAYBACK_MIN_INK:-0.97}
if [ -x "$linux_convert" ] && [[ " ${built[*]} " == *" playback_check "* ]]; then
  t0=$(date +%s)
  play="$work/playback"
  mkdir -p "$play/white-tables"
  # Tables that paint every fill white: the "fills missing" fault.
  cp "$build"/bin/*.ktc "$build"/bin/*.klc "$play/white-tables/"
  for t in "$play/white-tables"/*.ktc; do
    printf 'color\nno.   r   g   b\n  0 255 255 255\n120 255 255 255\n' >"$t"
  done
  scores=()
  for example in "$here"/examples/*.g; do
    name=$(basename "$example" .g)
    (cd "$play" && "$linux_convert" -q "$example" -o "$name.emf" && "$linux_convert" -q "$example" --dpi 40 -o "$name.png" &&
      "$linux_convert" -q "$example" --table-dir "$play/white-tables" -o "$name-nofill.emf") >"$play/$name.log" 2>&1 || {
      failures=$((failures + 1)); log "playback: the Linux converter failed on $name; see $play/$name.log"; continue; }
    read -r w h < <(/usr/bin/python3 -c 'import sys; from PIL import Image; print(*Image.open(sys.argv[1]).size)' "$play/$name.png")
    nofill=-
    for variant in "$name" "$name-nofill"; do
      [ "$variant" = "$name-nofill" ] && cmp -s "$play/$name.emf" "$play/$name-nofill.emf" && continue
      if ! (cd "$play" && "${wine_cmd[@]}" "$build/bin/playback_check.exe" "$variant.emf" "$variant.bmp" "$w" "$h") \
          >>"$play/$name.log" 2>&1; then
        failures=$((failures + 1)); log "playback: GDI could not play $variant.emf; see $play/$name.log"
      fi
      [ "$variant" = "$name-nofill" ] && nofill="$play/$variant.bmp"
    done
    scores+=("$name" "$play/$name.png" "$play/$name.bmp" "$nofill")
  done
  if [ ${#scores[@]} -gt 0 ] && ! /usr/bin/python3 "$here/tools/windows/compare_playback.py" "$max_grey" "$min_ink" \
      "${scores[@]}" >"$play/scores.txt" 2>&1; then
    failures=$((failures + 1))
    log "playback: a picture differs from our PNG beyond the limits, or a broken one passed:"
  fi
  sed 's/^/  /' "$play/scores.txt" >&2
  log "playback of the examples done in $(elapsed "$t0")"
fi

# --- The package ---------------------------------------------------------------------------
# The zip holds what scripts/package-windows.sh says, and its converter, run from where the
# zip was unpacked, finds the tables beside it and draws the Linux converter's picture.
if [ -x "$linux_convert" ] && [[ " ${built[*]} " == *" plotmint-convert "* ]]; then
  t0=$(date +%s)
  pkg="$work/package"
  mkdir -p "$pkg"
  if ! "$here/scripts/package-windows.sh" "$build" >"$pkg/package.log" 2>&1; then
    failures=$((failures + 1)); log "package: package-windows.sh failed; see $pkg/package.log"
  else
    zip=$(sed -n 's/^package-windows: wrote //p' "$pkg/package.log")
    want="plotmint-convert.exe $(cd "$here/data" && ls ./*.ktc ./*.klc | sed 's|^\./||' | tr '\n' ' ')README.md LICENSE"
    if ! /usr/bin/python3 - "$zip" "$pkg/unpacked" "$want" <<'PY'
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
top = {n.split("/")[0] for n in names}
base = [n.split("/", 1)[1] for n in names]
want = sys.argv[3].split()
assert len(top) == 1 and sorted(base) == sorted(want), (names, want)
assert z.testzip() is None
z.extractall(sys.argv[2])
PY
    then
      failures=$((failures + 1)); log "package: $zip does not hold what it should"
    else
      folder=$(find "$pkg/unpacked" -mindepth 1 -maxdepth 1 -type d)
      mkdir -p "$pkg/run"
      cp "$here/examples/graph.g" "$pkg/run/"
      (cd "$pkg/run" && "${wine_cmd[@]}" "$folder/plotmint-convert.exe" -q graph.g -o win.emf &&
        "$linux_convert" -q graph.g -o linux.emf) >"$pkg/run.log" 2>&1 || true
      if ! cmp -s "$pkg/run/win.emf" "$pkg/run/linux.emf" ||
         ! grep -q 'tone-demo.ktc' "$pkg/run.log"; then
        failures=$((failures + 1)); log "package: the unpacked converter did not draw the Linux picture with its tables; see $pkg/run.log"
      else
        log "package: $(basename "$zip") holds $(wc -w <<<"$want") files; its converter draws the Linux picture, in $(elapsed "$t0")"
      fi
    fi
  fi
fi

log "core tests under Wine: $passed passed, $skipped skipped"

log "done in $(elapsed "$t_start") (packages, dependencies, build, tests and checks under Wine); $failures failed"
[ "$failures" -eq 0 ]
