#!/usr/bin/env python3
"""Fails when product code includes a higher layer, includes a file by any
path other than the one from the repository root, or when modules include
each other in a circle.

Layers, lowest first: core; numfmt, stl and package (each on core only: the last
reads ZIP, deflate and XML); mesh (analysis of loaded meshes: check, picking) and
threemf (the 3MF model, on stl and package); view; load; app.
A file may include its own folder and any lower layer. A module is a header
and its source file together (app/panel.h and app/panel.cpp); no module may
reach itself through the includes of others, so that each layer reads from
the top down. Usage: layering_check.py [ROOT]
"""
import os
import re
import subprocess
import sys

RANKS = {"core": 0, "numfmt": 1, "stl": 1, "package": 1, "mesh": 2, "threemf": 2, "view": 3, "load": 4, "app": 5}
# Headers written into the build tree, found through the target's include path.
GENERATED = {"shader_blob_sizes.h", "stlv_version.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def product_files(root):
    files = subprocess.run(["git", "ls-files", "--", *RANKS], cwd=root, capture_output=True, text=True,
                           check=True).stdout.split()
    return [name for name in files if name.endswith((".h", ".cpp"))]


def includes(root, name):
    with open(os.path.join(root, name), encoding="utf-8") as source:
        return [target for target in INCLUDE.findall(source.read()) if target not in GENERATED]


def layer_faults(root, files):
    for name in files:
        layer = name.split("/")[0]
        for target in includes(root, name):
            top = target.split("/")[0]
            if top not in RANKS or not os.path.isfile(os.path.join(root, target)):
                yield f'{name}: "{target}" is not a path from the repository root'
            elif top != layer and RANKS[top] >= RANKS[layer]:
                yield f'{name}: "{target}" is a higher or sideways layer'


def module_of(name):
    return os.path.splitext(name)[0]


def include_graph(root, files):
    graph = {}
    for name in files:
        edges = graph.setdefault(module_of(name), set())
        for target in includes(root, name):
            if os.path.isfile(os.path.join(root, target)) and module_of(target) != module_of(name):
                edges.add(module_of(target))
    return graph


def circles(graph):
    """The strongly connected components of more than one module (Tarjan, without recursion)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph.get(start, ()))))]
        index[start] = low[start] = len(index)
        stack.append(start)
        on_stack.add(start)
        while work:
            node, edges = work[-1]
            step = next(edges, None)
            if step is not None:
                if step not in index:
                    index[step] = low[step] = len(index)
                    stack.append(step)
                    on_stack.add(step)
                    work.append((step, iter(sorted(graph.get(step, ())))))
                elif step in on_stack:
                    low[node] = min(low[node], index[step])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1:
                    found.append(sorted(component))
    return sorted(found)


def circle_faults(root, files):
    for component in circles(include_graph(root, files)):
        yield f"include circle of {len(component)} modules: {', '.join(component)}"


def faults(root):
    files = product_files(root)
    yield from layer_faults(root, files)
    yield from circle_faults(root, files)


if __name__ == "__main__":
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found = list(faults(root))
    print("\n".join(found) or "layering ok")
    sys.exit(1 if found else 0)
