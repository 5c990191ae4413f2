#!/usr/bin/env bash
# Converts every example, every graph file under tests/data and a few generated files
# with each Hershey choice and each vhline mode, and prints the sha256 of every picture
# written with its exit status and a digest of its log. A change that must not alter any
# picture leaves this output unchanged.
#
#   scripts/emf-checksums.sh [--check] [BUILD_DIR [MORE.g ...]]     (default: build)
#
# --check compares the output with the committed baseline, tests/data/emf-checksums.txt,
# and fails on any difference. The generated files (line, fill and text mixes, small and
# above the 1 MiB from which the reader keeps a binary record file) come from
# bench/gen_graph.cpp with fixed seeds, so they are the same bytes on every machine.
# Further graph files are checked after them (not with --check).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
check=0
if [[ ${1:-} == --check ]]; then
    check=1
    shift
fi
build=$(cd "${1:-$here/build}" && pwd)
convert=$build/bin/plotmint-convert
if [[ ! -x $convert ]]; then
    echo "emf-checksums: $convert not found; build first" >&2
    exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/generated"
"${CXX:-c++}" -O2 -std=c++20 -o "$work/gen_graph" "$here/bench/gen_graph.cpp"
for mix in line fill text; do
    "$work/gen_graph" --mix "$mix" --size-mb 0.15 --seed 7 --out "$work/generated/$mix-small.g"
    "$work/gen_graph" --mix "$mix" --size-mb 1.5 --seed 11 --out "$work/generated/$mix-large.g"
done
# The generated files name the demo tables; they are looked for beside the converter.

files=()
while IFS= read -r f; do files+=("$f"); done < <(
    find "$here"/examples "$here"/tests/data -name '*.g' -type f | LC_ALL=C sort
    find "$work/generated" -name '*.g' -type f | LC_ALL=C sort)
[[ $check == 1 ]] || files+=("${@:2}")

run() {
    for f in "${files[@]}"; do
        name=${f#"$here"/}
        name=${name#"$work"/}
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
                # The log lines matter as much as the picture: hash them too (without the
                # lines that name paths, which differ from machine to machine).
                log=$(grep -v '^open ' "$work/log" | sha256sum | cut -c1-16)
                printf '%s  %s hershey=%s vhline=%s exit=%s log=%s\n' "$sum" "$name" "$h" "$v" "$status" "$log"
            done
        done
    done
}

if [[ $check == 0 ]]; then
    run
    exit 0
fi
run >"$work/now.txt"
if diff -u "$here/tests/data/emf-checksums.txt" "$work/now.txt"; then
    echo "emf-checksums: $(wc -l <"$work/now.txt") pictures as in the baseline"
else
    echo "emf-checksums: pictures differ from tests/data/emf-checksums.txt" >&2
    exit 1
fi
