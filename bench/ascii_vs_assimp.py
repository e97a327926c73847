#!/usr/bin/python3
"""The ASCII figures against assimp: instruction counts of one load of the
10^5 model (valgrind's callgrind, whole process), then ours and assimp run in
turn by farm-bench at every count, assimp with glibc's huge pages, and the
Windows build's load under Wine beside the native one.

usage: ascii_vs_assimp.py BENCH_BUILD_FOLDER DATA_FOLDER COUNT... [--o2 O2_BUILD_FOLDER]
                          [--windows WINDOWS_BUILD_FOLDER]

--o2 names a second build of ours at -O2, the level of Debian's assimp, whose
instructions are counted beside the Release (-O3) build's.

Each process loads the file three times and prints the best load
(bench_timing.h); farm-bench's cpu and wall ratios are of the whole process,
start-up included. Prints markdown tables."""
import os
import re
import statistics
import subprocess
import sys
import tempfile

HUGE_PAGES = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1"


def instructions(command):
    out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + command,
                         capture_output=True, text=True, env=dict(os.environ, STLV_BENCH_LOADS="1"))
    match = re.search(r"Collected : (\d+)", out.stderr)
    return int(match.group(1)) if match else None


def alternate(a, b, runs=5, timeout=1800):
    """farm-bench A against B; returns the median A/B cpu and wall ratios and
    the loads each run printed (warm-up left out)."""
    with tempfile.TemporaryDirectory() as folder:
        outputs = [os.path.join(folder, "a"), os.path.join(folder, "b")]
        wrapped = [f"exec env STLV_BENCH_LOADS=3 {' '.join(c)} >> {o} 2>&1" for c, o in zip((a, b), outputs)]
        report = subprocess.run(["farm-bench", "-n", str(runs), "--timeout", str(timeout), "--vs",
                                 f"sh -c '{wrapped[1]}'", "--", "sh", "-c", wrapped[0]],
                                capture_output=True, text=True).stdout
        ratios = {}
        for line in report.splitlines():
            fields = line.split()
            if len(fields) >= 5 and fields[0] == "A/B" and fields[1] in ("cpu", "wall"):
                ratios[fields[1]] = float(fields[3])
        loads = []
        for output in outputs:
            seconds = [float(line.split()[0]) for line in open(output) if re.match(r"^[0-9.]+ \d+$", line)]
            loads.append(seconds[1:])  # the first run is farm-bench's warm-up
    return ratios, loads


def main():
    arguments = sys.argv[1:]
    folders = {}
    for option in ("--windows", "--o2"):
        if option in arguments:
            at = arguments.index(option)
            folders[option] = arguments[at + 1]
            del arguments[at:at + 2]
    windows = folders.get("--windows")
    build, data, counts = arguments[0], arguments[1], [int(c) for c in arguments[2:]]
    ours = os.path.join(build, "bench", "load_bench")
    assimp = os.path.join(build, "bench", "peer_assimp")
    with open("/proc/loadavg") as f:
        print(f"Load average at the start: {f.read().split()[0]}\n")

    if 100000 in counts:
        path = os.path.join(data, "ascii_100000.stl")
        builds = [("Release (-O3)", ours)]
        if "--o2" in folders:
            builds.append(("-O2", os.path.join(folders["--o2"], "bench", "load_bench")))
        counted = [(name, instructions([program, "ours", path])) for name, program in builds]
        b = instructions([assimp, path])
        print("| one load of ascii_100000.stl, whole process | instructions |")
        print("|---|---:|")
        for name, a in counted:
            print(f"| ours, {name} | {a / 1e6:.1f} M |")
        print(f"| assimp (Debian's -O2 build) | {b / 1e6:.1f} M |")
        for name, a in counted:
            print(f"| ours / assimp, {name} | {a / b:.3f} |")
        print()

    print("| triangles | ours: best load, median s | assimp (huge pages): best load, median s | ours / assimp, load "
          "| ours / assimp, whole process cpu | ours / assimp, whole process wall |")
    print("|---:|---:|---:|---:|---:|---:|")
    for n in counts:
        path = os.path.join(data, f"ascii_{n}.stl")
        ratios, loads = alternate([ours, "ours", path], ["env", HUGE_PAGES, assimp, path])
        if not loads[0] or not loads[1]:
            print(f"| {n:.0e} | failed | | | | |")
            continue
        a, b = statistics.median(loads[0]), statistics.median(loads[1])
        print(f"| {n:.0e} | {a:.4f} | {b:.4f} | {a / b:.2f} | {ratios.get('cpu', float('nan')):.2f} "
              f"| {ratios.get('wall', float('nan')):.2f} |", flush=True)

    if windows:
        native = os.path.join(build, "tools", "stlinfo")
        program = os.path.join(windows, "tools", "stlinfo.exe")
        prefix = os.path.join(windows, "wineprefix")
        print("\n| triangles | native stlinfo s | stlinfo.exe under Wine s | native minor faults | Wine minor faults |")
        print("|---:|---:|---:|---:|---:|")
        for n in counts:
            path = os.path.join(data, f"ascii_{n}.stl")
            row = []
            for command, env in (([native, path], {}),
                                 (["wine", program, path], {"WINEPREFIX": prefix, "WINEDEBUG": "-all"})):
                best = None
                for _ in range(3):
                    out = subprocess.run(["/usr/bin/time", "-f", "%e %R"] + command, capture_output=True, text=True,
                                         env=dict(os.environ, **env))
                    seconds, faults = out.stderr.strip().splitlines()[-1].split()
                    if best is None or float(seconds) < best[0]:
                        best = (float(seconds), int(faults))
                row.append(best)
            print(f"| {n:.0e} | {row[0][0]:.2f} | {row[1][0]:.2f} | {row[0][1]} | {row[1][1]} |", flush=True)


if __name__ == "__main__":
    main()
