#!/usr/bin/env python3
"""Reads the built package back with msiinfo: its file name and ProductVersion
carry the version of the top CMakeLists.txt, it installs per user, the preview
handler's class runs in the 64-bit preview host, and the handler entries under
the extensions are left to the library's custom actions, which keep and give
back another program's (the table would remove them on uninstall, whoever
holds them then).
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
    registry = subprocess.run(["msiinfo", "export", package, "Registry"], capture_output=True, text=True,
                              check=True).stdout
    for needed in ("{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}", "Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers"):
        if needed not in registry:
            failures.append("no %s in the Registry table" % needed)
    if "ShellEx" in registry:
        failures.append("the Registry table writes handler entries")
    actions = subprocess.run(["msiinfo", "export", package, "CustomAction"], capture_output=True, text=True,
                             check=True).stdout
    for entry in ("TakeShellHandlers", "GiveBackShellHandlers"):
        if entry not in actions:
            failures.append("no custom action " + entry)
    summary = subprocess.run(["msiinfo", "suminfo", package], capture_output=True, text=True, check=True).stdout
    if not re.search(r"Template: x64;", summary):
        failures.append("not an x64 package: " + summary)
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
