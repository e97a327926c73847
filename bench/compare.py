#!/usr/bin/python3
"""Runs every reader on every generated model and prints the comparison
table (markdown). usage: compare.py BENCH_BUILD_FOLDER DATA_FOLDER COUNT...

Each reader runs in its own process and reports the best of a few loads of
the same file (bench_timing.h); all read from the page cache."""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def run(command):
    try:
        out = subprocess.run(command, capture_output=True, text=True, timeout=1800)
    except subprocess.TimeoutExpired:
        return None
    if out.returncode != 0:
        return None
    seconds, triangles = out.stdout.split()[-2:]
    return float(seconds), int(triangles)


def main():
    build, data, counts = sys.argv[1], sys.argv[2], [int(c) for c in sys.argv[3:]]
    bench = os.path.join(build, "bench")
    readers = [
        ("ours", lambda f, n: [os.path.join(bench, "load_bench"), "ours", f]),
        ("assimp", lambda f, n: [os.path.join(bench, "peer_assimp"), f]),
        ("admesh", lambda f, n: [os.path.join(bench, "peer_admesh"), f]),
        # OpenBLAS settings meant for old builds only slow numpy down; numpy-stl runs without them.
        ("numpy-stl", lambda f, n: ["env", "-u", "OPENBLAS_CORETYPE", "-u", "OPENBLAS_L2_SIZE", "/usr/bin/python3",
                                    "-W", "ignore", os.path.join(HERE, "peer_numpy_stl.py"), f]),
        ("memcpy", lambda f, n: [os.path.join(bench, "load_bench"), "yardstick", f, str(n)]),
    ]
    rows = []
    for kind in ("binary", "ascii"):
        for n in counts:
            path = os.path.join(data, f"{kind}_{n}.stl")
            size = os.path.getsize(path)
            times = {}
            for name, command in readers:
                result = run(command(path, n))
                if result and result[1] != n:
                    print(f"{name} read {result[1]} triangles of {n} from {path}", file=sys.stderr)
                    result = None
                times[name] = result[0] if result else None
                print(f"{kind} {n} {name}: {times[name]}", file=sys.stderr, flush=True)
            rows.append((kind, n, size, times))

    print("| file | triangles | MB | reader | seconds | MB/s | triangles/s | ours vs it |")
    print("|---|---:|---:|---|---:|---:|---:|---:|")
    for kind, n, size, times in rows:
        ours = times["ours"]
        for name, _ in readers:
            t = times[name]
            if t is None:
                print(f"| {kind} | {n:.0e} | {size / 1e6:.1f} | {name} | failed | | | |")
                continue
            ratio = "" if name == "ours" or ours is None else f"{t / ours:.2f}x"
            print(f"| {kind} | {n:.0e} | {size / 1e6:.1f} | {name} | {t:.4f} | {size / 1e6 / t:.0f} | "
                  f"{n / t / 1e6:.2f} M | {ratio} |")


if __name__ == "__main__":
    main()
