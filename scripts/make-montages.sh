#!/usr/bin/env bash
# Draws examples/text.g and examples/greek.g in the four players a user meets and sets the
# four pictures side by side, one caption over each, so a difference in how text sits shows
# at a glance:
#   LibreOffice   the EMF written by plotmint-convert, rendered by soffice
#   PNG           plotmint-convert's own PNG export
#   Inkscape      plotmint-convert's SVG export, rendered by inkscape
#   window        the window's preview of the same graph file (from test_gui)
# The results are docs/montage-text.png and docs/montage-greek.png; run it again after a
# change to any player to renew them.
#
#   scripts/make-montages.sh [BUILD_DIR] [--keep]
#
# BUILD_DIR holds bin/plotmint-convert and bin/test_gui (default: build). --keep leaves the
# single renders in the work folder and prints where it is. LibreOffice, Inkscape and
# Python's PIL are only for looking, not for building, so when one is missing and the script
# runs as root it installs the Debian package itself; otherwise it names the packages.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

build="$here/build"
keep=0
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build=$(cd "$arg" && pwd) ;;
  esac
done
for bin in plotmint-convert test_gui; do
  if [ ! -x "$build/bin/$bin" ]; then
    echo "make-montages: $build/bin/$bin not found; build it first or name the build folder" >&2
    exit 1
  fi
done

# A python3 with PIL: the one on PATH, or Debian's, where python3-pil puts it.
find_python() {
  local p
  for p in python3 /usr/bin/python3; do
    if command -v "$p" >/dev/null 2>&1 && "$p" -c 'import PIL' >/dev/null 2>&1; then
      command -v "$p"
      return 0
    fi
  done
  return 1
}

missing=()
command -v soffice >/dev/null 2>&1 || missing+=(libreoffice-draw-nogui)
command -v inkscape >/dev/null 2>&1 || missing+=(inkscape)
find_python >/dev/null || missing+=(python3-pil)
if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "make-montages: needs ${missing[*]}; install them (apt-get install ${missing[*]}) or run as root" >&2
    exit 1
  fi
  apt_install() {
    apt-get -o DPkg::Lock::Timeout=900 -y -q --no-install-recommends install "$@"
  }
  if ! apt_install "${missing[@]}"; then
    apt-get -o DPkg::Lock::Timeout=900 -y -q update
    apt_install "${missing[@]}"
  fi
fi
python=$(find_python) || { echo "make-montages: no python3 with PIL" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/plotmint-montages.XXXXXX")
if [ "$keep" -eq 0 ]; then trap 'rm -rf "$work"' EXIT; else echo "make-montages: renders kept in $work"; fi
# A LibreOffice profile of its own, so a running LibreOffice neither blocks nor is disturbed.
lo_profile="file://$work/lo-profile"

for name in text greek; do
  graph="$here/examples/$name.g"
  dir="$work/$name"
  mkdir -p "$dir/lo"
  # In the work folder, so that no graph.emf is left anywhere else.
  for ext in emf png svg; do
    if ! (cd "$dir" && "$build/bin/plotmint-convert" -q "$graph" -o "$dir/$name.$ext") 2>"$dir/convert.log"; then
      cat "$dir/convert.log" >&2
      echo "make-montages: plotmint-convert failed on $graph -o $name.$ext" >&2
      exit 1
    fi
  done
  # LibreOffice at twice its usual size where it takes the size as a filter option (7.4 and
  # later); its default otherwise.
  if ! soffice -env:UserInstallation="$lo_profile" --headless \
      --convert-to 'png:draw_png_Export:{"PixelWidth":{"type":"long","value":"1588"},"PixelHeight":{"type":"long","value":"2246"}}' \
      --outdir "$dir/lo" "$dir/$name.emf" >"$dir/soffice.log" 2>&1 || [ ! -s "$dir/lo/$name.png" ]; then
    soffice -env:UserInstallation="$lo_profile" --headless --convert-to png --outdir "$dir/lo" \
      "$dir/$name.emf" >>"$dir/soffice.log" 2>&1 || true
  fi
  [ -s "$dir/lo/$name.png" ] && mv "$dir/lo/$name.png" "$dir/$name-libreoffice.png"
  inkscape "$dir/$name.svg" --export-type=png --export-filename="$dir/$name-inkscape.png" \
    --export-height=2000 --export-background=white --export-background-opacity=1 >"$dir/inkscape.log" 2>&1 || true
  PLOTMINT_SCREENSHOT_GRAPH="$graph" PLOTMINT_SCREENSHOT_DIR="$dir" QT_QPA_PLATFORM=offscreen \
    "$build/bin/test_gui" screenshot_graph >"$dir/test_gui.log" 2>&1 || true
  for f in "$name-libreoffice.png" "$name.png" "$name-inkscape.png" "$name-window.png"; do
    if [ ! -s "$dir/$f" ]; then
      echo "make-montages: $f was not made" >&2
      case "$f" in
        *-libreoffice.png) cat "$dir/soffice.log" >&2 ;;
        *-inkscape.png) cat "$dir/inkscape.log" >&2 ;;
        *-window.png) cat "$dir/test_gui.log" >&2 ;;
      esac
      exit 1
    fi
  done

  "$python" - "$here/docs/montage-$name.png" "examples/$name.g" \
    "$dir/$name-libreoffice.png" "LibreOffice (EMF)" \
    "$dir/$name.png" "plotmint-convert PNG" \
    "$dir/$name-inkscape.png" "Inkscape (SVG)" \
    "$dir/$name-window.png" "window preview" <<'EOF'
import io, os, sys
from PIL import Image, ImageChops, ImageDraw, ImageFont

out, title, rest = sys.argv[1], sys.argv[2], sys.argv[3:]
panels = list(zip(rest[0::2], rest[1::2]))
HEIGHT, GAP, MARGIN, LIMIT = 500, 16, 12, 400 * 1024

def font(size):
    for path in ("/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
                 "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"):
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    return ImageFont.load_default()

def trimmed(path):
    # Flattened on white and cut to what is drawn, so every player's picture fills its
    # panel the same way whatever page or margin it was placed on.
    im = Image.open(path).convert("RGBA")
    flat = Image.new("RGB", im.size, "white")
    flat.paste(im, mask=im.getchannel("A"))
    box = ImageChops.difference(flat, Image.new("RGB", flat.size, "white")).convert("L") \
        .point(lambda v: 255 if v > 24 else 0).getbbox()
    if box is None:
        sys.exit(f"make-montages: {path} is blank")
    pad = max(4, (box[3] - box[1]) // 50)
    box = (max(0, box[0] - pad), max(0, box[1] - pad),
           min(flat.width, box[2] + pad), min(flat.height, box[3] + pad))
    flat = flat.crop(box)
    return flat.resize((max(1, round(flat.width * HEIGHT / flat.height)), HEIGHT), Image.LANCZOS)

images = [(trimmed(p), caption) for p, caption in panels]
caption_font, title_font = font(20), font(16)
caption_h = 34
width = MARGIN * 2 + sum(im.width for im, _ in images) + GAP * (len(images) - 1)
height = MARGIN + 24 + caption_h + HEIGHT + MARGIN
sheet = Image.new("RGB", (width, height), "white")
draw = ImageDraw.Draw(sheet)
draw.text((MARGIN, MARGIN), title, fill=(90, 90, 90), font=title_font)
x = MARGIN
top = MARGIN + 24
for im, caption in images:
    w = draw.textlength(caption, font=caption_font)
    draw.text((x + (im.width - w) / 2, top + 4), caption, fill="black", font=caption_font)
    sheet.paste(im, (x, top + caption_h))
    draw.rectangle((x - 1, top + caption_h - 1, x + im.width, top + caption_h + HEIGHT), outline=(190, 190, 190))
    x += im.width + GAP

def encoded(img):
    buf = io.BytesIO()
    img.save(buf, "PNG", optimize=True)
    return buf.getvalue()

data = encoded(sheet)
for colours in (256, 128, 64):
    if len(data) <= LIMIT:
        break
    data = encoded(sheet.quantize(colors=colours, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE))
with open(out, "wb") as f:
    f.write(data)
print(f"{out}: {sheet.width} x {sheet.height}, {len(data) // 1024} KB")
EOF
done
