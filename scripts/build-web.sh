#!/usr/bin/env bash
# Builds the Qt-free core (records, metafile, text, color, graph, app/core) for the browser
# with Debian's emscripten, into build-web/ (or $PLOTMINT_WEB_BUILD). Installs what is
# missing first (as root), and builds libUEMF from its Debian source package with emcc,
# since Debian ships it only for the host.
#
# Usage: scripts/build-web.sh [--keep-going]
#   --keep-going  build every core object that compiles and list the ones that do not,
#                 instead of stopping at the first error; the exit status still fails.
#
# Times of each step go to build-web/timings.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${PLOTMINT_WEB_BUILD:-$here/build-web}
keep_going=0
for arg in "$@"; do
  case "$arg" in
    --keep-going) keep_going=1 ;;
    *) echo "build-web: unknown argument $arg" >&2; exit 2 ;;
  esac
done
mkdir -p "$out"
timings=$out/timings.txt
: >"$timings"
step_start() { step_t0=${EPOCHREALTIME/./}; }
step_end() {
  local us=$(( ${EPOCHREALTIME/./} - step_t0 ))
  printf '%-28s %4d.%01d s\n' "$1" $((us / 1000000)) $((us / 100000 % 10)) | tee -a "$timings"
}

apt_get() { apt-get -o DPkg::Lock::Timeout=900 -y -q "$@"; }

# --- Packages -------------------------------------------------------------------------
# The machine may bring its own node and npm (not Debian's); those serve as they are, and
# Debian's npm would only fight them over /usr/bin/npm.
step_start
need=(emscripten chromium dpkg-dev ccache ninja-build cmake)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "build-web: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # An old package list may not know the current versions: update once and try again.
  apt_get install --no-install-recommends "${missing[@]}" || {
    apt_get update
    apt_get install --no-install-recommends "${missing[@]}"
  }
fi
step_end "packages"

# Debian's emscripten loads its JavaScript helpers (acorn and friends) from Debian's node
# module folder, which a node from elsewhere does not search.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
# Debian ships the system libraries prebuilt in a frozen cache, which stops emcc with an
# error as soon as a setting asks for a variant it lacks. A copy of it in the build folder
# (a few seconds) lets emcc build such variants itself; an empty EM_FROZEN_CACHE lifts the
# freeze (the variable is read as a string, so "0" would not).
export EM_CACHE=$out/em-cache
export EM_FROZEN_CACHE=
# emcc empties a cache it did not see built by the same clang and rebuilds every library
# (many minutes): a new clang or emscripten package takes a fresh copy instead.
em_version="$(dpkg-query -W -f='${Version}' emscripten) $(dpkg-query -W -f='${Version}' clang-14 2>/dev/null || true)"
step_start
if [ "$(cat "$EM_CACHE/plotmint-seed.stamp" 2>/dev/null)" != "$em_version" ]; then
  rm -rf "$EM_CACHE"
  cp -a /usr/share/emscripten/cache "$EM_CACHE"
  echo "$em_version" >"$EM_CACHE/plotmint-seed.stamp"
fi
step_end "emscripten cache"
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work}

# --- libUEMF for wasm -----------------------------------------------------------------
deps=$out/deps
uemf_stamp=$deps/uemf.stamp
step_start
if [ ! -f "$uemf_stamp" ] || [ "$(cat "$uemf_stamp")" != "src:$(apt-cache showsrc libuemf 2>/dev/null | sed -n 's/^Version: //p' | head -n1)" ]; then
  # apt-get source needs source indexes; add "deb-src" to each stanza of the deb822 list
  # once, and fetch the indexes only when they are missing.
  if ! apt-cache showsrc libuemf 2>/dev/null | grep -q '^Package: libuemf'; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "build-web: libUEMF's source needs a deb-src entry, and adding one needs root" >&2
      exit 1
    fi
    list=/etc/apt/sources.list.d/debian.sources
    if [ -f "$list" ] && ! grep -q '^Types:.*deb-src' "$list"; then
      sed -i 's/^Types: deb$/Types: deb deb-src/' "$list"
    fi
    apt_get update
  fi
  rm -rf "$out/uemf-src" "$deps"
  mkdir -p "$out/uemf-src" "$deps/lib" "$deps/include"
  (cd "$out/uemf-src" && apt-get source -q libuemf >/dev/null 2>"$out/uemf-src/apt-source.log") || {
    cat "$out/uemf-src/apt-source.log" >&2
    exit 1
  }
  src=$(find "$out/uemf-src" -mindepth 1 -maxdepth 1 -type d -name 'libuemf-*' | head -n1)
  # The files of the Debian package's shared library, with upstream's C flags; the test
  # programs and command-line tools stay out.
  objs=()
  for c in uemf.c uemf_endian.c uemf_utf.c uemf_print.c upmf.c upmf_print.c uwmf.c uwmf_endian.c uwmf_print.c uemf_safe.c; do
    nice -n 19 emcc -std=c99 -O2 -c "$src/$c" -I"$src" -o "$deps/lib/${c%.c}.o"
    objs+=("$deps/lib/${c%.c}.o")
  done
  emar rcs "$deps/lib/libuemf.a" "${objs[@]}"
  rm -f "${objs[@]}"
  cp "$src"/*.h "$deps/include/"
  echo "src:$(apt-cache showsrc libuemf | sed -n 's/^Version: //p' | head -n1)" >"$uemf_stamp"
fi
step_end "libuemf (emcc)"

# --- The core -------------------------------------------------------------------------
core_targets=(plotmint_records plotmint_metafile plotmint_color plotmint_text plotmint_graph plotmint_core plotmint-web)
step_start
nice -n 19 emcmake cmake -S "$here" -B "$out/core" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPLOTMINT_GUI=OFF -DPLOTMINT_EXPORT=OFF -DPLOTMINT_TESTS=OFF \
  -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
  -DUEMF_LIBRARY="$deps/lib/libuemf.a" -DUEMF_INCLUDE_DIR="$deps/include" >"$out/configure.log" 2>&1 || {
  cat "$out/configure.log" >&2
  exit 1
}
step_end "configure (emcmake)"

step_start
status=0
if [ "$keep_going" -eq 1 ]; then
  nice -n 19 cmake --build "$out/core" -j2 --target "${core_targets[@]}" -- -k 0 >"$out/build.log" 2>&1 || status=$?
  # One line per object that did not compile, and the first error of each.
  grep -E '^FAILED: ' "$out/build.log" | sed 's/^FAILED: /does not compile: /' >&2 || true
  grep -E 'error:' "$out/build.log" | sort -u >&2 || true
else
  nice -n 19 cmake --build "$out/core" -j2 --target "${core_targets[@]}" || status=$?
fi
step_end "core and module (emcc)"
if [ "$status" -ne 0 ]; then
  echo "build-web: timings in $timings"
  exit "$status"
fi

# --- The site --------------------------------------------------------------------------
# Everything the page needs, from this machine only: the page's files, the module, the
# tables the native build puts beside its programs and the examples, with a list of each
# (a static server cannot list a folder).
step_start
site=$out/site
rm -rf "$site.new"
mkdir -p "$site.new/tables" "$site.new/examples"
cp -a "$here/web/." "$site.new/"
cp "$out/core/bin/plotmint-core.js" "$out/core/bin/plotmint-core.wasm" "$site.new/"
json_list() {
  local first=1
  printf '['
  for f in "$@"; do
    [ "$first" -eq 1 ] || printf ','
    first=0
    printf '"%s"' "$f"
  done
  printf ']\n'
}
tables=()
for f in "$here"/data/*.ktc "$here"/data/*.klc; do
  [ -f "$f" ] || continue
  cp "$f" "$site.new/tables/"
  tables+=("$(basename "$f")")
done
json_list "${tables[@]}" >"$site.new/tables/index.json"
examples=()
for f in "$here"/examples/*.g; do
  cp "$f" "$site.new/examples/"
  examples+=("$(basename "$f")")
done
json_list "${examples[@]}" >"$site.new/examples/index.json"
rm -rf "$site"
mv "$site.new" "$site"
step_end "site"
echo "build-web: the site is in $site (serve it with: python3 -m http.server -d $site)"
echo "build-web: timings in $timings"
