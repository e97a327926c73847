#!/usr/bin/env python3
"""Reads the built package back with msiinfo: its file name and ProductVersion
carry the version of the top CMakeLists.txt, and it installs per user.
Usage: package_check.py SOURCE_DIR BUILD_DIR"""
import os
import re
import subprocess
import sys

source, build = sys.argv[1], sys.argv[2]
with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as f:
    version = re.search(r"\nproject\(\w+ VERSION ([0-9]+\.[0-9]+\.[0-9]+)", f.read()).group(1)
package = os.path.join(build, "stlview-%s-x64.msi" % version)
failures = []
if not os.path.isfile(package):
    failures.append("no package " + package)
else:
    table = subprocess.run(["msiinfo", "export", package, "Property"], capture_output=True, text=True,
                           check=True).stdout
    properties = dict(line.split("\t", 1) for line in table.splitlines()[3:] if "\t" in line)
    expected = {"ProductVersion": version, "ProductName": "Veldmark STL Viewer", "Manufacturer": "Veldmark",
                "ARPPRODUCTICON": "stlview.ico"}
    for name, value in expected.items():
        if properties.get(name) != value:
            failures.append("%s is %r, not %r" % (name, properties.get(name), value))
    if properties.get("ALLUSERS", "") not in ("", "0") and properties.get("MSIINSTALLPERUSER") != "1":
        failures.append("not a per-user package: ALLUSERS %r" % properties.get("ALLUSERS"))
    summary = subprocess.run(["msiinfo", "suminfo", package], capture_output=True, text=True, check=True).stdout
    if not re.search(r"Template: x64;", summary):
        failures.append("not an x64 package: " + summary)
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
