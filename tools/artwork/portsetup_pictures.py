#!/usr/bin/env python3
"""The pictures of the port setup dialog, drawn pixel by pixel.

DIP.png / DIPoff.png  16 x 48, 16 colours: one address switch on / off, on the
                      red body of the switch block.
card.png              300 x 282, 256 colours: the BRENIK card with its address
                      switches at the factory setting 0x300 (4 and 3 off).

make_artwork.py beside this file writes them into resources/portsetup/.
"""
import os

from png import write_indexed

# ---------------------------------------------------------------- drawing


class Canvas:
    def __init__(self, w, h, colour):
        self.w, self.h = w, h
        self.px = [[colour] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def get(self, x, y):
        return self.px[y][x]

    def fill(self, x0, y0, x1, y1, c):
        """Fills the rectangle x0..x1, y0..y1 (inclusive)."""
        for y in range(max(0, y0), min(self.h, y1 + 1)):
            row = self.px[y]
            for x in range(max(0, x0), min(self.w, x1 + 1)):
                row[x] = c

    def frame(self, x0, y0, x1, y1, c):
        self.fill(x0, y0, x1, y0, c)
        self.fill(x0, y1, x1, y1, c)
        self.fill(x0, y0, x0, y1, c)
        self.fill(x1, y0, x1, y1, c)

    def bevel(self, x0, y0, x1, y1, light, dark):
        """A 1-pixel 3D edge: light top/left, dark bottom/right."""
        self.fill(x0, y0, x1, y0, light)
        self.fill(x0, y0, x0, y1, light)
        self.fill(x0, y1, x1, y1, dark)
        self.fill(x1, y0, x1, y1, dark)

    def hline(self, x0, x1, y, c):
        self.fill(min(x0, x1), y, max(x0, x1), y, c)

    def vline(self, x, y0, y1, c):
        self.fill(x, min(y0, y1), x, max(y0, y1), c)

    def disc(self, cx, cy, r, c):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r + r * 0.6:
                    self.put(x, y, c)

    def ring(self, cx, cy, r, c):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                d = (x - cx) ** 2 + (y - cy) ** 2
                if (r - 1) ** 2 <= d <= r * r + r * 0.6:
                    self.put(x, y, c)

    def text(self, x, y, s, c, font, scale=1, spacing=1):
        glyph_w = len(next(iter(font.values()))[0])
        for ch in s:
            g = font.get(ch)
            if g:
                for gy, line in enumerate(g):
                    for gx, bit in enumerate(line):
                        if bit == '#':
                            self.fill(x + gx * scale, y + gy * scale,
                                      x + gx * scale + scale - 1, y + gy * scale + scale - 1, c)
            x += (glyph_w + spacing) * scale
        return x

    def text_width(self, s, font, scale=1, spacing=1):
        glyph_w = len(next(iter(font.values()))[0])
        return len(s) * (glyph_w + spacing) * scale - spacing * scale


# 5 x 7 capitals and digits for the silkscreen and the chip markings.
FONT5 = {
    ' ': ['.....'] * 7,
    '-': ['.....', '.....', '.....', '#####', '.....', '.....', '.....'],
    '.': ['.....', '.....', '.....', '.....', '.....', '.##..', '.##..'],
    '0': ['.###.', '#...#', '#..##', '#.#.#', '##..#', '#...#', '.###.'],
    '1': ['..#..', '.##..', '..#..', '..#..', '..#..', '..#..', '.###.'],
    '2': ['.###.', '#...#', '....#', '...#.', '..#..', '.#...', '#####'],
    '3': ['#####', '...#.', '..#..', '...#.', '....#', '#...#', '.###.'],
    '4': ['...#.', '..##.', '.#.#.', '#..#.', '#####', '...#.', '...#.'],
    '5': ['#####', '#....', '####.', '....#', '....#', '#...#', '.###.'],
    '6': ['..##.', '.#...', '#....', '####.', '#...#', '#...#', '.###.'],
    '7': ['#####', '....#', '...#.', '..#..', '.#...', '.#...', '.#...'],
    '8': ['.###.', '#...#', '#...#', '.###.', '#...#', '#...#', '.###.'],
    '9': ['.###.', '#...#', '#...#', '.####', '....#', '...#.', '.##..'],
    'A': ['.###.', '#...#', '#...#', '#####', '#...#', '#...#', '#...#'],
    'B': ['####.', '#...#', '#...#', '####.', '#...#', '#...#', '####.'],
    'C': ['.###.', '#...#', '#....', '#....', '#....', '#...#', '.###.'],
    'D': ['###..', '#..#.', '#...#', '#...#', '#...#', '#..#.', '###..'],
    'E': ['#####', '#....', '#....', '####.', '#....', '#....', '#####'],
    'F': ['#####', '#....', '#....', '####.', '#....', '#....', '#....'],
    'G': ['.###.', '#...#', '#....', '#.###', '#...#', '#...#', '.####'],
    'H': ['#...#', '#...#', '#...#', '#####', '#...#', '#...#', '#...#'],
    'I': ['.###.', '..#..', '..#..', '..#..', '..#..', '..#..', '.###.'],
    'J': ['..###', '...#.', '...#.', '...#.', '...#.', '#..#.', '.##..'],
    'K': ['#...#', '#..#.', '#.#..', '##...', '#.#..', '#..#.', '#...#'],
    'L': ['#....', '#....', '#....', '#....', '#....', '#....', '#####'],
    'M': ['#...#', '##.##', '#.#.#', '#.#.#', '#...#', '#...#', '#...#'],
    'N': ['#...#', '#...#', '##..#', '#.#.#', '#..##', '#...#', '#...#'],
    'O': ['.###.', '#...#', '#...#', '#...#', '#...#', '#...#', '.###.'],
    'P': ['####.', '#...#', '#...#', '####.', '#....', '#....', '#....'],
    'R': ['####.', '#...#', '#...#', '####.', '#.#..', '#..#.', '#...#'],
    'S': ['.####', '#....', '#....', '.###.', '....#', '....#', '####.'],
    'T': ['#####', '..#..', '..#..', '..#..', '..#..', '..#..', '..#..'],
    'U': ['#...#', '#...#', '#...#', '#...#', '#...#', '#...#', '.###.'],
    'V': ['#...#', '#...#', '#...#', '#...#', '#...#', '.#.#.', '..#..'],
    'W': ['#...#', '#...#', '#...#', '#.#.#', '#.#.#', '#.#.#', '.#.#.'],
    'X': ['#...#', '#...#', '.#.#.', '..#..', '.#.#.', '#...#', '#...#'],
    'Y': ['#...#', '#...#', '.#.#.', '..#..', '..#..', '..#..', '..#..'],
    'Z': ['#####', '....#', '...#.', '..#..', '.#...', '#....', '#####'],
}

# 3 x 5 digits and a few letters for the small chip markings.
FONT3 = {
    ' ': ['...'] * 5,
    '0': ['###', '#.#', '#.#', '#.#', '###'],
    '1': ['.#.', '##.', '.#.', '.#.', '###'],
    '2': ['###', '..#', '###', '#..', '###'],
    '3': ['###', '..#', '.##', '..#', '###'],
    '4': ['#.#', '#.#', '###', '..#', '..#'],
    '5': ['###', '#..', '###', '..#', '###'],
    '6': ['###', '#..', '###', '#.#', '###'],
    '7': ['###', '..#', '.#.', '.#.', '.#.'],
    '8': ['###', '#.#', '###', '#.#', '###'],
    '9': ['###', '#.#', '###', '..#', '###'],
    'A': ['.#.', '#.#', '###', '#.#', '#.#'],
    'C': ['###', '#..', '#..', '#..', '###'],
    'D': ['##.', '#.#', '#.#', '#.#', '##.'],
    'L': ['#..', '#..', '#..', '#..', '###'],
    'S': ['###', '#..', '###', '..#', '###'],
    'U': ['#.#', '#.#', '#.#', '#.#', '###'],
    'R': ['##.', '#.#', '##.', '#.#', '#.#'],
    'N': ['#.#', '###', '###', '###', '#.#'],
    'O': ['###', '#.#', '#.#', '#.#', '###'],
    'P': ['###', '#.#', '###', '#..', '#..'],
    'J': ['..#', '..#', '..#', '#.#', '###'],
    'K': ['#.#', '#.#', '##.', '#.#', '#.#'],
    'X': ['#.#', '#.#', '.#.', '#.#', '#.#'],
    'Y': ['#.#', '#.#', '.#.', '.#.', '.#.'],
    'V': ['#.#', '#.#', '#.#', '#.#', '.#.'],
    'B': ['##.', '#.#', '##.', '#.#', '##.'],
    'E': ['###', '#..', '##.', '#..', '###'],
    'F': ['###', '#..', '##.', '#..', '#..'],
    'I': ['###', '.#.', '.#.', '.#.', '###'],
    'T': ['###', '.#.', '.#.', '.#.', '.#.'],
    '-': ['...', '...', '###', '...', '...'],
}

# ---------------------------------------------------------------- colours

RED = (255, 0, 0)
DARK_RED = (128, 0, 0)
WHITE = (255, 255, 255)
LIGHT_GREY = (224, 224, 224)
GREY = (160, 160, 160)
DARK_GREY = (96, 96, 96)
BLACK = (0, 0, 0)

# ---------------------------------------------------------------- switch pictures


def switch_picture(on):
    """One slot of the switch block, 16 x 48, on the red body.

    The white part is the raised portion of the slider: up when the switch is
    on, down when it is off. The other half of the slot is grey.
    """
    c = Canvas(16, 48, RED)
    x0, x1, y0, y1 = 3, 12, 3, 44          # the slot, outline included
    mid = (y0 + y1 + 1) // 2               # 24: first row of the lower half
    c.frame(x0, y0, x1, y1, DARK_RED)
    # the sunken slot: dark edge top/left, light edge bottom/right
    c.fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, GREY)
    c.hline(x0 + 1, x1 - 1, y0 + 1, DARK_GREY)
    c.vline(x0 + 1, y0 + 1, y1 - 1, DARK_GREY)
    c.hline(x0 + 1, x1 - 1, y1 - 1, LIGHT_GREY)
    c.vline(x1 - 1, y0 + 1, y1 - 1, LIGHT_GREY)
    # the raised portion: white with a grey shadow edge
    top, bottom = (y0 + 2, mid - 1) if on else (mid, y1 - 2)
    c.fill(x0 + 2, top, x1 - 2, bottom, WHITE)
    c.hline(x0 + 2, x1 - 2, bottom, LIGHT_GREY)
    c.vline(x1 - 2, top, bottom, LIGHT_GREY)
    # the ridges of the slider's grip
    for y in range(top + 3, bottom - 1, 3):
        c.hline(x0 + 3, x1 - 3, y, LIGHT_GREY)
    return c


# ---------------------------------------------------------------- the card

BACKDROP = (206, 204, 196)
BACKDROP_SHADOW = (150, 148, 140)
PCB = (22, 112, 56)
PCB_DARK = (14, 84, 40)
PCB_EDGE = (10, 62, 30)
TRACE = (40, 140, 74)
SILK = (236, 236, 226)
GOLD = (214, 170, 56)
GOLD_DARK = (150, 112, 30)
PAD = (196, 196, 180)
CHIP = (30, 30, 34)
CHIP_HI = (70, 70, 76)
CHIP_TEXT = (190, 190, 190)
PIN = (200, 200, 206)
STEEL = (186, 190, 196)
STEEL_HI = (228, 230, 234)
STEEL_LO = (120, 124, 130)
CONNECTOR = (50, 50, 56)
CAP_BLUE = (40, 84, 170)
CAP_YELLOW = (214, 180, 60)
RES_BODY = (206, 176, 130)
BAND_RED = (180, 40, 30)
BAND_BROWN = (110, 60, 20)
BAND_BLACK = (20, 20, 20)


def chip(c, x, y, pins_per_side, width, label, sublabel=''):
    """A DIP package lying horizontally: pins on the top and bottom edges."""
    length = pins_per_side * 6 + 2
    c.fill(x, y, x + length - 1, y + width - 1, CHIP)
    c.hline(x, x + length - 1, y, CHIP_HI)
    c.vline(x, y, y + width - 1, CHIP_HI)
    for k in range(pins_per_side):
        px = x + 3 + k * 6
        c.fill(px, y - 3, px + 2, y - 1, PIN)
        c.fill(px, y + width, px + 2, y + width + 2, PIN)
    # the notch and pin-1 mark
    c.disc(x, y + width // 2, 2, PCB_DARK)
    c.fill(x + 3, y + width - 5, x + 4, y + width - 4, CHIP_HI)
    tw = c.text_width(label, FONT3)
    ty = y + (width - (11 if sublabel else 5)) // 2
    c.text(x + (length - tw) // 2, ty, label, CHIP_TEXT, FONT3)
    if sublabel:
        sw = c.text_width(sublabel, FONT3)
        c.text(x + (length - sw) // 2, ty + 6, sublabel, CHIP_TEXT, FONT3)
    return length


def resistor(c, x, y, bands):
    c.hline(x - 4, x + 17, y + 2, PIN)
    c.fill(x, y, x + 13, y + 4, RES_BODY)
    c.hline(x, x + 13, y, (226, 202, 160))
    for k, band in enumerate(bands):
        c.fill(x + 2 + k * 3, y, x + 3 + k * 3, y + 4, band)


def capacitor(c, x, y, colour):
    c.fill(x, y, x + 7, y + 4, colour)
    c.hline(x, x + 7, y, tuple(min(255, v + 50) for v in colour))
    c.vline(x + 2, y + 5, y + 6, PIN)
    c.vline(x + 5, y + 5, y + 6, PIN)


def card_picture():
    c = Canvas(300, 282, BACKDROP)
    # board outline: the main area and the bus tab along the bottom
    bx0, by0, bx1, by1 = 6, 8, 283, 236
    tab_x0, tab_x1, tab_y1 = 58, 252, 262
    # shadow on the backdrop
    c.fill(bx0 + 4, by0 + 4, bx1 + 4, by1 + 4, BACKDROP_SHADOW)
    c.fill(tab_x0 + 4, by1, tab_x1 + 4, tab_y1 + 4, BACKDROP_SHADOW)
    c.fill(bx0, by0, bx1, by1, PCB)
    c.fill(tab_x0, by1, tab_x1, tab_y1, PCB)
    c.frame(bx0, by0, bx1, by1, PCB_EDGE)
    c.fill(bx0 + 1, by1, tab_x0 - 1, by1, PCB_EDGE)
    c.fill(tab_x1 + 1, by1, bx1, by1, PCB_EDGE)
    c.vline(tab_x0, by1, tab_y1, PCB_EDGE)
    c.vline(tab_x1, by1, tab_y1, PCB_EDGE)
    c.hline(tab_x0, tab_x1, tab_y1, PCB_EDGE)
    c.hline(bx0 + 1, bx1 - 1, by0 + 1, (40, 138, 74))

    # the edge connector: gold fingers on the tab
    for x in range(tab_x0 + 6, tab_x1 - 6, 6):
        c.fill(x, 244, x + 3, tab_y1 - 2, GOLD)
        c.vline(x + 3, 244, tab_y1 - 2, GOLD_DARK)
        c.vline(x + 1, 240, 243, TRACE)

    # traces: bus lines running up from the fingers, and a few runs across
    for k, x in enumerate(range(tab_x0 + 7, tab_x1 - 6, 12)):
        top = 200 - (k % 4) * 6
        c.vline(x + 1, top, 239, TRACE)
        c.hline(x + 1, x + 5, top, TRACE)
    for y in (114, 118, 122):
        c.hline(118, 268, y, TRACE)
    for x in (112, 116, 120):
        c.vline(x, 60, 110, TRACE)
    c.hline(112, 180, 60, TRACE)

    # the mounting bracket at the rear edge, with the head connector
    c.fill(286, 2, 297, 276, STEEL)
    c.vline(286, 2, 276, STEEL_HI)
    c.vline(297, 2, 276, STEEL_LO)
    c.hline(286, 297, 276, STEEL_LO)
    c.fill(284, 2, 297, 10, STEEL)
    c.hline(284, 297, 2, STEEL_HI)
    c.hline(284, 297, 10, STEEL_LO)
    c.disc(291, 6, 2, STEEL_LO)
    c.fill(279, 56, 296, 132, CONNECTOR)          # the D connector shell
    c.frame(279, 56, 296, 132, STEEL_LO)
    c.fill(282, 62, 293, 126, (30, 30, 34))
    for y in range(65, 124, 5):
        c.fill(285, y, 286, y + 1, GOLD)
        c.fill(289, y + 2, 290, y + 3, GOLD)
    c.disc(290, 48, 3, STEEL_LO)
    c.disc(290, 140, 3, STEEL_LO)

    # mounting holes
    for hx, hy in ((16, 18), (270, 18), (16, 224)):
        c.disc(hx, hy, 5, PAD)
        c.disc(hx, hy, 3, BACKDROP)

    # silkscreen: maker and product
    c.text(34, 20, 'BRENIK', SILK, FONT5, scale=2)
    c.text(34, 40, 'ADC-12 INTERFACE', SILK, FONT5)
    c.text(186, 226, 'REV C', SILK, FONT3)

    # the converter and its support chips
    chip(c, 136, 26, 14, 22, 'ADC', '12BIT')
    chip(c, 136, 72, 10, 18, '74LS688')      # address comparator
    chip(c, 130, 140, 8, 16, '74LS244')
    chip(c, 196, 140, 7, 16, '74LS273')
    chip(c, 136, 184, 7, 16, '74LS04')
    chip(c, 196, 184, 7, 16, 'LF356')
    c.text(128, 16, 'U1', SILK, FONT3)
    c.text(136, 62, 'U2', SILK, FONT3)
    c.text(130, 130, 'U3', SILK, FONT3)
    c.text(196, 130, 'U4', SILK, FONT3)
    c.text(136, 174, 'U5', SILK, FONT3)
    c.text(196, 174, 'U6', SILK, FONT3)

    # passives
    for k in range(4):
        resistor(c, 34 + k * 20, 76, (BAND_BROWN, BAND_BLACK, BAND_RED))
    c.text(34, 84, 'R1 R2 R3 R4', SILK, FONT3)
    for k in range(3):
        capacitor(c, 228 + k * 14, 80, CAP_YELLOW)
    capacitor(c, 250, 30, CAP_BLUE)
    capacitor(c, 250, 44, CAP_BLUE)
    c.disc(40, 206, 8, (34, 34, 60))               # electrolytic capacitor
    c.disc(40, 206, 7, (44, 56, 120))
    c.fill(38, 198, 42, 214, (150, 160, 200))
    c.text(52, 203, 'C9', SILK, FONT3)
    c.fill(72, 200, 92, 212, (200, 200, 206))      # crystal can
    c.frame(72, 200, 92, 212, (130, 130, 140))
    c.text(95, 203, 'Y1', SILK, FONT3)

    draw_switch_block(c, 14, 104)
    return c


def draw_switch_block(c, x0, y0):
    """The address switches at the factory setting 0x300, with their numbers.

    Switch index i (left to right) is board number 9 - i; 4 and 3 are off.
    """
    pitch = 12
    n = 7
    body_w = n * pitch + 8
    # silkscreen: the block's name and its numbers above the switches
    c.text(x0, y0, 'ADDRESS', SILK, FONT5)
    c.text(x0 + c.text_width('ADDRESS', FONT5) + 6, y0, 'S1', SILK, FONT5)
    num_y = y0 + 12
    for i in range(n):
        sx = x0 + 4 + i * pitch
        c.text(sx + 2, num_y, str(9 - i), SILK, FONT5)
    by0 = num_y + 11
    by1 = by0 + 40
    # the red body with a little depth
    c.fill(x0 + 2, by0 + 2, x0 + body_w + 1, by1 + 2, PCB_EDGE)
    c.fill(x0, by0, x0 + body_w - 1, by1, RED)
    c.bevel(x0, by0, x0 + body_w - 1, by1, (255, 110, 110), DARK_RED)
    # "ON" with an arrow pointing up, printed on the body
    c.text(x0 + body_w + 4, by0 + 2, 'ON', SILK, FONT5)
    ax = x0 + body_w + 8
    c.vline(ax, by0 + 12, by0 + 24, SILK)
    c.hline(ax - 1, ax + 1, by0 + 13, SILK)
    c.hline(ax - 2, ax + 2, by0 + 14, SILK)
    for i in range(n):
        on = (9 - i) not in (4, 3)
        sx = x0 + 4 + i * pitch
        sx1 = sx + 8
        sy0, sy1 = by0 + 4, by1 - 4
        mid = (sy0 + sy1 + 1) // 2
        c.fill(sx, sy0, sx1, sy1, GREY)
        c.hline(sx, sx1, sy0, DARK_GREY)
        c.vline(sx, sy0, sy1, DARK_GREY)
        c.hline(sx, sx1, sy1, LIGHT_GREY)
        c.vline(sx1, sy0, sy1, LIGHT_GREY)
        top, bottom = (sy0 + 1, mid - 1) if on else (mid, sy1 - 1)
        c.fill(sx + 1, top, sx1 - 1, bottom, WHITE)
        c.hline(sx + 1, sx1 - 1, bottom, LIGHT_GREY)
        for y in range(top + 3, bottom - 1, 3):
            c.hline(sx + 2, sx1 - 2, y, LIGHT_GREY)
    # pads of the switch's pins below the body
    for i in range(n):
        sx = x0 + 4 + i * pitch + 3
        c.fill(sx, by1 + 4, sx + 2, by1 + 6, PAD)
        c.vline(sx + 1, by1 + 7, by1 + 16, TRACE)


def write(out):
    """Writes DIP.png, DIPoff.png and card.png into the folder out."""
    write_indexed(os.path.join(out, 'DIP.png'), switch_picture(True).px, bit_depth=4)
    write_indexed(os.path.join(out, 'DIPoff.png'), switch_picture(False).px, bit_depth=4)
    write_indexed(os.path.join(out, 'card.png'), card_picture().px, bit_depth=8)
