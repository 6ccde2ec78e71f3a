#!/usr/bin/env python3
"""Draws the program's artwork and writes it as PNG files, the icon also as SVG.

    python3 tools/artwork/make_artwork.py [--out RESOURCES_DIR] [--preview DIR]

Writes, under the resources folder (default: resources/ beside tools/):

  icons/kalvor-N.png   the program icon, N = 16, 24, 32, 48, 64, 128, 256:
                       a reader head seen from the side, a C-shaped housing
                       whose two jaws hold the lamp and the sensor, with a
                       strip of radiochromic film in the gap, its exposed blue
                       spot lit by the lamp's beam.
  icons/kalvor.svg     the same icon as scalable vector graphics (the
                       256-pixel drawing), for the desktop's icon theme.
  about/emblem.png     the About box emblem, 32 x 32 pixels in the 16 colours
                       of the standard VGA palette (plus transparency):
                       "KALVOR" in black above a small drawing of the head.
  portsetup/DIP.png, portsetup/DIPoff.png, portsetup/card.png
                       the port setup dialog's address switch, on and off,
                       and the BRENIK card (portsetup_pictures.py).

--preview writes the same pictures magnified, for looking at them.

Only the Python standard library is used; the files are reproducible.
"""
import argparse
import math
import os

import portsetup_pictures
from png import write_rgba as write_png


# --------------------------------------------------------------------------
# Previews

def magnify(pixels, factor, backdrop=(212, 208, 200)):
    """Scales up by pixel repetition over an opaque backdrop, for previews."""
    out = []
    for row in pixels:
        big = []
        for r, g, b, a in row:
            t = a / 255.0
            c = tuple(int(round(v * t + bv * (1 - t))) for v, bv in zip((r, g, b), backdrop))
            big.extend([c + (255,)] * factor)
        out.extend([big] * factor)
    return out


def hex_colour(text, alpha=1.0):
    text = text.lstrip("#")
    return (int(text[0:2], 16), int(text[2:4], 16), int(text[4:6], 16), alpha)


# --------------------------------------------------------------------------
# The icon: anti-aliased shapes on a 64-unit square, scaled to each size.
# Coverage comes from each shape's signed distance at the pixel centre.

class Canvas:
    def __init__(self, size):
        self.size = size
        self.unit = 64.0 / size  # one pixel in design units
        self.rgba = [[[0.0, 0.0, 0.0, 0.0] for _ in range(size)] for _ in range(size)]

    def fill(self, distance, bbox, colour):
        """distance(x, y) in design units (< 0 inside); colour: tuple or
        function of (x, y) giving (r, g, b, alpha 0..1)."""
        x0, y0, x1, y1 = bbox
        u = self.unit
        px0 = max(0, int(math.floor(x0 / u)) - 1)
        py0 = max(0, int(math.floor(y0 / u)) - 1)
        px1 = min(self.size, int(math.ceil(x1 / u)) + 1)
        py1 = min(self.size, int(math.ceil(y1 / u)) + 1)
        for py in range(py0, py1):
            y = (py + 0.5) * u
            row = self.rgba[py]
            for px in range(px0, px1):
                x = (px + 0.5) * u
                cover = 0.5 - distance(x, y) / u
                if cover <= 0.0:
                    continue
                cover = min(cover, 1.0)
                r, g, b, a = colour(x, y) if callable(colour) else colour
                src_a = a * cover
                dst = row[px]
                out_a = src_a + dst[3] * (1.0 - src_a)
                if out_a > 0.0:
                    for i, v in enumerate((r, g, b)):
                        dst[i] = (v * src_a + dst[i] * dst[3] * (1.0 - src_a)) / out_a
                dst[3] = out_a

    def snap(self, v):
        """Puts an edge on the nearest pixel boundary, so edges stay crisp."""
        return math.floor(v / self.unit + 0.5) * self.unit

    def rounded_rect(self, x0, y0, x1, y1, radius, colour):
        x0, y0, x1, y1 = (self.snap(v) for v in (x0, y0, x1, y1))
        cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        hx, hy = (x1 - x0) / 2.0, (y1 - y0) / 2.0
        radius = max(0.0, min(radius, hx, hy))

        def distance(x, y):
            qx = abs(x - cx) - (hx - radius)
            qy = abs(y - cy) - (hy - radius)
            outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
            return outside + min(max(qx, qy), 0.0) - radius

        self.fill(distance, (x0, y0, x1, y1), colour)

    def circle(self, cx, cy, radius, colour):
        self.fill(lambda x, y: math.hypot(x - cx, y - cy) - radius,
                  (cx - radius, cy - radius, cx + radius, cy + radius), colour)

    def pixels(self):
        return [[(int(round(r)), int(round(g)), int(round(b)), int(round(a * 255))) for r, g, b, a in row]
                for row in self.rgba]


class VerticalGradient:
    """A colour function of (x, y) that SvgCanvas can also write as a gradient."""

    def __init__(self, top_colour, bottom_colour, y0, y1):
        self.top, self.bottom = hex_colour(top_colour), hex_colour(bottom_colour)
        self.y0, self.y1 = y0, y1

    def __call__(self, _x, y):
        t = min(max((y - self.y0) / (self.y1 - self.y0), 0.0), 1.0)
        return tuple(a + (b - a) * t for a, b in zip(self.top[:3], self.bottom[:3])) + (1.0,)


def vertical_gradient(top_colour, bottom_colour, y0, y1):
    return VerticalGradient(top_colour, bottom_colour, y0, y1)


class SvgCanvas:
    """The shapes of Canvas written as SVG in the 64-unit design space, snapped
    as the raster of `size` pixels snaps them: the scalable icon is the
    256-pixel drawing."""

    def __init__(self, size):
        self.size = size
        self.unit = 64.0 / size
        self.defs = []
        self.gradients = {}
        self.shapes = []

    snap = Canvas.snap

    @staticmethod
    def number(v):
        return ("%.4f" % v).rstrip("0").rstrip(".")

    def paint(self, colour):
        if isinstance(colour, VerticalGradient):
            key = (colour.top, colour.bottom, colour.y0, colour.y1)
            if key in self.gradients:
                return 'fill="url(#%s)"' % self.gradients[key]
            name = self.gradients[key] = "gradient%d" % len(self.defs)
            stops = "".join('<stop offset="%d" stop-color="#%02x%02x%02x"/>' % ((i,) + tuple(c[:3]))
                            for i, c in enumerate((colour.top, colour.bottom)))
            self.defs.append('<linearGradient id="%s" gradientUnits="userSpaceOnUse" x1="0" y1="%s" x2="0" y2="%s">'
                             '%s</linearGradient>' % (name, self.number(colour.y0), self.number(colour.y1), stops))
            return 'fill="url(#%s)"' % name
        r, g, b, a = colour
        text = 'fill="#%02x%02x%02x"' % (int(round(r)), int(round(g)), int(round(b)))
        return text + (' fill-opacity="%s"' % self.number(a) if a < 1.0 else "")

    def rounded_rect(self, x0, y0, x1, y1, radius, colour):
        x0, y0, x1, y1 = (self.snap(v) for v in (x0, y0, x1, y1))
        radius = max(0.0, min(radius, (x1 - x0) / 2.0, (y1 - y0) / 2.0))
        n = self.number
        corner = ' rx="%s"' % n(radius) if radius > 0 else ""
        self.shapes.append('<rect x="%s" y="%s" width="%s" height="%s"%s %s/>'
                           % (n(x0), n(y0), n(x1 - x0), n(y1 - y0), corner, self.paint(colour)))

    def circle(self, cx, cy, radius, colour):
        n = self.number
        self.shapes.append('<circle cx="%s" cy="%s" r="%s" %s/>' % (n(cx), n(cy), n(radius), self.paint(colour)))

    def document(self):
        return ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<!-- The KALVOR program icon, drawn by tools/artwork/make_artwork.py. -->\n'
                '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 64 64">\n'
                '<defs>%s</defs>\n%s\n</svg>\n' % ("".join(self.defs), "\n".join(self.shapes)))


def draw_icon(size):
    return paint_icon(Canvas(size)).pixels()


def icon_svg():
    return paint_icon(SvgCanvas(256)).document()


def paint_icon(c):
    size = c.size
    u = c.unit
    small = size < 32
    outline = hex_colour("#17202a")

    # The housing: upper jaw (lamp), lower jaw (sensor) and the back joining
    # them, with a one-pixel dark outline at every size.
    housing = [tuple(c.snap(v) for v in part) for part in ((4, 4, 56, 20), (4, 44, 56, 60), (4, 4, 24, 60))]
    radius = 6
    # The inside of the gap, in shadow, so that the beam and the film stand out.
    c.rounded_rect(20, 16, 54, 48, 2, hex_colour("#0c141d"))
    for x0, y0, x1, y1 in housing:
        c.rounded_rect(x0, y0, x1, y1, radius, outline)
    body = vertical_gradient("#7399bd", "#2b3f55", 4, 60)
    for x0, y0, x1, y1 in housing:
        c.rounded_rect(x0 + u, y0 + u, x1 - u, y1 - u, radius - u, body)

    # Lamp window under the upper jaw and sensor window on the lower one.
    if not small:
        c.rounded_rect(36, 20 - u, 52, 20 + u, 0, hex_colour("#fff6c0"))
        c.rounded_rect(36, 44 - u, 52, 44 + u, 0, hex_colour("#58b8c8"))

    # The beam.
    c.rounded_rect(40, 20, 48, 44, 0, hex_colour("#fff3a0"))

    # The film strip, with its exposed spot where the beam crosses it.
    if small:
        c.rounded_rect(24, 28, 60, 36, 0, hex_colour("#f2c230"))
    else:
        c.rounded_rect(24, 28 - u, 61, 36 + u, u, hex_colour("#8a5a0a"))
        c.rounded_rect(24, 28, 61 - u, 36, 0, hex_colour("#f2c230"))
    c.rounded_rect(40, 28, 48, 36, 0 if small else u, hex_colour("#1d4fc4"))
    if size >= 48:
        c.rounded_rect(41.5, 29.5, 46.5, 34.5, u, hex_colour("#3f78ee"))

    # The LED on the front of the upper jaw.
    if small:
        c.rounded_rect(40, 8, 48, 16, 0, hex_colour("#3ee05a"))
    else:
        c.circle(44, 12, 3.5 + u * 0.5, hex_colour("#0f2a14"))
        c.circle(44, 12, 3.5 - u * 0.5, hex_colour("#3ee05a"))
        if size >= 48:
            c.circle(43, 11, 1.2, hex_colour("#d8ffd8", 0.8))
    return c


# --------------------------------------------------------------------------
# The emblem: 32 x 32 pixels drawn pixel by pixel in the VGA colours.

VGA = {
    "black": (0x00, 0x00, 0x00), "maroon": (0x80, 0x00, 0x00), "green": (0x00, 0x80, 0x00),
    "olive": (0x80, 0x80, 0x00), "navy": (0x00, 0x00, 0x80), "purple": (0x80, 0x00, 0x80),
    "teal": (0x00, 0x80, 0x80), "silver": (0xC0, 0xC0, 0xC0), "gray": (0x80, 0x80, 0x80),
    "red": (0xFF, 0x00, 0x00), "lime": (0x00, 0xFF, 0x00), "yellow": (0xFF, 0xFF, 0x00),
    "blue": (0x00, 0x00, 0xFF), "fuchsia": (0xFF, 0x00, 0xFF), "aqua": (0x00, 0xFF, 0xFF),
    "white": (0xFF, 0xFF, 0xFF),
}

# Capital letters, 6 rows high.
GLYPHS = {
    "K": ["X..X", "X.X.", "XX..", "XX..", "X.X.", "X..X"],
    "A": [".XX.", "X..X", "X..X", "XXXX", "X..X", "X..X"],
    "L": ["X...", "X...", "X...", "X...", "X...", "XXXX"],
    "V": ["X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X.."],
    "O": [".XX.", "X..X", "X..X", "X..X", "X..X", ".XX."],
    "R": ["XXX.", "X..X", "X..X", "XXX.", "X.X.", "X..X"],
}


class PixelGrid:
    def __init__(self, size):
        self.size = size
        self.cells = [[None] * size for _ in range(size)]

    def put(self, x, y, name):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.cells[y][x] = name

    def rect(self, x0, y0, x1, y1, name):
        """Fills the inclusive rectangle x0..x1, y0..y1."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, name)

    def text(self, x, y, word, name):
        for letter in word:
            glyph = GLYPHS[letter]
            for dy, line in enumerate(glyph):
                for dx, mark in enumerate(line):
                    if mark == "X":
                        self.put(x + dx, y + dy, name)
            x += len(glyph[0]) + 1

    def pixels(self):
        return [[VGA[c] + (255,) if c else (0, 0, 0, 0) for c in row] for row in self.cells]


def text_width(word):
    return sum(len(GLYPHS[ch][0]) for ch in word) + len(word) - 1


def draw_emblem():
    g = PixelGrid(32)
    g.text((32 - text_width("KALVOR")) // 2, 1, "KALVOR", "black")

    # Housing: upper jaw, lower jaw and back, outlined in black with a
    # silver edge for the light from the top left.
    parts = [(3, 9, 24, 15), (3, 23, 24, 29), (3, 9, 9, 29)]
    for x0, y0, x1, y1 in parts:
        g.rect(x0, y0, x1, y1, "black")
    for x0, y0, x1, y1 in parts:
        g.rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, "gray")
    g.rect(4, 10, 23, 10, "silver")   # top edge of the upper jaw
    g.rect(4, 10, 4, 28, "silver")    # left edge of the back
    g.rect(10, 24, 23, 24, "silver")  # top edge of the lower jaw
    for x, y in ((3, 9), (24, 9), (3, 29), (24, 29), (24, 15), (24, 23)):
        g.put(x, y, None)             # rounded outer corners

    # Lamp under the upper jaw, sensor on the lower jaw.
    g.rect(15, 15, 19, 15, "yellow")
    g.rect(15, 23, 19, 23, "teal")

    # The beam crossing the gap.
    g.rect(16, 16, 18, 22, "yellow")
    g.rect(17, 16, 17, 22, "white")

    # The slot in the back and the film strip running through the gap.
    g.rect(8, 17, 9, 21, "black")
    g.rect(8, 18, 31, 20, "olive")
    g.rect(9, 19, 30, 19, "yellow")
    g.rect(31, 18, 31, 20, None)
    g.put(31, 19, "olive")

    # The exposed spot.
    g.rect(16, 18, 18, 20, "navy")
    g.put(17, 19, "blue")

    # The LED.
    g.rect(20, 12, 21, 13, "lime")
    g.put(21, 13, "green")
    return g.pixels()


# --------------------------------------------------------------------------

ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.normpath(os.path.join(here, "..", "..", "resources")))
    parser.add_argument("--preview", help="also write magnified copies into this folder")
    args = parser.parse_args()

    emblem = draw_emblem()
    write_png(os.path.join(args.out, "about", "emblem.png"), 32, 32, emblem)
    if args.preview:
        write_png(os.path.join(args.preview, "emblem-x8.png"), 256, 256, magnify(emblem, 8))

    portsetup_pictures.write(os.path.join(args.out, "portsetup"))

    os.makedirs(os.path.join(args.out, "icons"), exist_ok=True)
    with open(os.path.join(args.out, "icons", "kalvor.svg"), "w", encoding="utf-8") as f:
        f.write(icon_svg())
    for size in ICON_SIZES:
        icon = draw_icon(size)
        write_png(os.path.join(args.out, "icons", "kalvor-%d.png" % size), size, size, icon)
        if args.preview and size <= 64:
            factor = 256 // size
            write_png(os.path.join(args.preview, "icon-%d-x%d.png" % (size, factor)), size * factor, size * factor,
                      magnify(icon, factor))


if __name__ == "__main__":
    main()
