#!/usr/bin/env bash
# Converts every example and every graph file under tests/data with each Hershey choice
# and each vhline mode, and prints the sha256 of every picture written. Speed work must
# leave this output unchanged: save it before a change and diff it after.
#
#   scripts/emf-checksums.sh [BUILD_DIR [MORE.g ...]]     (default: build)
#
# Further graph files (for example generated benchmark files) are checked after the
# examples and the test data.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
convert=$build/bin/plotmint-convert
if [[ ! -x $convert ]]; then
    echo "emf-checksums: $convert not found; build first" >&2
    exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

files=()
while IFS= read -r f; do files+=("$f"); done < <(find "$here"/examples "$here"/tests/data -name '*.g' -type f | LC_ALL=C sort)
files+=("${@:2}")
for f in "${files[@]}"; do
    name=${f#"$here"/}
    for h in 0 1 2; do
        for v in 0 1 2; do
            out=$work/graph.emf
            rm -f "$out"
            status=0
            (cd "$work" && "$convert" --hershey "$h" --vhline "$v" -o "$out" "$f" 2>"$work/log") || status=$?
            if [[ -f $out ]]; then
                sum=$(sha256sum "$out" | cut -d' ' -f1)
            else
                sum=no-picture
            fi
            # The log lines matter as much as the picture: hash them too.
            log=$(grep -v '^open ' "$work/log" | sha256sum | cut -c1-16)
            printf '%s  %s hershey=%s vhline=%s exit=%s log=%s\n' "$sum" "$name" "$h" "$v" "$status" "$log"
        done
    done
done
