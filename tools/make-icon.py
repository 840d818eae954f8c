#!/usr/bin/env python3
"""Draws the program's file icon and writes it as a one-image .ico file.

Usage: make-icon.py OUTPUT.ico

The picture is a wide monitor whose screen carries a double-headed arrow: the tool makes the
game's picture wider. It is drawn in the window's own palette (steel blue, grey blue, pale
cyan, black) with an alpha channel, as a single 32 x 32 image of 32 bits per pixel, stored the
way the resource compiler expects it: a 40-byte BITMAPINFOHEADER, 4,096 bytes of bottom-up
BGRA pixels and a 128-byte AND mask. Only the standard library is used, and the output is the
same byte for byte on every run, so the build can regenerate it freely.
"""

import struct
import sys

SIZE = 32
SUBSAMPLES = 8  # per axis; 64 samples per pixel give smooth edges at this size

BLACK = (0, 0, 0)
COLOR_FRAME = (87, 114, 144)        # steel blue
COLOR_BACKGROUND = (184, 190, 202)  # grey blue
COLOR_PANEL = (175, 207, 206)       # pale cyan


def rounded_rect(left, top, right, bottom, radius):
    """Inside test of an axis-aligned rectangle with circular corners."""
    def inside(x, y):
        if x < left or x > right or y < top or y > bottom:
            return False
        cx = min(max(x, left + radius), right - radius)
        cy = min(max(y, top + radius), bottom - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def polygon(points):
    """Inside test of a convex polygon given clockwise in screen coordinates (y down)."""
    edges = list(zip(points, points[1:] + points[:1]))

    def inside(x, y):
        for (x0, y0), (x1, y1) in edges:
            if (x1 - x0) * (y - y0) - (y1 - y0) * (x - x0) < 0:
                return False
        return True
    return inside


def union(*shapes):
    return lambda x, y: any(shape(x, y) for shape in shapes)


def double_arrow(left, right, mid_y, shaft_half, head_len, head_half):
    """A horizontal arrow with a head at both ends."""
    shaft = polygon([(left + head_len - 0.5, mid_y - shaft_half),
                     (right - head_len + 0.5, mid_y - shaft_half),
                     (right - head_len + 0.5, mid_y + shaft_half),
                     (left + head_len - 0.5, mid_y + shaft_half)])
    head_left = polygon([(left, mid_y),
                         (left + head_len, mid_y - head_half),
                         (left + head_len, mid_y + head_half)])
    head_right = polygon([(right, mid_y),
                          (right - head_len, mid_y + head_half),
                          (right - head_len, mid_y - head_half)])
    return union(shaft, head_left, head_right)


def layers():
    """The picture, bottom layer first, as (inside test, colour, opacity)."""
    # The monitor body: 30 x 18 pixels, close to 16:9.
    body = (1.0, 4.0, 31.0, 22.5)
    stand_neck = (13.5, 21.5, 18.5, 26.5)
    stand_foot = (8.0, 25.5, 24.0, 29.0)
    screen = (3.5, 6.5, 28.5, 20.0)
    return [
        # A soft shadow under the foot so the icon sits on any background.
        (rounded_rect(7.0, 28.0, 25.0, 31.0, 1.5), BLACK, 0.30),
        (rounded_rect(*stand_neck, 0.5), BLACK, 1.0),
        (rounded_rect(stand_neck[0] + 1, stand_neck[1], stand_neck[2] - 1,
                      stand_neck[3], 0.0), COLOR_BACKGROUND, 1.0),
        (rounded_rect(*stand_foot, 1.5), BLACK, 1.0),
        (rounded_rect(stand_foot[0] + 1, stand_foot[1] + 1, stand_foot[2] - 1,
                      stand_foot[3] - 1, 0.75), COLOR_FRAME, 1.0),
        (rounded_rect(*body, 2.5), BLACK, 1.0),
        (rounded_rect(body[0] + 1, body[1] + 1, body[2] - 1, body[3] - 1, 1.75),
         COLOR_FRAME, 1.0),
        (rounded_rect(*screen, 0.5), BLACK, 1.0),
        (rounded_rect(screen[0] + 1, screen[1] + 1, screen[2] - 1, screen[3] - 1, 0.0),
         COLOR_PANEL, 1.0),
        # The lower part of the screen in grey blue: a horizon that stretches sideways.
        (rounded_rect(screen[0] + 1, 14.75, screen[2] - 1, screen[3] - 1, 0.0),
         COLOR_BACKGROUND, 1.0),
        (double_arrow(6.0, 26.0, 13.25, 1.0, 5.0, 4.0), BLACK, 1.0),
    ]


def render():
    """Returns SIZE rows of SIZE (r, g, b, a) pixels, top row first, straight alpha."""
    picture = layers()
    rows = []
    step = 1.0 / SUBSAMPLES
    count = SUBSAMPLES * SUBSAMPLES
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc_r = acc_g = acc_b = acc_a = 0.0
            for sy in range(SUBSAMPLES):
                y = py + (sy + 0.5) * step
                for sx in range(SUBSAMPLES):
                    x = px + (sx + 0.5) * step
                    # Composite the layers over transparency, premultiplied.
                    r = g = b = a = 0.0
                    for inside, colour, opacity in picture:
                        if inside(x, y):
                            keep = 1.0 - opacity
                            r = colour[0] * opacity + r * keep
                            g = colour[1] * opacity + g * keep
                            b = colour[2] * opacity + b * keep
                            a = opacity + a * keep
                    acc_r += r
                    acc_g += g
                    acc_b += b
                    acc_a += a
            alpha = acc_a / count
            if alpha <= 0.0:
                row.append((0, 0, 0, 0))
                continue
            row.append((round(acc_r / count / alpha), round(acc_g / count / alpha),
                        round(acc_b / count / alpha), round(alpha * 255)))
        rows.append(row)
    return rows


def icon_image(rows):
    """The icon image as stored in an .ico file and in an RT_ICON resource."""
    header = struct.pack('<IiiHHIIiiII',
                         40,         # biSize
                         SIZE,       # biWidth
                         SIZE * 2,   # biHeight: colour image plus AND mask
                         1,          # biPlanes
                         32,         # biBitCount
                         0,          # biCompression: BI_RGB
                         SIZE * SIZE * 4 + SIZE * SIZE // 8,  # biSizeImage
                         0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        bits = 0
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
            bits = (bits << 1) | (1 if a == 0 else 0)
        mask += bits.to_bytes(SIZE // 8, 'big')  # 32 pixels fill a whole DWORD row
    return header + bytes(colour) + bytes(mask)


def ico_file(image):
    directory = struct.pack('<HHH', 0, 1, 1)  # reserved, type icon, one image
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main(argv):
    if len(argv) != 2:
        sys.stderr.write('usage: make-icon.py OUTPUT.ico\n')
        return 2
    image = icon_image(render())
    assert len(image) == 40 + 4096 + 128, len(image)
    with open(argv[1], 'wb') as out:
        out.write(ico_file(image))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
