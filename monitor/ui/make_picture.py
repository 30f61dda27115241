#!/usr/bin/env python3
"""Draws the picture of the port dialog: monitor/ui/nimbrel.bmp.

A network printer on a light sky, joined by network lines to three nodes, with the product name
written underneath. 260 x 158 pixels, 8 bits per pixel (a 256-colour palette), as the dialog's
picture control expects. Python 3 standard library only; the output is the same on every run.

    python3 monitor/ui/make_picture.py [OUTPUT.bmp]
"""

import os
import struct
import sys

WIDTH, HEIGHT = 260, 158

# 5 x 7 glyphs of the few letters written on the picture ("#" = ink).
GLYPHS = {
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "i": ["..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."],
    "m": [".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
    "b": ["#....", "#....", "####.", "#...#", "#...#", "#...#", "####."],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "I": ["###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    " ": ["...", "...", "...", "...", "...", "...", "..."],
}


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[(255, 255, 255)] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.put(x, y, colour)

    def shaded_rect(self, x0, y0, x1, y1, top, bottom):
        """A rectangle whose colour runs from top to bottom."""
        span = max(1, y1 - y0 - 1)
        for y in range(y0, y1):
            self.rect(x0, y, x1, y + 1, blend(top, bottom, (y - y0) / span))

    def frame(self, x0, y0, x1, y1, colour):
        self.rect(x0, y0, x1, y0 + 1, colour)
        self.rect(x0, y1 - 1, x1, y1, colour)
        self.rect(x0, y0, x0 + 1, y1, colour)
        self.rect(x1 - 1, y0, x1, y1, colour)

    def disc(self, cx, cy, radius, inner, outer):
        """A filled circle, lit from the upper left."""
        for y in range(cy - radius, cy + radius + 1):
            for x in range(cx - radius, cx + radius + 1):
                d2 = (x - cx) ** 2 + (y - cy) ** 2
                if d2 <= radius * radius:
                    light = ((x - cx + radius * 0.4) ** 2 + (y - cy + radius * 0.4) ** 2) ** 0.5
                    self.put(x, y, blend(inner, outer, min(1.0, light / (radius * 1.6))))

    def ring(self, cx, cy, radius, colour):
        for y in range(cy - radius, cy + radius + 1):
            for x in range(cx - radius, cx + radius + 1):
                d2 = (x - cx) ** 2 + (y - cy) ** 2
                if (radius - 1) ** 2 < d2 <= radius * radius:
                    self.put(x, y, colour)

    def line(self, x0, y0, x1, y1, colour, dash=0):
        """Bresenham; with dash > 0 every other run of `dash` pixels is left out."""
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err, step = dx + dy, 0
        while True:
            if dash == 0 or (step // dash) % 2 == 0:
                self.put(x0, y0, colour)
                self.put(x0, y0 + 1, colour)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy
            step += 1

    def text(self, x, y, text, scale, colour, shadow=None):
        for ch in text:
            glyph = GLYPHS[ch]
            for row, bits in enumerate(glyph):
                for col, bit in enumerate(bits):
                    if bit != "#":
                        continue
                    if shadow is not None:
                        self.rect(x + col * scale + 1, y + row * scale + 1,
                                  x + (col + 1) * scale + 1, y + (row + 1) * scale + 1, shadow)
                    self.rect(x + col * scale, y + row * scale,
                              x + (col + 1) * scale, y + (row + 1) * scale, colour)
            x += (len(glyph[0]) + 1) * scale


def blend(a, b, t):
    """The colour at t (0..1) between a and b, in 32 steps, so the picture keeps few colours."""
    t = round(max(0.0, min(1.0, t)) * 31) / 31
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def text_width(text, scale):
    return sum((len(GLYPHS[ch][0]) + 1) * scale for ch in text) - scale


def draw():
    c = Canvas(WIDTH, HEIGHT)
    # Sky: light blue at the top fading to white.
    c.shaded_rect(0, 0, WIDTH, HEIGHT, (150, 190, 235), (250, 252, 255))

    # Network: three nodes on the right, joined to each other and to the printer.
    nodes = [(205, 28), (232, 70), (196, 92)]
    printer_port = (132, 62)
    for node in nodes:
        c.line(printer_port[0], printer_port[1], node[0], node[1], (40, 90, 170), dash=3)
    for a, b in ((0, 1), (1, 2), (2, 0)):
        c.line(nodes[a][0], nodes[a][1], nodes[b][0], nodes[b][1], (90, 130, 200))
    for x, y in nodes:
        c.disc(x, y, 9, (200, 235, 255), (20, 80, 170))
        c.ring(x, y, 9, (10, 40, 100))

    # Printer: sheet in the input tray, body, output slot, panel.
    c.rect(56, 14, 112, 40, (255, 255, 255))
    c.frame(56, 14, 112, 40, (120, 120, 130))
    for y in range(20, 36, 5):
        c.rect(62, y, 104, y + 1, (150, 170, 200))
    c.shaded_rect(30, 38, 138, 88, (215, 218, 225), (120, 124, 135))
    c.frame(30, 38, 138, 88, (60, 62, 70))
    c.rect(30, 38, 138, 41, (235, 237, 242))
    c.rect(44, 64, 124, 70, (40, 42, 50))
    c.shaded_rect(48, 70, 120, 84, (250, 250, 250), (200, 205, 215))
    c.frame(48, 70, 120, 84, (110, 110, 120))
    c.rect(104, 46, 130, 56, (50, 70, 60))
    c.rect(106, 48, 112, 54, (60, 220, 90))
    c.rect(116, 48, 128, 54, (170, 230, 180))
    c.rect(36, 88, 48, 92, (60, 62, 70))
    c.rect(120, 88, 132, 92, (60, 62, 70))

    # Product name and protocol.
    scale = 4
    name = "Nimbrel"
    c.text((WIDTH - text_width(name, scale)) // 2, 104, name, scale, (20, 60, 140),
           shadow=(170, 190, 220))
    tag = "IPP"
    c.text((WIDTH - text_width(tag, 2)) // 2, 140, tag, 2, (40, 90, 170))
    return c


def write_bmp(canvas, path):
    palette = []
    index = {}
    rows = []
    for y in range(canvas.height - 1, -1, -1):  # a BMP stores the bottom row first
        row = bytearray()
        for colour in canvas.pixels[y]:
            if colour not in index:
                if len(palette) == 256:
                    raise SystemExit("the picture needs more than 256 colours")
                index[colour] = len(palette)
                palette.append(colour)
            row.append(index[colour])
        row.extend(b"\0" * ((4 - len(row) % 4) % 4))
        rows.append(bytes(row))
    palette.extend([(0, 0, 0)] * (256 - len(palette)))
    pixels = b"".join(rows)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 8, 0, len(pixels),
                       2835, 2835, 256, 0)
    with open(path, "wb") as out:
        out.write(header + info + table + pixels)


def main():
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nimbrel.bmp")
    write_bmp(draw(), sys.argv[1] if len(sys.argv) > 1 else default)


if __name__ == "__main__":
    main()
