#!/usr/bin/env bash
# Compares plotmint-convert's PNG export of each example with LibreOffice's render of the
# same EMF, so a fault in the Qt playback (or in the metafile, which LibreOffice reads on its
# own) shows up as a difference a person would see. Run by hand; CI does not have LibreOffice.
#
#   scripts/compare-lo.sh [BUILD_DIR] [--calibrate] [--keep]
#
# BUILD_DIR holds bin/plotmint-convert (default: build). --calibrate also scores pictures
# broken on purpose (shifted, mirrored, scaled, fills missing), each of which must fail;
# --keep leaves the images in the work folder for a look.
#
# How: LibreOffice places the EMF on a page (its .odg export tells where); that rectangle is
# cut from its PNG and our PNG is scaled to the same size. Both become grey images. Two
# scores, each compared with a limit:
#   grey  mean absolute grey-level difference after a light blur, in percent of full scale;
#         catches wrong colours and fills that are missing or misplaced
#   ink   the share of dark pixels of either image that have a dark pixel of the other within
#         2 pixels (the smaller of the two ways); catches lines and text out of place
# Needs soffice, ImageMagick (convert, identify) and python3; skips when one is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

build="$here/build"
calibrate=0
keep=0
for arg in "$@"; do
  case "$arg" in
    --calibrate) calibrate=1 ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build=$(cd "$arg" && pwd) ;;
  esac
done

# The limits, calibrated with --calibrate: the real renders score well inside them, every
# broken render well outside. text.g has looser ones: LibreOffice sets Century and Symbol text
# at the cell height of the fonts that stand in for them (C059, Standard Symbols PS), larger
# than the Windows faces' cells the metafile's character advances were made for, so its
# letters there are bigger and run into each other; the other faces agree closely.
limits_for() {
  case "$1" in
    text) echo "4.0 0.65" ;;
    *) echo "${MAX_GREY:-1.2} ${MIN_INK:-0.95}" ;;
  esac
}

for tool in soffice convert identify python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "compare-lo: skipped: $tool is not installed" >&2
    exit 0
  fi
done
convert_bin="$build/bin/plotmint-convert"
if [ ! -x "$convert_bin" ]; then
  echo "compare-lo: $convert_bin not found; build first or name the build folder" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/plotmint-compare-lo.XXXXXX")
if [ "$keep" -eq 0 ]; then trap 'rm -rf "$work"' EXIT; fi
# A profile of its own, so a running LibreOffice neither blocks nor is disturbed.
lo_profile="file://$work/lo-profile"

# A tone table that paints every fill white: the "fills missing" fault.
white_tables="$work/white-tables"
mkdir -p "$white_tables"
cp "$build"/bin/*.ktc "$build"/bin/*.klc "$white_tables"/
for t in "$white_tables"/*.ktc; do
  printf 'color\nno.   r   g   b\n  0 255 255 255\n120 255 255 255\n' >"$t"
done

lo_render() {  # EMF -> PNG and ODG beside it
  (cd "$(dirname "$1")" && soffice -env:UserInstallation="$lo_profile" --headless \
      --convert-to png "$(basename "$1")" >/dev/null 2>&1 &&
    soffice -env:UserInstallation="$lo_profile" --headless \
      --convert-to odg "$(basename "$1")" >/dev/null 2>&1)
}

# The rectangle (x y w h, pixels of LibreOffice's PNG) where the picture was placed.
placement() {
  python3 - "$1" "$2" <<'EOF'
import re, sys, zipfile
odg, png_size = sys.argv[1], sys.argv[2].split()
z = zipfile.ZipFile(odg)
content, styles = z.read("content.xml").decode(), z.read("styles.xml").decode()
frame = re.search(r"<draw:frame[^>]*>", content).group(0)
def cm(name, text):
    return float(re.search(name + r'="([0-9.]+)cm"', text).group(1))
sx = int(png_size[0]) / cm("fo:page-width", styles)
sy = int(png_size[1]) / cm("fo:page-height", styles)
print(round(cm("svg:x", frame) * sx), round(cm("svg:y", frame) * sy),
      round(cm("svg:width", frame) * sx), round(cm("svg:height", frame) * sy))
EOF
}

# grey and ink scores of two grey images of one size (binary PGM).
score() {
  python3 - "$1" "$2" <<'EOF'
import sys
def pgm(path):
    data = open(path, "rb").read()
    parts, pos = [], 0
    while len(parts) < 4:
        while data[pos:pos + 1].isspace(): pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace(): end += 1
        parts.append(data[pos:end]); pos = end
    w, h = int(parts[1]), int(parts[2])
    return w, h, data[pos + 1:pos + 1 + w * h]
def blur(w, h, px):
    # 3 x 3 box blur, separable; edges keep their own value.
    rows = bytearray(px)
    for y in range(h):
        r = y * w
        for x in range(1, w - 1):
            rows[r + x] = (px[r + x - 1] + px[r + x] + px[r + x + 1]) // 3
    out = bytearray(rows)
    for y in range(1, h - 1):
        r = y * w
        for x in range(w):
            out[r + x] = (rows[r - w + x] + rows[r + x] + rows[r + w + x]) // 3
    return out
def dilate(w, h, mask, r):
    # A pixel is set when a set pixel lies within r in x and y (separable maximum).
    rows = bytearray(len(mask))
    for y in range(h):
        b = y * w
        line = mask[b:b + w]
        for x in range(w):
            if line[max(0, x - r):x + r + 1].count(1): rows[b + x] = 1
    out = bytearray(len(mask))
    for x in range(w):
        col = rows[x::w]
        for y in range(h):
            if col[max(0, y - r):y + r + 1].count(1): out[y * w + x] = 1
    return out
wa, ha, a = pgm(sys.argv[1])
wb, hb, b = pgm(sys.argv[2])
assert (wa, ha) == (wb, hb), "sizes differ"
ba, bb = blur(wa, ha, a), blur(wb, hb, b)
grey = 100.0 * sum(abs(x - y) for x, y in zip(ba, bb)) / (255.0 * len(ba))
ink_a = bytearray(1 if v < 200 else 0 for v in a)
ink_b = bytearray(1 if v < 200 else 0 for v in b)
near_a, near_b = dilate(wa, ha, ink_a, 2), dilate(wb, hb, ink_b, 2)
n_a, n_b = sum(ink_a), sum(ink_b)
a_in_b = sum(1 for x, y in zip(ink_a, near_b) if x and y) / max(1, n_a)
b_in_a = sum(1 for x, y in zip(ink_b, near_a) if x and y) / max(1, n_b)
print(f"{grey:.2f} {min(a_in_b, b_in_a):.3f}")
EOF
}

# Our PNG, scaled to LibreOffice's cut-out, as grey.
to_grey() {  # in.png WxH out.pgm [extra convert options...]
  local in=$1 size=$2 out=$3
  shift 3
  convert "$in" -background white -alpha remove -alpha off -resize "$size!" "$@" -colorspace Gray -depth 8 "$out"
}

verdict() {  # grey ink max_grey min_ink -> PASS/FAIL
  python3 -c "import sys; g, i, mg, mi = map(float, sys.argv[1:5]); print('PASS' if g <= mg and i >= mi else 'FAIL')" "$@"
}

printf '%-28s %7s %6s  %s\n' "picture" "grey %" "ink" "verdict"
failed=0
calibration_passed=0
for example in "$here"/examples/*.g; do
  name=$(basename "$example" .g)
  dir="$work/$name"
  mkdir -p "$dir"
  (cd "$dir" && "$convert_bin" -q "$example" -o "$name.emf" 2>/dev/null &&
    "$convert_bin" -q "$example" --dpi 40 -o ours.png 2>/dev/null)
  lo_render "$dir/$name.emf"
  read -r x y w h < <(placement "$dir/$name.odg" "$(identify -format '%w %h' "$dir/$name.png")")
  size="${w}x${h}"
  convert "$dir/$name.png" -background white -alpha remove -alpha off -crop "${w}x${h}+${x}+${y}" +repage \
    -colorspace Gray -depth 8 "$dir/lo.pgm"
  to_grey "$dir/ours.png" "$size" "$dir/ours.pgm"
  read -r max_grey min_ink < <(limits_for "$name")
  read -r grey ink < <(score "$dir/lo.pgm" "$dir/ours.pgm")
  v=$(verdict "$grey" "$ink" "$max_grey" "$min_ink")
  printf '%-28s %7s %6s  %s\n' "$name" "$grey" "$ink" "$v (grey <= $max_grey, ink >= $min_ink)"
  [ "$v" = PASS ] || failed=1

  if [ "$calibrate" -eq 1 ]; then
    # Broken on purpose; each must fail.
    (cd "$dir" && "$convert_bin" -q "$example" --table-dir "$white_tables" --dpi 40 -o nofill.png 2>/dev/null)
    declare -A broken=(
      ["shifted 20 px right"]="ours.png|-gravity west -splice 20x0 -gravity east -chop 20x0"
      ["shifted 20 px down"]="ours.png|-gravity north -splice 0x20 -gravity south -chop 0x20"
      ["mirrored top to bottom"]="ours.png|-flip"
      ["scaled to 95 %"]="ours.png|-resize 95% -gravity northwest -extent ${size}"
      ["fills missing"]="nofill.png|"
    )
    for fault in "shifted 20 px right" "shifted 20 px down" "mirrored top to bottom" "scaled to 95 %" "fills missing"; do
      if [ "$fault" = "fills missing" ] && cmp -s "$dir/nofill.png" "$dir/ours.png"; then
        printf '  %-26s %7s %6s  %s\n' "$fault" "-" "-" "(no fills in this picture)"
        continue
      fi
      recipe=${broken[$fault]}
      src=${recipe%%|*}
      ops=${recipe#*|}
      # shellcheck disable=SC2086  # the operations are words for convert
      convert "$dir/$src" -background white -alpha remove -alpha off -resize "$size!" $ops \
        -colorspace Gray -depth 8 "$dir/broken.pgm"
      read -r grey ink < <(score "$dir/lo.pgm" "$dir/broken.pgm")
      v=$(verdict "$grey" "$ink" "$max_grey" "$min_ink")
      printf '  %-26s %7s %6s  %s\n' "$fault" "$grey" "$ink" "$v (must fail)"
      [ "$v" = FAIL ] || calibration_passed=1
    done
    unset broken
  fi
done

if [ "$keep" -eq 1 ]; then echo "images kept in $work"; fi
if [ "$calibration_passed" -ne 0 ]; then
  echo "compare-lo: a broken picture passed; the limits are too loose" >&2
  exit 1
fi
if [ "$failed" -ne 0 ]; then
  echo "compare-lo: a picture differs from LibreOffice's render beyond the limits" >&2
  exit 1
fi
echo "compare-lo: every example matches LibreOffice's render"
