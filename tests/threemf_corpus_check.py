#!/usr/bin/env python3
"""Loads every file of the 3MF corpus through stlinfo and checks it against a
reading of its own (zipfile and ElementTree): triangle counts and the bounds
of the transformed build. MUSTPASS files load without an error; MUSTFAIL files
are refused with a message or load with a warning that names the rule.
Usage: threemf_corpus_check.py STLINFO CORPUS_DIR"""
import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
import zipfile

STLINFO, CORPUS = sys.argv[1], sys.argv[2]
MODEL = "http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel"
PRODUCTION = "{http://schemas.microsoft.com/3dmanufacturing/production/2015/06}path"
CORES = ["http://schemas.microsoft.com/3dmanufacturing/core/2015/02", "http://schemas.microsoft.com/3dmanufacturing/2013/01"]
UNITS = {"micron": 1e-6, "millimeter": 1e-3, "centimeter": 1e-2, "inch": 0.0254, "foot": 0.3048, "meter": 1.0}

# Files the viewer refuses, and words its message must hold. Every other file loads.
REFUSED = {
    "blender_corrupt_archive.3mf": "not a 3MF file",
    "cons_mustfail_2_1_1a_no_model_rel.3mf": "no 3D model part",
    "cons_mustfail_2_3_2a_non_utf8.3mf": "not well-formed",
    "cons_mustfail_2_3_2d_undefined_xsi.3mf": "prefix is not declared",
    "cons_mustfail_3_4_3_1a_bad_objectid.3mf": "object 14 is not in the model",
    "cons_mustfail_3_4a_two_models.3mf": "more after the root element",
    "cons_mustfail_3_4c_missing_resources.3mf": "is not in the model",
    "lib3mf_dos_fuz.3mf": "CRC-32",
    "lib3mf_gen_c_component_transform.3mf": "same attribute twice",
    "lib3mf_securecontent_keystore.3mf": "requires the extension sc",
    "mine_truncated_deflate.3mf": "ends before its last block",
}
# MUSTFAIL files shown with a warning, and words of that warning.
WARNED = {
    "cons_mustfail_2_1_2_two_model_rels.3mf": "2 3D model parts where one is allowed",
    "cons_mustfail_5a_duplicate_basematerials.3mf": "property group 1 is defined twice",
    "assimp_malformed_property_index_oob.3mf": "a colour that is not in the model; drawn without it",
}
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def multiply(inner, outer):
    """Row vectors: a point goes through inner, then outer (3x4, row-major)."""
    result = []
    for row in range(4):
        for column in range(3):
            value = outer[9 + column] if row == 3 else 0.0
            for k in range(3):
                value += inner[row * 3 + k] * outer[k * 3 + column]
            result.append(value)
    return result


IDENTITY = [1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0]


def transform_of(element):
    text = element.get("transform")
    return [float(v) for v in text.split()] if text else IDENTITY


class Package:
    def __init__(self, path):
        self.zip = zipfile.ZipFile(path)
        self.names = {name.lower(): name for name in self.zip.namelist()}
        rels = ElementTree.fromstring(self.zip.read("_rels/.rels"))
        targets = [r.get("Target") for r in rels if r.get("Type") == MODEL]
        self.root = targets[0]
        self.objects = {}
        self.parts = set()
        root = self.read_part(self.root)
        self.scale = UNITS[root.get("unit", "millimeter")]
        self.build = [(self.root, item) for item in self.children(self.children(root, "build")[0], "item")]

    def children(self, element, name):
        return [child for child in element if child.tag in ["{%s}%s" % (core, name) for core in CORES]]

    def read_part(self, name):
        self.parts.add(name.lower())
        model = ElementTree.fromstring(self.zip.read(self.names[name.lstrip("/").lower()]))
        for resources in self.children(model, "resources"):
            for obj in self.children(resources, "object"):
                self.objects[(name.lower(), obj.get("id"))] = obj
        return model

    def object(self, part, element):
        part = element.get(PRODUCTION, part)
        if part.lower() not in self.parts:
            self.read_part(part)
        return part, self.objects[(part.lower(), element.get("objectid"))]

    def placed(self, part, obj, transform, points):
        """Triangles of obj with all it holds; the transformed corners into points."""
        count = 0
        for mesh in self.children(obj, "mesh"):
            vertices = [(float(v.get("x")), float(v.get("y")), float(v.get("z")))
                        for vs in self.children(mesh, "vertices") for v in self.children(vs, "vertex")]
            used = set()
            for ts in self.children(mesh, "triangles"):
                for t in self.children(ts, "triangle"):
                    used.update(int(t.get(k)) for k in ("v1", "v2", "v3"))
                    count += 1
            m = transform
            for i in used:
                x, y, z = vertices[i]
                points.append((x * m[0] + y * m[3] + z * m[6] + m[9], x * m[1] + y * m[4] + z * m[7] + m[10],
                               x * m[2] + y * m[5] + z * m[8] + m[11]))
        for components in self.children(obj, "components"):
            for component in self.children(components, "component"):
                inner_part, inner = self.object(part, component)
                count += self.placed(inner_part, inner, multiply(transform_of(component), transform), points)
        return count


def expected(path):
    package = Package(path)
    triangles, points = 0, []
    for part, item in package.build:
        item_part, obj = package.object(part, item)
        triangles += package.placed(item_part, obj, transform_of(item), points)
    if not points:
        return triangles, None, None
    low = [min(p[a] for p in points) * package.scale for a in range(3)]
    high = [max(p[a] for p in points) * package.scale for a in range(3)]
    return triangles, low, high


def close(ours, theirs, extent):
    return abs(ours - theirs) <= 1e-5 * max(extent, abs(theirs)) + 2e-6


# The corpus lives beside the repository, not in it: a clone without it skips.
if not os.path.isdir(CORPUS):
    print("skipped: no 3MF corpus at %s" % CORPUS)
    sys.exit(77)
names = sorted(name for name in os.listdir(CORPUS) if name.endswith(".3mf"))
check(len(names) >= 40, "the corpus has its files: %d" % len(names))
for start in range(0, len(names), 12):
    batch = names[start:start + 12]
    result = subprocess.run([STLINFO, "--json"] + [os.path.join(CORPUS, n) for n in batch], capture_output=True,
                            timeout=600)
    records = json.loads(result.stdout.decode("utf-8"))
    for name, record in zip(batch, records):
        messages = record["messages"]
        errors = [m for m in messages if " error: " in m]
        if name in REFUSED:
            check(not record["loaded"], "%s is refused" % name)
            check(any(REFUSED[name] in m for m in errors), "%s: %r in %s" % (name, REFUSED[name], messages))
            continue
        check(record["loaded"] and not errors, "%s loads: %s" % (name, messages))
        check(record["format"] == "3mf", "%s format %s" % (name, record["format"]))
        if name in WARNED:
            check(any(WARNED[name] in m and "warning" in m for m in messages), "%s warns: %s" % (name, messages))
        if not record["loaded"]:
            continue
        triangles, low, high = expected(os.path.join(CORPUS, name))
        check(record["triangles"] == triangles, "%s: %s triangles, expected %d" % (name, record["triangles"], triangles))
        check(len(record["solids"]) == record["buildItems"], "%s: a solid per build item" % name)
        if low is None:
            continue
        extent = max(h - l for h, l in zip(high, low))
        for axis in range(3):
            check(close(record["boundsMin"][axis], low[axis], extent) and close(record["boundsMax"][axis], high[axis], extent),
                  "%s axis %d: %s..%s, expected %s..%s" % (name, axis, record["boundsMin"][axis],
                                                          record["boundsMax"][axis], low[axis], high[axis]))

for failure in failures:
    print("FAILED:", failure)
print("%d passed, %d failed" % (len(names) - len(set(f.split(":")[0] for f in failures)), len(failures)))
sys.exit(1 if failures else 0)
