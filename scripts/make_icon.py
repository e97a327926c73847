#!/usr/bin/env python3
"""Draws the program's icon, app/stlview.ico: a shaded triangle-mesh cube.

Run by hand when the icon changes; the .ico is kept in the repository so that
builds need no drawing tools.
"""
import os
import struct


def shade(colour, factor):
    return tuple(min(255, int(c * factor)) for c in colour)


def inside(p, a, b, c):
    def side(p, q, r):
        return (p[0] - r[0]) * (q[1] - r[1]) - (q[0] - r[0]) * (p[1] - r[1])
    d1, d2, d3 = side(p, a, b), side(p, b, c), side(p, c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def draw(size):
    """BGRA rows, top first, with 4x4 supersampling for smooth edges."""
    s = size / 32.0
    centre, top, bottom = (16 * s, 16 * s), (16 * s, 2.5 * s), (16 * s, 29.5 * s)
    left_top, right_top = (4 * s, 9.25 * s), (28 * s, 9.25 * s)
    left_bottom, right_bottom = (4 * s, 22.75 * s), (28 * s, 22.75 * s)
    blue = (58, 125, 205)
    faces = [  # top face in two triangles, then left and right faces
        ((top, right_top, centre), shade(blue, 1.35)),
        ((top, centre, left_top), shade(blue, 1.25)),
        ((left_top, centre, bottom), shade(blue, 0.95)),
        ((left_top, bottom, left_bottom), shade(blue, 0.85)),
        ((centre, right_top, right_bottom), shade(blue, 0.65)),
        ((centre, right_bottom, bottom), shade(blue, 0.58)),
    ]
    edge = (30, 45, 80)
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0
            for sy in range(4):
                for sx in range(4):
                    p = (x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)
                    for triangle, colour in faces:
                        if inside(p, *triangle):
                            near = min(edge_distance(p, triangle[i], triangle[(i + 1) % 3]) for i in range(3))
                            col = edge if near < 0.55 * s and size >= 32 else colour
                            r, g, b, a = r + col[0], g + col[1], b + col[2], a + 255
                            break
            n = 16
            row.append((b // n, g // n, r // n, a // n))
        pixels.append(row)
    return pixels


def edge_distance(p, a, b):
    ax, ay = b[0] - a[0], b[1] - a[1]
    length = (ax * ax + ay * ay) ** 0.5
    return abs((p[0] - a[0]) * ay - (p[1] - a[1]) * ax) / length


def icon_image(size):
    pixels = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes(px) for row in reversed(pixels) for px in row)
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)
    return header + colour + mask


def main():
    sizes = [16, 24, 32, 48]
    images = [icon_image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    path = os.path.join(os.path.dirname(__file__), '..', 'app', 'stlview.ico')
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
