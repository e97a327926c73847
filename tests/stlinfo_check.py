#!/usr/bin/env python3
"""Runs stlinfo on good, bad and missing files and checks its records and exit status."""
import json
import os
import re
import struct
import subprocess
import sys
import tempfile

STLINFO = sys.argv[1]
MAKE_SEEDS = sys.argv[2] if len(sys.argv) > 2 else None
CORPUS = sys.argv[3] if len(sys.argv) > 3 else None
KEYS = ["file", "loaded", "format", "solids", "coordinateSpace", "unitScale", "colorOrder", "headerColor",
        "modelName", "boundsMin", "boundsMax", "triangles", "surfaceArea", "volume", "buildItems", "application", "overhangArea",
        "check",
        "size", "messages"]
CHECK_KEYS = ["shells", "holes", "openEdges", "nonManifoldEdges", "flippedEdges", "degenerateTriangles", "closed",
              "insideOut", "weldedCorners", "flippedFaces"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(*arguments):
    result = subprocess.run([STLINFO, *arguments], capture_output=True, timeout=60)
    return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")


def strict_json(text):
    """JSON without NaN or Infinity, which Python would otherwise accept."""
    def refuse(constant):
        raise ValueError("not JSON: " + constant)
    return json.loads(text, parse_constant=refuse)


def binary_stl(header, triangles):
    data = header.ljust(80, b"\0") + struct.pack("<I", len(triangles))
    for vertices, attribute in triangles:
        data += struct.pack("<3f", 0, 0, 1) + struct.pack("<9f", *vertices) + struct.pack("<H", attribute)
    return data


with tempfile.TemporaryDirectory() as folder:
    def write(name, data):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    coloured = write("coloured.stl", binary_stl(b"COLOR=\xff\x80\x00\xff test part",
                                                [((0, 0, 0, 10, 0, 0, 0, 20, 5), 0x801F)]))
    ascii_name = "solid caf\xc3\xa9 \"quoted\"\tname\n"
    text = write("text.stl", (ascii_name + "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                              "vertex 0 1 0\nendloop\nendfacet\nendsolid\n").encode("latin-1"))
    empty = write("empty.stl", b"")
    other = write("other.txt", b"nothing to see here, just words" * 10)
    damaged = write("damaged.stl", binary_stl(b"test part", [((0,) * 9, 0)]) + struct.pack("<I", 1) + b"\0" * 6)
    missing = os.path.join(folder, "missing.stl")

    code, out, _ = run("--json", coloured, text, empty, other, damaged, missing, folder)
    check(code == 1, "exit status 1 when a file does not load, got %d" % code)
    records = strict_json(out)
    check(len(records) == 7, "one record per file")
    for record in records:
        check(list(record.keys()) == KEYS, "keys of %s: %s" % (record.get("file"), list(record.keys())))

    good, text_record = records[0], records[1]
    check(good["loaded"] and good["format"] == "binary", "coloured file loads as binary")
    # hasColours: the old spelling, given beside hasColors until 0.5.0.
    check(good["solids"] == [{"name": "", "triangles": 1, "hasNormals": True, "hasColors": True, "hasColours": True}],
          good["solids"])
    check(good["headerColor"] == [255, 128, 0], "header colour %s" % good["headerColor"])
    check(good["coordinateSpace"] in ("Y up", "Z up") and good["unitScale"] > 0, "defaults applied")
    check(good["boundsMax"][1] == 20 * good["unitScale"] or abs(good["boundsMax"][1] - 0.02) < 1e-9,
          "bounds in metres %s" % good["boundsMax"])
    check(isinstance(good["size"], str) and good["size"].endswith(" tall"), "size line %r" % good["size"])
    check(text_record["loaded"] and text_record["format"] == "ascii", "ASCII file loads")
    name = text_record["solids"][0]["name"]
    check(name.startswith("caf\u00e9 \"quoted\"\tname"), "name widened from UTF-8, escaped: %r" % name)
    check(text_record["colorOrder"] == 0 and text_record["headerColor"] is None, "ASCII colour facts")

    for record, fmt in zip(records[2:], ["none", "none", "binary", "none", "none"]):
        check(not record["loaded"], "%s not loaded" % record["file"])
        check(record["format"] == fmt, "%s format %s" % (record["file"], record["format"]))
        check(record["solids"] == [] and record["coordinateSpace"] is None and record["size"] is None,
              "%s empty record" % record["file"])
    check(records[4]["messages"] == ["STL error: unexpected end of file in triangles; aborting"],
          "damaged file message %s" % records[4]["messages"])
    check(len(records[5]["messages"]) == 1, "missing file gives the system's text")
    check(len(records[6]["messages"]) == 1, "a folder gives the system's text")
    check(records[2]["messages"] == ["STL error: empty.stl: the file is empty"], records[2]["messages"])
    check(records[3]["messages"] == ["STL error: other.txt: not an STL file"], records[3]["messages"])
    check(good["triangles"] == 1 and abs(good["surfaceArea"] / (0.5 * 42500 ** 0.5 * 1e-6) - 1) < 1e-6 and good["volume"] == 0,
          "facts %s %s %s" % (good["triangles"], good["surfaceArea"], good["volume"]))
    check(records[2]["triangles"] is None and records[2]["volume"] is None, "no facts when not loaded")
    check(all(record["check"] is None for record in records[2:]), "no check when not loaded")
    check(list(good["check"].keys()) == CHECK_KEYS, "check keys %s" % list(good["check"].keys()))
    check(good["check"] == dict(zip(CHECK_KEYS, [1, 1, 3, 0, 0, 0, False, False, 0, 0])), "one triangle %s" % good["check"])

    # A closed tetrahedron, turned inside out in the second file; the readable line says so.
    corners = [(0, 0, 0), (10, 0, 0), (0, 10, 0), (0, 0, 10)]
    faces = [(0, 2, 1), (0, 1, 3), (0, 3, 2), (1, 2, 3)]
    outward = [(sum((corners[i] for i in face), ()), 0) for face in faces]
    inward = [(sum((corners[i] for i in reversed(face)), ()), 0) for face in faces]
    code, out, _ = run("--json", write("tetra.stl", binary_stl(b"t", outward)), write("inward.stl", binary_stl(b"t", inward)))
    tetra, turned = strict_json(out)
    check(tetra["check"] == dict(zip(CHECK_KEYS, [1, 0, 0, 0, 0, 0, True, False, 0, 0])), "tetrahedron %s" % tetra["check"])
    check(turned["check"]["insideOut"] and turned["volume"] < 0, "inside out %s" % turned["check"])
    # Its origin corner written 6e-17 in one face: a seam far below any printer's reach is welded.
    seam = [(sum(((6e-17, 0, 0) if n == 0 and corners[i] == (0, 0, 0) else corners[i] for i in face), ()), 0)
            for n, face in enumerate(faces)]
    code, out, _ = run("--json", write("seam.stl", binary_stl(b"t", seam)))
    welded, = strict_json(out)
    check(welded["check"] == dict(zip(CHECK_KEYS, [1, 0, 0, 0, 0, 0, True, False, 1, 0])), "seam %s" % welded["check"])
    code, out, _ = run(os.path.join(folder, "inward.stl"))
    check("  check: closed, inside out, 1 shell, 0 holes, 0 open edges," in out, "readable check line %r" % out)

    # Two 10 mm cubes, one on the bed and one 5 mm above it: 100 mm^2 of
    # overhang, 2 cm^3, a box of 30 x 10 x 15 mm.
    def cube(x, z):
        quads = [[(0, 0, 0), (0, 1, 0), (1, 1, 0), (1, 0, 0)], [(0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)],
                 [(0, 0, 0), (1, 0, 0), (1, 0, 1), (0, 0, 1)], [(0, 1, 0), (0, 1, 1), (1, 1, 1), (1, 1, 0)],
                 [(0, 0, 0), (0, 0, 1), (0, 1, 1), (0, 1, 0)], [(1, 0, 0), (1, 1, 0), (1, 1, 1), (1, 0, 1)]]
        point = lambda p: (x + 10 * p[0], 10 * p[1], z + 10 * p[2])
        return [(sum((point(q[i]) for i in corners), ()), 0) for q in quads for corners in ((0, 1, 2), (0, 2, 3))]
    cubes = write("cubes.stl", binary_stl(b"cubes", cube(0, 0) + cube(20, 5)))
    code, out, _ = run("--json", "--material", "pla", "--printer", "15x30x12", cubes, coloured)
    solid, open_part = strict_json(out)
    check(list(solid.keys()) == KEYS[:17] + ["weight", "fits", "fitsOnSide"] + KEYS[17:], "keys %s" % list(solid.keys()))
    check(abs(solid["overhangArea"] - 1e-4) < 1e-10 and abs(solid["weight"] - 0.00248) < 1e-9,
          "overhang and weight %s %s" % (solid["overhangArea"], solid["weight"]))
    check(solid["fits"] is False and solid["fitsOnSide"] is True, "fit %s %s" % (solid["fits"], solid["fitsOnSide"]))
    check(open_part["weight"] is None and open_part["overhangArea"] == 0, "no weight when open: %s" % open_part)
    # The readable lines: millimetres (inches with --us) as the window rounds them, counts with their plurals.
    t = "\u2009"
    inch_cubes = write("inch-cubes.stl", binary_stl(b"UNITS=Inch", cube(0, 0) + cube(20, 5)))
    for arguments, lines in [
        (["--material", "1.25", "--printer", "Prusa MK4S", cubes, coloured], [
            "  solid 1 \"\": 24 triangles, normals", "  unit: millimetres (0.001 m per file unit)",
            f"  bounds: x 0.0{t}mm to 30.0{t}mm, y 0.0{t}mm to 10.0{t}mm, z 0.0{t}mm to 15.0{t}mm",
            f"  size: 30.0{t}mm{t}\u00d7{t}10.0{t}mm; 15.0{t}mm tall",
            f"  24 triangles, surface area 1200{t}mm\u00b2, volume 2000{t}mm\u00b3",
            "  check: closed, 2 shells, 0 holes, 0 open edges, 0 non-manifold edges, 0 flipped edges, "
            "0 faces turned the wrong way, 0 degenerate triangles, 0 corners welded across tiny gaps",
            f"  overhangs: 100{t}mm\u00b2 steeper than 45\u00b0",
            f"  weight: 2.5{t}g of a material of 1.25 g/cm3 if solid (100% infill)",
            f"  fit: fits the Prusa MK4S (250{t}\u00d7{t}210{t}\u00d7{t}220{t}mm)",
            "  solid 1 \"\": 1 triangle, normals, colours", "  weight: none (surface not closed)",
            "  check: not closed, 1 shell, 1 hole, 3 open edges,",
            f"  1 triangle, surface area 103.1{t}mm\u00b2, volume none (surface not closed)"]),
        (["--printer", "15x30x12", cubes],
         [f"  fit: too large for the printer (15{t}\u00d7{t}30{t}\u00d7{t}12{t}mm) by 3.0{t}mm in height; fits lying on its side"]),
        (["--printer", "1.5cm x 3 cm x 12mm", "--us", cubes],
         [f"  fit: too large for the printer (15{t}\u00d7{t}30{t}\u00d7{t}12{t}mm) by 0.1181{t}in in height; fits lying on its side",
          f"  size: 1.181{t}in{t}\u00d7{t}0.3937{t}in; 0.5906{t}in tall", f"  overhangs: 0.155{t}in\u00b2 steeper than 45\u00b0"]),
        (["--printer", "5x5x5", cubes], [f"  fit: too large for the printer (5{t}\u00d7{t}5{t}\u00d7{t}5{t}mm) in every upright orientation"]),
        ([inch_cubes], ["  unit: inches (0.0254 m per file unit)", f"  size: 762.0{t}mm{t}\u00d7{t}254.0{t}mm; 381.0{t}mm tall"]),
    ]:
        code, out, _ = run(*arguments)
        for line in lines:
            check(line in out.split("\n") or line.endswith(",") and line in out, "plain %r in %r" % (line, out))
    for bad in [["--material", "wood"], ["--material", "-1"], ["--printer", "10x10"], ["--printer", "10x10x0"],
                ["--printer", "10x10x10ft"], ["--material"]]:
        code, _, err = run(*bad, cubes) if len(bad) > 1 else run(cubes, *bad)
        check(code == 2 and "usage" in err, "usage error for %s" % bad)

    # A flat square at z = 100 mm, and coordinates whose metres overflow a float.
    flat = write("flat.stl", binary_stl(b"flat", [((0, 0, 100, 10, 0, 100, 0, 10, 100), 0)]))
    huge = write("huge.stl", binary_stl(b"huge", [((-3e38, 0, 0, 3e38, 3e38, 0, 0, 0, 3e38), 0)]))
    code, out, _ = run("--json", flat, huge)
    flat_record, huge_record = strict_json(out)
    check(abs(flat_record["boundsMin"][2] - 0.1) < 1e-5 and abs(flat_record["boundsMax"][2] - 0.1) < 1e-5,
          "flat square keeps its height: %s %s" % (flat_record["boundsMin"], flat_record["boundsMax"]))
    check(huge_record["loaded"] and "inf" not in huge_record["size"].lower(), "finite size %r" % huge_record["size"])

    code, out, _ = run(coloured)
    check(code == 0 and "binary STL" in out, "readable output, exit 0")
    # A name that is not UTF-8 (Latin-1 here) opens by its bytes and shows U+FFFD, in valid JSON.
    latin1 = os.path.join(os.fsencode(folder), b"caf\xe9.stl")
    with open(latin1, "wb") as f:
        f.write(binary_stl(b"test part", [((0, 0, 0, 1, 0, 0, 0, 1, 0), 0)]))
    code, out, _ = run("--json", latin1)
    record = strict_json(out)[0]
    check(code == 0 and record["loaded"] and record["file"].endswith("caf\ufffd.stl"), "Latin-1 name %r" % record)
    code, out, _ = run(latin1)
    check(code == 0 and "caf\ufffd.stl: binary STL\n  (the file name is not valid text" in out, "plain: %r" % out)
    code, out, _ = run("--us", "--json", text)
    check(code == 0 and "\u2009in" in json.loads(out)[0]["size"], "US units: %r" % out)
    code, _, err = run()
    check(code == 2 and "usage" in err, "no file is a usage error")
    code, _, err = run("--bogus", coloured)
    check(code == 2 and "usage" in err, "unknown option is a usage error")
    code, out, _ = run("--version")
    check(code == 0 and re.fullmatch(r"stlinfo \d+\.\d+\.\d+\n", out), "--version prints the version: %r" % out)
    code, _, err = run("--version", coloured)
    check(code == 2 and "usage" in err, "--version with a file is a usage error")

# Strict JSON for every real file and every fuzz seed, whatever the bytes.
inputs = []
if CORPUS and os.path.isdir(CORPUS):
    inputs += [os.path.join(CORPUS, name) for name in sorted(os.listdir(CORPUS)) if name.endswith(".stl")]
with tempfile.TemporaryDirectory() as seeds:
    if MAKE_SEEDS:
        subprocess.run([MAKE_SEEDS, seeds], check=True, capture_output=True, timeout=120)
        for folder, _, names in os.walk(seeds):
            inputs += [os.path.join(folder, name) for name in sorted(names) if not name.endswith(".dict")]
    for start in range(0, len(inputs), 50):
        batch = inputs[start:start + 50]
        _, out, _ = run("--json", *batch)
        try:
            check(len(strict_json(out)) == len(batch), "one record per input")
        except ValueError as error:
            failures.append("%s in %s" % (error, batch))
    check(len(inputs) > 40 or not (CORPUS and MAKE_SEEDS), "corpus and seeds found: %d" % len(inputs))

for failure in failures:
    print("FAILED:", failure)
print("%d passed, %d failed" % (1 if not failures else 0, len(failures)))
sys.exit(1 if failures else 0)
