#!/usr/bin/env python3
"""The 3MF load against the same model as binary STL, and against assimp's
3MF import: farm-bench --vs, whole processes that each load once, the medians
and ratios of wall and cpu seconds, and the load average at the start.
Usage: threemf_vs_stl.py BUILD DATA TRIANGLES"""
import os
import re
import subprocess
import sys

build, data, triangles = sys.argv[1], sys.argv[2], sys.argv[3]
model = os.path.join(data, "torus_%s.3mf" % triangles)
stl = os.path.join(data, "closed_%s.stl" % triangles)
ours = os.path.join(build, "bench", "load_bench")
assimp = os.path.join(build, "bench", "peer_assimp")
os.environ["STLV_BENCH_LOADS"] = "1"


def pair(a, b, label):
    with open("/proc/loadavg") as f:
        load = f.read().split()[0]
    out = subprocess.run(["farm-bench", "-n", "7", "--timeout", "600", "--vs", " ".join(b), "--"] + a,
                         capture_output=True, text=True).stdout
    medians = {}
    for line in out.splitlines():
        m = re.match(r"(A|B|A/B) (wall|cpu|peak)(?: s| MiB)?\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)", line)
        if m:
            medians[m.group(1) + " " + m.group(2)] = float(m.group(4))
    print("| %s | %.3f | %.3f | %.2f | %.3f | %.3f | %.2f | %.0f / %.0f | %s |" % (
        label, medians.get("A wall", 0), medians.get("B wall", 0), medians.get("A/B wall", 0), medians.get("A cpu", 0),
        medians.get("B cpu", 0), medians.get("A/B cpu", 0), medians.get("A peak", 0), medians.get("B peak", 0), load))


print("| A against B | A wall s | B wall s | A/B wall | A cpu s | B cpu s | A/B cpu | peak MiB A / B | load at start |")
print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
pair([ours, "ours", model], [ours, "ours", stl], "ours 3MF / ours binary STL")
if os.path.exists(assimp):
    pair([ours, "ours", model], [assimp, model], "ours 3MF / assimp 3MF")
