#!/usr/bin/env python3
"""Fails when product code includes a higher layer, or includes a file by any
path other than the one from the repository root.

Layers, lowest first: core; numfmt, stl and package (each on core only: the last
reads ZIP, deflate and XML); mesh (analysis of loaded meshes: check, picking) and
threemf (the 3MF model, on stl and package); view; load; app.
A file may include its own folder and any lower layer. Usage: layering_check.py [ROOT]
"""
import os
import re
import subprocess
import sys

RANKS = {"core": 0, "numfmt": 1, "stl": 1, "package": 1, "mesh": 2, "threemf": 2, "view": 3, "load": 4, "app": 5}
# Headers written into the build tree, found through the target's include path.
GENERATED = {"shader_blob_sizes.h", "stlv_version.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def faults(root):
    files = subprocess.run(["git", "ls-files", "--", *RANKS], cwd=root, capture_output=True, text=True,
                           check=True).stdout.split()
    for name in files:
        if not name.endswith((".h", ".cpp")):
            continue
        layer = name.split("/")[0]
        with open(os.path.join(root, name), encoding="utf-8") as source:
            for target in INCLUDE.findall(source.read()):
                if target in GENERATED:
                    continue
                top = target.split("/")[0]
                if top not in RANKS or not os.path.isfile(os.path.join(root, target)):
                    yield f'{name}: "{target}" is not a path from the repository root'
                elif top != layer and RANKS[top] >= RANKS[layer]:
                    yield f'{name}: "{target}" is a higher or sideways layer'


if __name__ == "__main__":
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found = list(faults(root))
    print("\n".join(found) or "layering ok")
    sys.exit(1 if found else 0)
