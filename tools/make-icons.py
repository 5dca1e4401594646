#!/usr/bin/env python3
"""Draws the program's 32x32 icons and writes them as XPM under res/icons/,
the program's icon as PNG at the sizes of the desktop's icon theme, and as
a Windows icon file holding those and 16x16.

Run it again after changing a drawing; the files are committed so the
build needs no Python.
"""
import math
import os
import struct
import sys
import zlib

SIZE = 32  # the drawings' coordinates
PNG_SIZES = (32, 48, 64, 128)
ICO_SIZES = (16, 32, 48, 64, 128)
SUPERSAMPLE = 4  # samples per pixel side for the smooth edges of the PNGs


class Canvas:
    def __init__(self, pixels=SIZE):
        self.pixels = pixels
        self.px = [[None] * pixels for _ in range(pixels)]

    def fill(self, inside, colour):
        unit = SIZE / self.pixels
        for y in range(self.pixels):
            for x in range(self.pixels):
                if inside((x + 0.5) * unit, (y + 0.5) * unit):
                    self.px[y][x] = colour

    def rounded_square(self, margin, radius, colour):
        lo, hi = margin, SIZE - margin

        def inside(x, y):
            if not (lo <= x <= hi and lo <= y <= hi):
                return False
            cx = min(max(x, lo + radius), hi - radius)
            cy = min(max(y, lo + radius), hi - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
        self.fill(inside, colour)

    def ring(self, cx, cy, r_out, r_in, colour):
        self.fill(lambda x, y: r_in ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out ** 2, colour)

    def disc(self, cx, cy, r, colour):
        self.ring(cx, cy, r, 0, colour)

    def polygon(self, points, colour):
        def inside(x, y):
            hit = False
            j = len(points) - 1
            for i, (xi, yi) in enumerate(points):
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit
        self.fill(inside, colour)

    def bar(self, x0, y0, x1, y1, colour):
        self.fill(lambda x, y: x0 <= x <= x1 and y0 <= y <= y1, colour)

    def xpm(self, name):
        colours = sorted({c for row in self.px for c in row if c})
        keys = ".abcdefghijklmnopqrstuvwxyz"
        key = {c: keys[i + 1] for i, c in enumerate(colours)}
        lines = [f'"{SIZE} {SIZE} {len(colours) + 1} 1"', '"  c None"']
        lines += [f'"{key[c]} c {c}"' for c in colours]
        lines += ['"' + "".join(key[c] if c else " " for c in row) + '"' for row in self.px]
        body = ",\n".join(lines)
        return f"/* XPM */\nstatic const char* const {name}[] = {{\n{body}}};\n"

    def png(self, factor):
        """RGBA PNG of this canvas shrunk by `factor`, each pixel the mean of its samples."""
        out = self.pixels // factor
        raw = bytearray()
        for y in range(out):
            raw.append(0)  # no filter
            for x in range(out):
                samples = [self.px[y * factor + j][x * factor + i] for j in range(factor) for i in range(factor)]
                solid = [tuple(int(c[k:k + 2], 16) for k in (1, 3, 5)) for c in samples if c]
                alpha = len(solid) / len(samples)
                rgb = [round(sum(c[k] for c in solid) / len(solid)) if solid else 0 for k in range(3)]
                raw += bytes(rgb + [round(alpha * 255)])

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
        header = struct.pack(">IIBBBBB", out, out, 8, 6, 0, 0, 0)
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")


BLUE, DARK, WHITE, ORANGE, GREEN, RED = "#1E5FB4", "#123C73", "#FFFFFF", "#F28C1E", "#2E9E4F", "#C8322D"


def app_icon(pixels=SIZE):
    """128: the program, a Q on a blue tile with an orange spark."""
    c = Canvas(pixels)
    c.rounded_square(1, 6, BLUE)
    c.ring(15, 15, 9.5, 6, WHITE)
    c.polygon([(18, 19), (21, 17), (27, 25), (24, 27)], WHITE)
    c.polygon([(25, 3), (19, 12), (23, 12), (20, 19), (28, 9), (24, 9)], ORANGE)
    return c


def cache_start_icon():
    """136: start caching, an arrow down into a tray."""
    c = Canvas()
    c.bar(13, 3, 19, 15, GREEN)
    c.polygon([(7, 14), (25, 14), (16, 24)], GREEN)
    c.bar(4, 25, 28, 29, DARK)
    c.bar(4, 20, 7, 29, DARK)
    c.bar(25, 20, 28, 29, DARK)
    return c


def cache_stop_icon():
    """132: stop caching, a red square."""
    c = Canvas()
    c.rounded_square(6, 3, RED)
    return c


def refresh_icon():
    """133: refresh, a circular arrow."""
    c = Canvas()
    c.fill(lambda x, y: 8 ** 2 <= (x - 16) ** 2 + (y - 16) ** 2 <= 12 ** 2
           and not (x > 16 and y < 16 and (x - 16) > (16 - y) * 0.2), BLUE)
    c.polygon([(18, 1), (18, 13), (28, 7)], BLUE)
    return c


def accel_start_icon():
    """134: start acceleration, a play triangle in a circle."""
    c = Canvas()
    c.disc(16, 16, 14, GREEN)
    c.polygon([(12, 8), (12, 24), (24, 16)], WHITE)
    return c


def accel_stop_icon():
    """135: acceleration running (press to stop), a pause sign in a circle."""
    c = Canvas()
    c.disc(16, 16, 14, ORANGE)
    c.bar(10, 9, 14, 23, WHITE)
    c.bar(18, 9, 22, 23, WHITE)
    return c


ICONS = {128: app_icon, 132: cache_stop_icon, 133: refresh_icon,
         134: accel_start_icon, 135: accel_stop_icon, 136: cache_start_icon}


def ico(images):
    """A Windows .ico of PNG images (Windows Vista and later read them), smallest first."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, png in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(png), offset + len(data))
        data += png
    return header + entries + data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "res", "icons")
    os.makedirs(out, exist_ok=True)
    for number, draw in ICONS.items():
        with open(os.path.join(out, f"icon{number}.xpm"), "w") as f:
            f.write(draw().xpm(f"icon{number}_xpm"))
    for size in PNG_SIZES:
        with open(os.path.join(out, f"quorvel-client-{size}.png"), "wb") as f:
            f.write(app_icon(size * SUPERSAMPLE).png(SUPERSAMPLE))
    with open(os.path.join(out, "quorvel-client.ico"), "wb") as f:
        f.write(ico([(size, app_icon(size * SUPERSAMPLE).png(SUPERSAMPLE)) for size in ICO_SIZES]))


if __name__ == "__main__":
    main()
