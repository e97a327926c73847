#!/usr/bin/env python3
"""Saves faulty shapes with repairs through stlsave (the save path of
`stlview --save`) and has two readers that are not ours read the results:
admesh (STL) and PrusaSlicer's --info (STL and 3MF). Each must find the same
triangle count, one closed part, no edge run backwards, and the bounds in
millimetres. Skips (exit 77) when neither reader is installed.
Usage: independent_readers_check.py STLSAVE"""
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

STLSAVE = sys.argv[1]
QUADS = [[(0, 0, 0), (0, 1, 0), (1, 1, 0), (1, 0, 0)], [(0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)],
         [(0, 0, 0), (1, 0, 0), (1, 0, 1), (0, 0, 1)], [(0, 1, 0), (0, 1, 1), (1, 1, 1), (1, 1, 0)],
         [(0, 0, 0), (0, 0, 1), (0, 1, 1), (0, 1, 0)], [(1, 0, 0), (1, 1, 0), (1, 1, 1), (1, 0, 1)]]
CUBE = [t for q in QUADS for t in ((q[0], q[1], q[2]), (q[0], q[2], q[3]))]


def turned(triangles):
    return [(a, c, b) for a, b, c in triangles]


def sphere_with_hole(rings=8, segments=20):
    def at(ring, side):
        theta, phi = math.pi * ring / rings, 2 * math.pi * (side % segments) / segments
        return (math.sin(theta) * math.cos(phi), math.sin(theta) * math.sin(phi), math.cos(theta))
    out = []
    for r in range(1, rings):
        for s in range(segments):
            a, b, c, d = at(r, s), at(r + 1, s), at(r + 1, s + 1), at(r, s + 1)
            out.append((a, b, c) if r + 1 < rings else (a, b, d))
            if r + 1 < rings:
                out.append((a, c, d))
    return out


def binary_stl(triangles, header):
    data = header.ljust(80, b" ") + struct.pack("<I", len(triangles))
    for t in triangles:
        data += struct.pack("<3f", 0, 0, 0) + b"".join(struct.pack("<3f", *v) for v in t) + b"\0\0"
    return data


# Name, triangles, header, triangles saved, largest extent in millimetres.
CASES = [
    ("cube missing a face, inches", CUBE[2:], b"UNITS=Inch", 12, 25.4),
    ("inside-out cube", turned(CUBE), b"UNITS=mm", 12, 1),
    ("cube with a face turned", CUBE[:5] + turned(CUBE[5:6]) + CUBE[6:], b"UNITS=mm", 12, 1),
    ("sphere with a hole of 20 edges, centimetres", sphere_with_hole(), b"UNITS=cm", 7 * 40 - 20 + 18, 20),
]


def admesh(path):
    text = subprocess.run(["admesh", path], capture_output=True, text=True, timeout=60).stdout
    number = lambda name: float(re.search(re.escape(name) + r"\s*:\s*(-?[\d.]+)", text).group(1))
    size = max(float(high) - float(low) for low, high in re.findall(r"Min \w = *(-?[\d.]+), Max \w = *(-?[\d.]+)", text))
    return {"facets": number("Number of facets"), "parts": number("Number of parts"),
            "backwards": number("Backwards edges"), "reversed": number("Facets reversed"),
            "added": number("Facets added"), "size": size}


def prusa(path):
    text = subprocess.run(["prusa-slicer", "--info", path], capture_output=True, text=True, timeout=120).stdout
    value = lambda name: re.search(r"^" + name + r" = *(\S+)", text, re.M).group(1)
    return {"facets": float(value("number_of_facets")), "manifold": value("manifold"), "parts": float(value("number_of_parts")),
            "size": max(float(value("size_" + axis)) for axis in "xyz")}


def main():
    readers = [name for name in ("admesh", "prusa-slicer") if shutil.which(name)]
    if not readers:
        print("independent readers: neither admesh nor prusa-slicer is installed; skipped")
        return 77
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for name, triangles, header, count, extent in CASES:
            source = os.path.join(folder, "source.stl")
            with open(source, "wb") as out:
                out.write(binary_stl(triangles, header))
            for extension in ("stl", "3mf"):
                saved = os.path.join(folder, "saved." + extension)
                result = subprocess.run([STLSAVE, "--repair", saved, source], capture_output=True, text=True, timeout=60)
                if result.returncode != 0:
                    failures.append(f"{name} ({extension}): stlsave failed: {result.stdout}")
                    continue
                found = []
                if "admesh" in readers and extension == "stl":
                    a = admesh(saved)
                    found.append(("admesh", a, a["backwards"] == 0 and a["reversed"] == 0 and a["added"] == 0))
                if "prusa-slicer" in readers:
                    p = prusa(saved)
                    found.append(("prusa-slicer", p, p["manifold"] == "yes"))
                for reader, facts, sound in found:
                    good = sound and facts["facets"] == count and facts["parts"] == 1 and abs(facts["size"] - extent) < 1e-3 * extent
                    if not good:
                        failures.append(f"{name} ({extension}) read by {reader}: {facts}, wanted {count} facets, size {extent}")
    for failure in failures:
        print("FAIL:", failure)
    print(f"independent readers ({', '.join(readers)}): {len(CASES)} shapes, {len(failures)} failures")
    return 1 if failures else 0


sys.exit(main())
