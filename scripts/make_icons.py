#!/usr/bin/env python3
"""Draws the plug-in's icon groups from simple shapes and writes them as .ico files.

Usage: make_icons.py OUTDIR

Each group (ids 1 and 10..21) holds four 32-bit images of 16, 24, 32 and 48 pixels with an alpha
channel. A pictogram is a list of shapes in a 0..1 square, painted in order and supersampled 4 x 4
per pixel, so every size is drawn from the same description. The output depends on nothing but this
file: the same script always writes the same bytes.
"""
import math
import os
import struct
import sys

SIZES = (16, 24, 32, 48)
SUB = 4  # samples per pixel along each axis

# Colours (R, G, B)
FOLDER = (232, 184, 64)
FOLDER_DARK = (176, 128, 32)
BLUE = (52, 110, 200)
BLUE_DARK = (28, 64, 140)
GREEN = (46, 160, 67)
GREEN_DARK = (24, 100, 40)
RED = (206, 48, 48)
RED_DARK = (140, 24, 24)
GREY = (150, 150, 150)
GREY_DARK = (96, 96, 96)
PAPER = (250, 250, 246)
INK = (60, 60, 70)
SCREEN = (24, 32, 48)
TRACE = (90, 230, 120)
WHITE = (255, 255, 255)


# --- shapes: each is a predicate over a point in the unit square, with a colour ----------------

def rect(x0, y0, x1, y1, colour):
    return (lambda x, y: x0 <= x <= x1 and y0 <= y <= y1, colour)


def rounded(x0, y0, x1, y1, r, colour):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return (inside, colour)


def disc(cx, cy, r, colour):
    return (lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)


def arc(cx, cy, r, width, a0, a1, colour):
    """A ring between r - width/2 and r + width/2, between the angles a0..a1 (degrees, 0 = right,
    counted towards the top)."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > width / 2:
            return False
        a = math.degrees(math.atan2(cy - y, x - cx))
        return a0 <= a <= a1
    return (inside, colour)


def polygon(points, colour):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            xa, ya = points[i]
            xb, yb = points[(i + 1) % n]
            if (ya > y) != (yb > y):
                xc = xa + (y - ya) * (xb - xa) / (yb - ya)
                if x < xc:
                    hit = not hit
        return hit
    return (inside, colour)


def line(points, width, colour):
    """A polyline of the given width with round joins."""
    def inside(x, y):
        for (xa, ya), (xb, yb) in zip(points, points[1:]):
            dx, dy = xb - xa, yb - ya
            t = ((x - xa) * dx + (y - ya) * dy) / (dx * dx + dy * dy)
            t = min(1.0, max(0.0, t))
            if math.hypot(x - xa - t * dx, y - ya - t * dy) <= width / 2:
                return True
        return False
    return (inside, colour)


def gear(cx, cy, r, colour, hole):
    teeth = []
    for k in range(8):
        a = k * math.pi / 4
        ca, sa = math.cos(a), math.sin(a)
        w, r0, r1 = 0.055, r * 0.7, r * 1.18
        pts = [(cx + ca * r0 - sa * w, cy + sa * r0 + ca * w), (cx + ca * r1 - sa * w, cy + sa * r1 + ca * w),
               (cx + ca * r1 + sa * w, cy + sa * r1 - ca * w), (cx + ca * r0 + sa * w, cy + sa * r0 - ca * w)]
        teeth.append(polygon(pts, colour))
    return teeth + [disc(cx, cy, r * 0.85, colour), disc(cx, cy, r * 0.38, hole)]


def folder(body, dark):
    return [rounded(0.06, 0.16, 0.46, 0.36, 0.05, dark),
            rounded(0.06, 0.24, 0.94, 0.86, 0.06, dark),
            rounded(0.09, 0.30, 0.91, 0.83, 0.05, body)]


def document():
    return [polygon([(0.18, 0.06), (0.64, 0.06), (0.82, 0.24), (0.82, 0.94), (0.18, 0.94)], INK),
            polygon([(0.22, 0.10), (0.62, 0.10), (0.78, 0.26), (0.78, 0.90), (0.22, 0.90)], PAPER),
            polygon([(0.62, 0.10), (0.78, 0.26), (0.62, 0.26)], GREY)]


def speaker(colour):
    return [rect(0.08, 0.38, 0.26, 0.62, colour),
            polygon([(0.24, 0.38), (0.48, 0.16), (0.48, 0.84), (0.24, 0.62)], colour)]


# --- the pictograms --------------------------------------------------------------------------

def icon_root():  # antenna mast sending waves
    shapes = [polygon([(0.50, 0.30), (0.70, 0.94), (0.30, 0.94)], GREY_DARK),
              polygon([(0.50, 0.42), (0.60, 0.88), (0.40, 0.88)], GREY),
              disc(0.50, 0.30, 0.08, RED)]
    for r in (0.20, 0.34):
        shapes.append(arc(0.50, 0.30, r, 0.07, -40, 40, BLUE))
        shapes.append(arc(0.50, 0.30, r, 0.07, 140, 220, BLUE))
    # the right-hand arc range above wraps through 180 degrees: add its other half
    shapes.append(arc(0.50, 0.30, 0.20, 0.07, -180, -140, BLUE))
    shapes.append(arc(0.50, 0.30, 0.34, 0.07, -180, -140, BLUE))
    return shapes


def icon_config_folder():  # folder with a gear
    return folder(FOLDER, FOLDER_DARK) + gear(0.62, 0.60, 0.17, INK, FOLDER)


def icon_setting():  # three sliders
    shapes = [rounded(0.06, 0.06, 0.94, 0.94, 0.10, INK), rounded(0.10, 0.10, 0.90, 0.90, 0.08, PAPER)]
    for y, knob in ((0.28, 0.66), (0.50, 0.36), (0.72, 0.56)):
        shapes.append(rect(0.18, y - 0.025, 0.82, y + 0.025, GREY_DARK))
        shapes.append(rounded(knob - 0.07, y - 0.09, knob + 0.07, y + 0.09, 0.03, BLUE))
    return shapes


def icon_spectrum():  # trace of a spectrum on a screen
    return [rounded(0.04, 0.12, 0.96, 0.88, 0.08, INK), rect(0.10, 0.18, 0.90, 0.82, SCREEN),
            line([(0.12, 0.74), (0.26, 0.70), (0.34, 0.36), (0.42, 0.70), (0.56, 0.66), (0.64, 0.24),
                  (0.72, 0.68), (0.88, 0.72)], 0.06, TRACE)]


def icon_hops():  # steps of tuning hops along the band
    return [rect(0.06, 0.84, 0.94, 0.90, INK),
            rounded(0.08, 0.56, 0.34, 0.80, 0.04, BLUE), rounded(0.37, 0.40, 0.63, 0.80, 0.04, BLUE),
            rounded(0.66, 0.22, 0.92, 0.80, 0.04, BLUE),
            line([(0.14, 0.46), (0.82, 0.12)], 0.05, BLUE_DARK),
            polygon([(0.86, 0.06), (0.90, 0.22), (0.74, 0.16)], BLUE_DARK)]


def icon_channels():  # blue folder with a stack of lines
    return folder(BLUE, BLUE_DARK) + [rect(0.24, 0.44, 0.76, 0.50, WHITE), rect(0.24, 0.56, 0.76, 0.62, WHITE),
                                      rect(0.24, 0.68, 0.76, 0.74, WHITE)]


def icon_channel_active():  # green folder with a red recording dot
    return folder(GREEN, GREEN_DARK) + [disc(0.62, 0.60, 0.18, WHITE), disc(0.62, 0.60, 0.13, RED)]


def icon_channel_idle():  # grey folder with a hollow dot
    return folder(GREY, GREY_DARK) + [arc(0.62, 0.60, 0.14, 0.06, -180, 180, WHITE)]


def icon_start_scan():  # green play triangle in a disc
    return [disc(0.5, 0.5, 0.46, GREEN_DARK), disc(0.5, 0.5, 0.41, GREEN),
            polygon([(0.38, 0.26), (0.76, 0.50), (0.38, 0.74)], WHITE)]


def icon_stop_scan():  # red stop square in a disc
    return [disc(0.5, 0.5, 0.46, RED_DARK), disc(0.5, 0.5, 0.41, RED), rect(0.32, 0.32, 0.68, 0.68, WHITE)]


def icon_live_audio():  # speaker with sound waves
    return speaker(INK) + [arc(0.48, 0.50, 0.18, 0.07, -50, 50, GREEN), arc(0.48, 0.50, 0.32, 0.07, -50, 50, GREEN)]


def icon_status():  # document with text lines and an "i"
    shapes = document()
    for y in (0.34, 0.46, 0.58):
        shapes.append(rect(0.30, y, 0.70, y + 0.05, GREY_DARK))
    return shapes + [disc(0.62, 0.76, 0.13, BLUE), rect(0.60, 0.74, 0.645, 0.84, WHITE), disc(0.622, 0.695, 0.025, WHITE)]


def icon_stop_live_audio():  # speaker with a red cross
    return speaker(INK) + [line([(0.60, 0.32), (0.90, 0.68)], 0.09, RED), line([(0.60, 0.68), (0.90, 0.32)], 0.09, RED)]


ICONS = {1: icon_root, 10: icon_config_folder, 11: icon_setting, 12: icon_spectrum, 13: icon_hops,
         14: icon_channels, 15: icon_channel_active, 16: icon_channel_idle, 17: icon_start_scan,
         18: icon_stop_scan, 19: icon_live_audio, 20: icon_status, 21: icon_stop_live_audio}


# --- rendering and the .ico format ---------------------------------------------------------------

def render(shapes, size):
    """Rows top-down of (B, G, R, A) tuples, premultiplication-free, alpha from coverage."""
    rows = []
    n = SUB * SUB
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = (px + (sx + 0.5) / SUB) / size
                    y = (py + (sy + 0.5) / SUB) / size
                    hit = None
                    for inside, colour in shapes:
                        if inside(x, y):
                            hit = colour
                    if hit is not None:
                        r += hit[0]
                        g += hit[1]
                        b += hit[2]
                        a += 1
            if a:
                row.append((b // a, g // a, r // a, (255 * a + n // 2) // n))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(c for px in row for c in px) for row in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pixels + mask


def ico(shapes):
    images = [dib(render(shapes, s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_icons.py OUTDIR\n")
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for ident, draw in sorted(ICONS.items()):
        with open(os.path.join(out, "icon%02d.ico" % ident), "wb") as f:
            f.write(ico(draw()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
