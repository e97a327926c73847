#!/usr/bin/env python3
"""Writes the sample models in samples/: a desk lamp in ASCII STL (one solid
per part) and a rainbow-coloured torus in binary STL (5-bit RGB colours in the
attribute words). Run by hand when they change; the files are kept in the
repository so that running the viewer needs no script.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, '..', 'samples')


def normal(a, b, c):
    u = [b[i] - a[i] for i in range(3)]
    v = [c[i] - a[i] for i in range(3)]
    n = [u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]]
    length = math.sqrt(sum(x * x for x in n)) or 1.0
    return [x / length for x in n]


def revolve(profile, segments, centre=(0.0, 0.0)):
    """Triangles of a solid of revolution about the Z axis; profile is (radius, z) from bottom to top."""
    triangles = []
    # The last segment ends at the first one's angle itself: 2 pi would put
    # its corners a rounding error (1e-14) off the first ones, an open seam.
    for s in range(segments):
        a0, a1 = 2 * math.pi * s / segments, 2 * math.pi * ((s + 1) % segments) / segments
        for (r0, z0), (r1, z1) in zip(profile, profile[1:]):
            p = [(centre[0] + r * math.cos(a), centre[1] + r * math.sin(a), z)
                 for r, z, a in ((r0, z0, a0), (r0, z0, a1), (r1, z1, a1), (r1, z1, a0))]
            if r0 > 0:
                triangles.append((p[0], p[1], p[2]))
            if r1 > 0:
                triangles.append((p[0], p[2], p[3]))
    return triangles


def transform(triangles, rotate_y=0.0, move=(0, 0, 0)):
    c, s = math.cos(rotate_y), math.sin(rotate_y)
    def point(p):
        x, y, z = p
        return (c * x + s * z + move[0], y + move[1], -s * x + c * z + move[2])
    return [tuple(point(p) for p in t) for t in triangles]


def lamp():
    base = revolve([(0, 0), (40, 0), (40, 6), (34, 10), (0, 10)], 48)
    post = revolve([(0, 10), (4, 10), (4, 120), (0, 120)], 24)
    joint = revolve([(0, 114)] + [(6 * math.sin(math.pi * k / 8), 120 - 6 * math.cos(math.pi * k / 8))
                                  for k in range(1, 8)] + [(0, 126)], 24)
    arm = transform(revolve([(0, 0), (3, 0), (3, 70), (0, 70)], 16), math.radians(55), (0, 0, 120))
    shade_cone = revolve([(0, 0), (8, 0), (26, -30), (24, -30), (6, -2), (0, -2)], 48)
    shade = transform(shade_cone, math.radians(-20), (70 * math.sin(math.radians(55)), 0,
                                                      120 + 70 * math.cos(math.radians(55))))
    return [('base', base), ('post', post), ('joint', joint), ('arm', arm), ('shade', shade)]


def write_ascii(path, solids):
    with open(path, 'w', newline='\n') as f:
        for name, triangles in solids:
            f.write('solid %s\n' % name)
            for a, b, c in triangles:
                f.write('  facet normal %g %g %g\n    outer loop\n' % tuple(normal(a, b, c)))
                for p in (a, b, c):
                    f.write('      vertex %.6g %.6g %.6g\n' % p)
                f.write('    endloop\n  endfacet\n')
            f.write('endsolid %s\n' % name)


def rainbow(t):
    """A 5-bit RGB attribute word (red in the low bits) for t in [0, 1)."""
    r, g, b = (0.5 + 0.5 * math.cos(2 * math.pi * (t + k / 3.0)) for k in range(3))
    return int(r * 31) | int(g * 31) << 5 | int(b * 31) << 10


def torus(major=30.0, minor=11.0, around=72, across=28):
    triangles = []
    def point(i, j):  # indices wrap round, so the seams meet exactly
        u, v = 2 * math.pi * (i % around) / around, 2 * math.pi * (j % across) / across
        return ((major + minor * math.cos(v)) * math.cos(u), (major + minor * math.cos(v)) * math.sin(u),
                minor * math.sin(v) + minor)
    for i in range(around):
        colour = rainbow(i / around)
        for j in range(across):
            a, b, c, d = point(i, j), point(i + 1, j), point(i + 1, j + 1), point(i, j + 1)
            triangles.append(((a, b, c), colour))
            triangles.append(((a, c, d), colour))
    return triangles


def write_binary(path, header, triangles):
    with open(path, 'wb') as f:
        f.write(header.encode('ascii').ljust(80, b'\0'))
        f.write(struct.pack('<I', len(triangles)))
        for (a, b, c), attribute in triangles:
            f.write(struct.pack('<12fH', *normal(a, b, c), *a, *b, *c, attribute))


def main():
    os.makedirs(OUT, exist_ok=True)
    write_ascii(os.path.join(OUT, 'desk_lamp.stl'), lamp())
    write_binary(os.path.join(OUT, 'rainbow_torus.stl'), 'Veldmark sample model: rainbow torus', torus())


if __name__ == '__main__':
    main()
