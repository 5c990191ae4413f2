#!/usr/bin/env bash
# Packs the Windows converter as a zip that runs where it is unpacked:
#
#   scripts/package-windows.sh [BUILD_DIR]     (default: build-win)
#
# makes BUILD_DIR/plotmint-VERSION-win64.zip holding one folder plotmint-VERSION-win64/ with
# plotmint-convert.exe, the colour tables from data/ beside it (where the converter looks
# for its default tables), README.md and LICENSE. The .exe is linked statically
# (cmake/mingw-w64.cmake), so nothing else is needed on Windows.
#
# Exits 1 with a message, and writes nothing, when the .exe has not been built
# (scripts/build-windows.sh). The entries carry the time of the last commit, so the same
# tree packs to the same bytes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

build="$here/build-win"
for arg in "$@"; do
  case "$arg" in
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build=$(cd "$arg" && pwd) ;;
  esac
done

exe="$build/bin/plotmint-convert.exe"
if [ ! -f "$exe" ]; then
  echo "package-windows: $exe is not built yet (scripts/build-windows.sh builds what compiles); no package made" >&2
  exit 1
fi
if ! command -v python3 >/dev/null 2>&1; then
  echo "package-windows: python3 is needed to write the zip" >&2
  exit 1
fi

version=$(sed -n 's/^project(plotmint VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
if [ -z "$version" ]; then
  echo "package-windows: cannot read the version from CMakeLists.txt" >&2
  exit 1
fi
name="plotmint-$version-win64"
stamp=$(git -C "$here" log -1 --format=%ct 2>/dev/null || date +%s)

tables=()
for t in "$here"/data/*.ktc "$here"/data/*.klc; do
  [ -f "$t" ] && tables+=("$t")
done
if [ ${#tables[@]} -eq 0 ]; then
  echo "package-windows: no colour tables in $here/data" >&2
  exit 1
fi

out="$build/$name.zip"
python3 - "$out" "$name" "$stamp" "$exe" "${tables[@]}" "$here/README.md" "$here/LICENSE" <<'EOF'
import os, sys, time, zipfile
out, folder, stamp, files = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
# Zip times are local wall-clock fields from 1980 on; UTC keeps them the same everywhere.
when = max(time.gmtime(stamp)[:6], (1980, 1, 1, 0, 0, 0))
tmp = out + ".tmp"
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
    for path in files:
        info = zipfile.ZipInfo(folder + "/" + os.path.basename(path), date_time=when)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        with open(path, "rb") as f:
            z.writestr(info, f.read())
# A package is either whole or absent.
os.replace(tmp, out)
EOF
echo "package-windows: wrote $out"
