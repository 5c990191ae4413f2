#!/usr/bin/env python3
"""Writes the bundled example graph files under examples/.

Hershey blocks carry their strokes as well as their character numbers; the strokes here
come from a small built-in stroke alphabet, laid out with the same advance widths the
converter uses when it re-sets the text, so both renderings can be compared.
"""
import math
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
AFM_DIR = "/usr/share/fonts/type1/urw-base35"


def afm_widths(name):
    widths = {}
    with open(os.path.join(AFM_DIR, name + ".afm"), encoding="latin-1") as f:
        for line in f:
            if line.startswith("C "):
                parts = dict(p.strip().split(" ", 1) for p in line.split(";") if p.strip())
                code = int(parts["C"])
                if code >= 0:
                    widths[code] = int(parts["WX"]) / 100.0
    return widths


HELV = afm_widths("NimbusSans-Regular")
SYMB = afm_widths("StandardSymbolsPS")

# Stroke alphabet on a unit cell: x 0..1 across the advance, y 0..1 cap height.
# Each glyph is a list of polylines.
G = {
    "A": [[(0.05, 0), (0.5, 1), (0.95, 0)], [(0.25, 0.45), (0.75, 0.45)]],
    "B": [[(0.1, 0), (0.1, 1), (0.7, 1), (0.85, 0.85), (0.7, 0.55), (0.1, 0.55)], [(0.7, 0.55), (0.9, 0.35), (0.9, 0.15), (0.7, 0), (0.1, 0)]],
    "C": [[(0.9, 0.85), (0.7, 1), (0.3, 1), (0.1, 0.75), (0.1, 0.25), (0.3, 0), (0.7, 0), (0.9, 0.15)]],
    "E": [[(0.85, 1), (0.1, 1), (0.1, 0), (0.85, 0)], [(0.1, 0.5), (0.7, 0.5)]],
    "H": [[(0.1, 0), (0.1, 1)], [(0.9, 0), (0.9, 1)], [(0.1, 0.5), (0.9, 0.5)]],
    "P": [[(0.1, 0), (0.1, 1), (0.75, 1), (0.9, 0.85), (0.9, 0.6), (0.75, 0.45), (0.1, 0.45)]],
    "T": [[(0.05, 1), (0.95, 1)], [(0.5, 1), (0.5, 0)]],
    "a": [[(0.8, 0.7), (0.8, 0)], [(0.8, 0.55), (0.6, 0.7), (0.3, 0.7), (0.1, 0.5), (0.1, 0.2), (0.3, 0), (0.6, 0), (0.8, 0.15)]],
    "b": [[(0.15, 1), (0.15, 0)], [(0.15, 0.55), (0.35, 0.7), (0.7, 0.7), (0.9, 0.5), (0.9, 0.2), (0.7, 0), (0.35, 0), (0.15, 0.15)]],
    "c": [[(0.85, 0.6), (0.65, 0.7), (0.35, 0.7), (0.15, 0.5), (0.15, 0.2), (0.35, 0), (0.65, 0), (0.85, 0.1)]],
    "e": [[(0.15, 0.35), (0.85, 0.35), (0.8, 0.6), (0.6, 0.7), (0.35, 0.7), (0.15, 0.5), (0.15, 0.2), (0.35, 0), (0.7, 0), (0.85, 0.1)]],
    "m": [[(0.1, 0), (0.1, 0.7)], [(0.1, 0.55), (0.25, 0.7), (0.4, 0.7), (0.5, 0.55), (0.5, 0)], [(0.5, 0.55), (0.65, 0.7), (0.8, 0.7), (0.9, 0.55), (0.9, 0)]],
    "n": [[(0.15, 0), (0.15, 0.7)], [(0.15, 0.5), (0.35, 0.7), (0.7, 0.7), (0.85, 0.5), (0.85, 0)]],
    "s": [[(0.85, 0.6), (0.6, 0.7), (0.3, 0.7), (0.15, 0.55), (0.3, 0.4), (0.7, 0.3), (0.85, 0.15), (0.7, 0), (0.35, 0), (0.1, 0.1)]],
    "t": [[(0.4, 0.95), (0.4, 0.1), (0.55, 0), (0.8, 0)], [(0.15, 0.7), (0.8, 0.7)]],
    "u": [[(0.15, 0.7), (0.15, 0.2), (0.35, 0), (0.65, 0), (0.85, 0.2)], [(0.85, 0.7), (0.85, 0)]],
    "p": [[(0.15, -0.3), (0.15, 0.7)], [(0.15, 0.55), (0.35, 0.7), (0.7, 0.7), (0.9, 0.5), (0.9, 0.2), (0.7, 0), (0.35, 0), (0.15, 0.15)]],
    "x": [[(0.1, 0.7), (0.9, 0)], [(0.9, 0.7), (0.1, 0)]],
    "y": [[(0.1, 0.7), (0.5, 0)], [(0.9, 0.7), (0.5, 0), (0.35, -0.25), (0.15, -0.3)]],
    "0": [[(0.5, 1), (0.2, 0.85), (0.1, 0.5), (0.2, 0.15), (0.5, 0), (0.8, 0.15), (0.9, 0.5), (0.8, 0.85), (0.5, 1)]],
    "1": [[(0.3, 0.8), (0.55, 1), (0.55, 0)]],
    "2": [[(0.15, 0.8), (0.35, 1), (0.7, 1), (0.85, 0.8), (0.85, 0.6), (0.15, 0), (0.9, 0)]],
    "3": [[(0.15, 0.9), (0.35, 1), (0.7, 1), (0.85, 0.8), (0.7, 0.55), (0.4, 0.55)], [(0.7, 0.55), (0.9, 0.35), (0.9, 0.15), (0.7, 0), (0.3, 0), (0.1, 0.1)]],
    "=": [[(0.15, 0.6), (0.85, 0.6)], [(0.15, 0.3), (0.85, 0.3)]],
    "+": [[(0.15, 0.45), (0.85, 0.45)], [(0.5, 0.1), (0.5, 0.8)]],
    "-": [[(0.15, 0.45), (0.85, 0.45)]],
    "(": [[(0.7, 1.1), (0.4, 0.8), (0.3, 0.4), (0.4, 0), (0.7, -0.25)]],
    ")": [[(0.3, 1.1), (0.6, 0.8), (0.7, 0.4), (0.6, 0), (0.3, -0.25)]],
    ",": [[(0.5, 0.05), (0.4, -0.2)]],
    ".": [[(0.45, 0), (0.55, 0), (0.55, 0.08), (0.45, 0.08), (0.45, 0)]],
    # Greek and signs (Symbol-font positions)
    "alpha": [[(0.9, 0.7), (0.6, 0.1), (0.4, 0), (0.2, 0.05), (0.1, 0.35), (0.2, 0.65), (0.4, 0.7), (0.6, 0.6), (0.95, 0)]],
    "beta": [[(0.15, -0.3), (0.15, 0.8), (0.3, 1), (0.6, 1), (0.75, 0.8), (0.6, 0.55), (0.35, 0.55)], [(0.6, 0.55), (0.85, 0.35), (0.75, 0.05), (0.45, 0), (0.15, 0.1)]],
    "gamma": [[(0.05, 0.7), (0.5, 0.1), (0.5, -0.3)], [(0.95, 0.7), (0.5, 0.1)]],
    "pi": [[(0.05, 0.7), (0.95, 0.7)], [(0.3, 0.7), (0.3, 0)], [(0.7, 0.7), (0.7, 0)]],
    "Sigma": [[(0.85, 1), (0.1, 1), (0.5, 0.5), (0.1, 0), (0.85, 0)]],
    "partial": [[(0.2, 0.9), (0.45, 1), (0.7, 0.85), (0.8, 0.5), (0.7, 0.15), (0.45, 0), (0.2, 0.1), (0.15, 0.35), (0.35, 0.5), (0.75, 0.45)]],
    "le": [[(0.85, 0.9), (0.15, 0.6), (0.85, 0.3)], [(0.15, 0.15), (0.85, 0.15)]],
    "pm": [[(0.15, 0.55), (0.85, 0.55)], [(0.5, 0.2), (0.5, 0.9)], [(0.15, 0.05), (0.85, 0.05)]],
    "infinity": [[(0.5, 0.35), (0.3, 0.55), (0.1, 0.35), (0.3, 0.15), (0.5, 0.35), (0.7, 0.55), (0.9, 0.35), (0.7, 0.15), (0.5, 0.35)]],
    "degree": [[(0.3, 0.9), (0.5, 1), (0.7, 0.9), (0.7, 0.7), (0.5, 0.6), (0.3, 0.7), (0.3, 0.9)]],
    " ": [],
}

# Hershey number -> (glyph, Symbol font?, code in that font)
LATIN = {c: 100 + i for i, c in enumerate("ABCDEFGHIJKLMNOPQRSTUVWXYZ")}
LATIN.update({c: 126 + i for i, c in enumerate("abcdefghijklmnopqrstuvwxyz")})
LATIN.update({c: 152 + i for i, c in enumerate("0123456789")})
LATIN.update({c: 162 + i for i, c in enumerate("+-/=()*,.$")})
LATIN[" "] = 172
GREEK = {"alpha": 1024, "beta": 1025, "gamma": 1026, "pi": 1039, "Sigma": 1017}
SIGNS = {"partial": 3, "le": 6, "pm": 12, "infinity": 11, "degree": 45}


def code_of(number):
    g = abs(number)
    hi, lo = divmod(g, 100)
    if hi == 0:
        sign = {3: 182, 6: 163, 12: 177, 11: 165, 45: 176}[lo]
        return True, sign
    if hi >= 10:
        return True, ord("ABGDEZHQIKLMNXOPRSTUFCYW"[lo]) if lo < 24 else ord("abgdezhqiklmnxoprstufcyw"[lo - 24])
    ch = ("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-/=()*,.$" + " " * 28)[lo]
    if ch == "-":
        return True, 45
    return False, ord(ch)


class Graph:
    def __init__(self):
        self.lines = []

    def rec(self, code, a=0, b=0):
        self.lines.append("%d %d %d" % (code, int(a), int(b)))

    def comment_free(self):
        return "\n".join(self.lines) + "\n"

    def width(self, i):
        self.rec(5, 0, i)

    def color(self, i):
        self.rec(6, i, 0)

    def polyline(self, pts):
        self.rec(3, *pts[0])
        for p in pts[1:]:
            self.rec(2, *p)

    def fill(self, tone, pts, mode=1, overlay=False):
        self.rec(30 if overlay else 7, mode, len(pts) + 1)
        self.rec(0, tone, 0)
        for p in list(pts) + [pts[0]]:
            self.rec(0, *p)
        self.rec(32 if overlay else 9)

    def vhline(self, p0, p1, step):
        self.rec(21, *p0)
        self.rec(0, *p1)
        # the line as short dashes, as a plotter driver writes it
        n = max(1, int(math.hypot(p1[0] - p0[0], p1[1] - p0[1]) // step))
        for i in range(n):
            t0, t1 = i / n, (i + 0.5) / n
            self.rec(3, p0[0] + (p1[0] - p0[0]) * t0, p0[1] + (p1[1] - p0[1]) * t0)
            self.rec(2, p0[0] + (p1[0] - p0[0]) * t1, p0[1] + (p1[1] - p0[1]) * t1)
        self.rec(24)

    def text(self, font_no, x, y, size, text, angle10=0, width_units=None):
        self.rec(25, font_no, 0)
        self.rec(0, size, angle10)
        self.rec(0, x, y)
        for ch in text.encode("latin-1"):
            self.rec(0, 0, ch)
        if width_units is None:
            width_units = size * 0.55 * len(text)
        self.rec(29, width_units, 0)

    def table_name(self, name):
        self.rec(33)
        for ch in name.encode("ascii"):
            self.rec(0, ch, 0)
        self.rec(35)

    def hershey(self, x, y, size, items, angle10=0):
        """items: glyph names / characters, or control numbers 9000..9003, or ('c', glyph)
        for a centred character. Strokes follow the converter's layout."""
        numbers, strokes = [], []
        r = angle10 * 0.1 / 180.0 * math.pi
        d = (math.cos(r), math.sin(r))
        u = (-math.sin(r), math.cos(r))
        px, py, s = float(x), float(y), float(size)
        stack = []

        def put(glyph, at_x, at_y, adv):
            for line in G[glyph]:
                pts = []
                for gx, gy in line:
                    lx, ly = gx * adv * s, gy * 0.72 * s
                    pts.append((at_x + lx * d[0] + ly * u[0], at_y + lx * d[1] + ly * u[1]))
                strokes.append(pts)

        for it in items:
            if it == 9000:
                numbers.append(9000)
                px += s * d[0]
                py += s * d[1]
                continue
            if it == 9001:
                numbers.append(9001)
                px += 0.65 * s * u[0]
                py += 0.65 * s * u[1]
                s *= 0.65
                stack.append("sup")
                continue
            if it == 9002:
                numbers.append(9002)
                px -= 0.2 * s * u[0]
                py -= 0.2 * s * u[1]
                s *= 0.65
                stack.append("sub")
                continue
            if it == 9003:
                numbers.append(9003)
                kind = stack.pop()
                s *= 1.5384615384615384
                k = -0.65 if kind == "sup" else 0.2
                px += k * s * u[0]
                py += k * s * u[1]
                continue
            centred = isinstance(it, tuple)
            glyph = it[1] if centred else it
            num = GREEK.get(glyph) or SIGNS.get(glyph) or LATIN[glyph]
            symbol, code = code_of(num)
            w = (SYMB if symbol else HELV).get(code, 0) / (6.57 if symbol else 6.41)
            if centred:
                numbers.append(-num)
                off = (1 - w) * s * 0.5
                put(glyph, px + off * d[0], py + off * d[1], w)
                px += s * d[0]
                py += s * d[1]
            else:
                numbers.append(num)
                put(glyph, px, py, w)
                px += s * w * d[0]
                py += s * w * d[1]
        self.rec(10, x, y)
        self.rec(0, size, angle10)
        for n in numbers:
            self.rec(20, n, 0)
        for pts in strokes:
            self.polyline([(round(a), round(b)) for a, b in pts])
        self.rec(13)


def example_graph():
    """A small chart: axes, grid lines, tone bars, a data line, labels of every kind."""
    g = Graph()
    g.table_name("demo")
    x0, y0, x1, y1 = 700, 1500, 4700, 5500
    # background panel and bars (fills are drawn under everything else)
    g.fill(5, [(x0, y0), (x1, y0), (x1, y1), (x0, y1)])
    for i, (h, tone) in enumerate([(1800, 30), (2600, 50), (3300, 70), (2200, 90), (1200, 110)]):
        bx = x0 + 300 + i * 750
        g.fill(tone, [(bx, y0), (bx + 450, y0), (bx + 450, y0 + h), (bx, y0 + h)], mode=2)
    # grid lines as vertical/horizontal line blocks
    for k in range(1, 8):
        g.vhline((x0, y0 + k * 500), (x1, y0 + k * 500), 60)
    # axes
    g.width(3)
    g.color(1)
    g.polyline([(x0, y1), (x0, y0), (x1, y0)])
    # data line in colour, thinner
    g.width(2)
    g.color(2)
    pts = [(x0 + 200 + i * 200, y0 + 2000 + int(1400 * math.sin(i / 3.0))) for i in range(20)]
    g.polyline(pts)
    g.color(4)
    g.width(1)
    for (px, py) in pts[::3]:
        g.polyline([(px - 40, py - 40), (px + 40, py + 40)])
        g.polyline([(px - 40, py + 40), (px + 40, py - 40)])
    # a legend box on top of the lines (overlay fill)
    g.color(1)
    g.fill(0, [(3300, 5000), (4550, 5000), (4550, 5400), (3300, 5400)], mode=2, overlay=True)
    g.color(2)
    g.width(2)
    g.polyline([(3400, 5200), (3700, 5200)])
    g.text(1, 3800, 5160, 110, "sin(t)")
    # labels
    g.color(1)
    g.text(1, 700, 6300, 260, "Plotmint example")
    g.text(9, 2200, 1050, 160, "Time (seconds)")
    g.text(9, 400, 2800, 160, "Amplitude", angle10=900)
    for k in range(0, 5):
        g.text(5, 560, y0 + k * 1000 - 50, 110, str(k))
    g.hershey(1500, 600, 150, ["E", "=", "m", "c", 9001, "2", 9003, " ", ("c", "alpha"), "pm", "beta"])
    g.rec(-999)
    return g


def example_text():
    g = Graph()
    y = 7200
    fonts = [(1, "Helvetica"), (5, "Courier"), (9, "Times-Roman"), (13, "New Century Schoolbook"), (17, "Symbol")]
    for no, name in fonts:
        label = name if no != 17 else "abgdp Sp 123"
        g.color(1)
        g.text(no, 400, y, 200, label)
        g.text(no, 3300 + fonts.index((no, name)) * 380, 3200, 150, "Up %d" % no if no != 17 else "abg", angle10=900)
        y -= 500
    g.color(2)
    g.text(17, 400, y, 200, "\xa3 \xb3 \xa5 \xb1 \xd6 \xe5 \xb6")  # <= >= infinity +- sqrt sum partial
    y -= 500
    g.color(4)
    g.text(1, 400, y, 200, "Caf\xe9 \x80 5\xb0 \xc5ngstr\xf6m")
    g.hershey(400, 3000, 220, ["P", "t", "x", "-", "y", " ", "a", 9002, "2", 9003, "b", 9001, "3", 9003])
    g.hershey(400, 2400, 220, ["alpha", "beta", "gamma", "pi", " ", "Sigma", "partial", "le", "infinity", "degree"])
    g.hershey(400, 1800, 220, ["A", 9000, "B", 9000, ("c", "C"), ("c", "alpha"), ("c", "1")])
    g.hershey(3000, 500, 180, ["T", "e", "x", "t", " ", "u", "p"], angle10=900)
    return g


def example_greek():
    """Greek beside Latin on one baseline, across and reading upward: Symbol-font text
    blocks between Helvetica ones, and the same words as Hershey strokes. A thin rule marks
    each baseline the blocks are given."""
    g = Graph()

    def advance(font_no, text, size):
        # The em each face is drawn at: the cell (size times the face's height factor)
        # over the Windows face's cell in ems.
        if font_no == 17:
            return sum(SYMB.get(ord(c), 0) for c in text) / 10.0 * size * 1.86 / (2509 / 2048)
        return sum(HELV.get(ord(c), 0) for c in text) / 10.0 * size * 1.75 / (2288 / 2048)

    def run(x, y, size, parts, angle10=0):
        for font_no, text in parts:
            g.text(font_no, x, y, size, text, angle10=angle10, width_units=advance(font_no, text, size))
            if angle10 == 0:
                x += advance(font_no, text, size)
            else:
                y += advance(font_no, text, size)

    g.color(3)
    g.width(1)
    for y in (3600, 2800, 2000):
        g.polyline([(300, y), (3300, y)])
    for x in (3700, 4400):
        g.polyline([(x, 600), (x, 3800)])
    g.color(1)
    words = [(1, "C"), (17, "a"), (1, "1 H"), (17, "DPS"), (1, "H x"), (17, "abgdp")]
    hershey = ["C", "alpha", "1", " ", "H", "Sigma", "pi", "H", " ", "alpha", "beta", "gamma", "pi"]
    run(400, 3600, 200, words)
    run(400, 2800, 200, [(1, "x "), (17, "\xb1\xa5 \xd6\xe5\xb6 \xa3\xb3"), (1, " 1")])
    g.hershey(400, 2000, 200, hershey)
    run(3700, 700, 200, words, angle10=900)
    g.hershey(4400, 700, 200, hershey, angle10=900)
    return g


def example_lines():
    g = Graph()
    y = 7000
    for wi in range(1, 6):
        g.width(wi)
        g.color(wi + 1)
        g.polyline([(500, y), (2500, y), (2900, y - 300), (4500, y - 300)])
        y -= 600
    g.color(1)
    g.width(1)
    for k in range(6):
        g.vhline((500 + k * 800, 500), (500 + k * 800, 3500), 80)
    g.vhline((500, 2000), (4500, 2000), 80)
    g.fill(60, [(1000, 1000), (2000, 1000), (1500, 2600), (1000, 1000)])
    g.color(3)
    g.fill(100, [(2600, 1000), (4000, 1200), (3300, 2800)], mode=2)
    return g


def main():
    out = os.path.join(ROOT, "examples")
    os.makedirs(out, exist_ok=True)
    for name, g in [("graph.g", example_graph()), ("text.g", example_text()), ("lines.g", example_lines()),
                    ("greek.g", example_greek())]:
        with open(os.path.join(out, name), "w") as f:
            f.write(g.comment_free())
    return 0


if __name__ == "__main__":
    sys.exit(main())
