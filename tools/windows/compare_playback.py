#!/usr/bin/python3
"""Compares GDI's playback of our metafiles with our own PNG export of them.

    compare_playback.py MAX_GREY MIN_INK NAME OURS.png GDI.bmp GDI_NOFILL.bmp [NAME ...]

For each picture NAME: OURS.png is the Linux converter's PNG of the metafile, GDI.bmp the
same metafile played by PlayEnhMetaFile into a bitmap of the PNG's size (playback_check),
GDI_NOFILL.bmp the playback of the metafile drawn with tables that paint every fill white
("-" when the picture has no fills). Both images become grey; two scores, as in
scripts/compare-lo.sh:

  grey  mean absolute grey-level difference after a 3 x 3 box blur, in percent of full
        scale; catches wrong colours and fills that are missing or misplaced
  ink   the share of dark pixels (below 200) of either image that have a dark pixel of the
        other within 2 pixels, the smaller of the two ways; catches lines and text out of
        place

A picture passes when grey <= MAX_GREY and ink >= MIN_INK. The same limits are checked
against GDI's playback broken on purpose (shifted 20 pixels right, shifted 20 pixels down,
mirrored top to bottom, scaled to 95 %, fills missing): each of those must fail, or the
limits are too loose to mean anything. Exit status 0 when every real playback passes and
every broken one fails, 1 otherwise, 2 for bad arguments or unreadable images.
"""
import sys

from PIL import Image, ImageChops, ImageFilter, ImageOps, ImageStat


def grey(path):
    image = Image.open(path)
    image.load()
    if image.mode in ("RGBA", "LA", "P"):
        image = image.convert("RGBA")
        white = Image.new("RGBA", image.size, (255, 255, 255, 255))
        image = Image.alpha_composite(white, image)
    return image.convert("L")


def ink_mask(image):
    # 255 where the pixel is dark.
    return image.point(lambda v: 255 if v < 200 else 0)


def score(reference, candidate):
    if reference.size != candidate.size:
        raise ValueError(f"sizes differ: {reference.size} and {candidate.size}")
    blur = ImageFilter.BoxBlur(1)
    diff = ImageChops.difference(reference.filter(blur), candidate.filter(blur))
    grey_score = 100.0 * ImageStat.Stat(diff).mean[0] / 255.0
    ink_a, ink_b = ink_mask(reference), ink_mask(candidate)
    # A 5 x 5 maximum: set where a dark pixel lies within 2 pixels in x and y.
    near_a, near_b = ink_a.filter(ImageFilter.MaxFilter(5)), ink_b.filter(ImageFilter.MaxFilter(5))

    def share(ink, near):
        count = ImageStat.Stat(ink).sum[0] / 255.0
        both = ImageStat.Stat(ImageChops.logical_and(ink.convert("1"), near.convert("1")).convert("L")).sum[0] / 255.0
        return both / max(1.0, count)

    return grey_score, min(share(ink_a, near_b), share(ink_b, near_a))


def broken(gdi, gdi_nofill_path):
    w, h = gdi.size
    white = 255

    def shifted(dx, dy):
        out = Image.new("L", (w, h), white)
        out.paste(gdi, (dx, dy))
        return out

    scaled = Image.new("L", (w, h), white)
    scaled.paste(gdi.resize((max(1, round(w * 0.95)), max(1, round(h * 0.95))), Image.BILINEAR), (0, 0))
    faults = [
        ("shifted 20 px right", shifted(20, 0)),
        ("shifted 20 px down", shifted(0, 20)),
        ("mirrored top to bottom", ImageOps.flip(gdi)),
        ("scaled to 95 %", scaled),
    ]
    if gdi_nofill_path != "-":
        faults.append(("fills missing", grey(gdi_nofill_path)))
    return faults


def main(argv):
    if len(argv) < 7 or (len(argv) - 3) % 4 != 0:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    max_grey, min_ink = float(argv[1]), float(argv[2])

    def verdict(g, i):
        return "PASS" if g <= max_grey and i >= min_ink else "FAIL"

    status = 0
    print(f"{'picture':<28} {'grey %':>7} {'ink':>6}  verdict (grey <= {max_grey}, ink >= {min_ink})")
    for at in range(3, len(argv), 4):
        name, ours_path, gdi_path, nofill_path = argv[at:at + 4]
        try:
            ours, gdi = grey(ours_path), grey(gdi_path)
            g, i = score(ours, gdi)
        except (OSError, ValueError) as e:
            print(f"compare_playback: {name}: {e}", file=sys.stderr)
            return 2
        v = verdict(g, i)
        print(f"{name:<28} {g:7.2f} {i:6.3f}  {v}")
        if v != "PASS":
            status = 1
        for fault, image in broken(gdi, nofill_path):
            g, i = score(ours, image)
            v = verdict(g, i)
            print(f"  {fault:<26} {g:7.2f} {i:6.3f}  {v} (must fail)")
            if v != "FAIL":
                status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
