#!/usr/bin/env python3
"""A second reader of the view's shaders, independent of Wine's: every .asm
is assembled by our sm4asm, translated from DXBC to SPIR-V by vkd3d-shader
(vkd3d-compiler) and the result validated by spirv-val; the entry point of
each program is of its stage, and the geometry program's input primitive,
output topology and vertex count read as declared. Then the same with a
mistake planted in the assembler's encoding of declarations: the check must
fail for every program the mistake touches, or it proves nothing.

Usage: shader_translation_check.py SM4ASM SHADER_DIR
"""
import glob
import os
import re
import subprocess
import sys
import tempfile

STAGES = {"vs": "Vertex", "gs": "Geometry", "ps": "Fragment"}
GEOMETRY_MODES = ["Triangles", "OutputTriangleStrip", "OutputVertices 3"]
# Each planted fault and whether a program is touched by it.
FAULTS = {
    "constant-buffer-size": lambda source: "dcl_constantbuffer" in source,
    "declaration-length": lambda source: True,
}


def run(command):
    done = subprocess.run(command, capture_output=True, text=True)
    return done.returncode, (done.stdout + done.stderr).strip()


def problems_of(sm4asm, path, folder, fault=None):
    """What is wrong with one program; empty when it reads as written."""
    name = os.path.splitext(os.path.basename(path))[0]
    dxbc, spirv = os.path.join(folder, name + ".dxbc"), os.path.join(folder, name + ".spv")
    planted = ["--plant-fault", fault] if fault else []
    code, text = run([sm4asm, *planted, "--binary", dxbc, path])
    if code:
        return [f"sm4asm: {text}"]
    code, text = run(["vkd3d-compiler", "-x", "dxbc-tpf", "-b", "spirv-binary", "-o", spirv, dxbc])
    if code:
        return [f"vkd3d-compiler: {text or 'exit status %d' % code}"]
    code, text = run(["spirv-val", spirv])
    if code:
        return [f"spirv-val: {text}"]
    code, listing = run(["spirv-dis", spirv])
    if code:
        return [f"spirv-dis: {listing}"]
    with open(path, encoding="utf-8") as source:
        profile = re.search(r"^\s*([vgp]s)_4_[01]\b", source.read(), re.M).group(1)
    found = []
    if not re.search(rf"OpEntryPoint {STAGES[profile]} ", listing):
        found.append(f"the entry point is not a {STAGES[profile]} program")
    if profile == "gs":
        found += [f"no execution mode {mode}" for mode in GEOMETRY_MODES
                  if not re.search(rf"OpExecutionMode %\w+ {mode}\n", listing + "\n")]
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    sm4asm, shader_dir = sys.argv[1], sys.argv[2]
    programs = sorted(glob.glob(os.path.join(shader_dir, "*.asm")))
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        if not programs:
            failures.append(f"no programs in {shader_dir}")
        for path in programs:
            failures += [f"{os.path.basename(path)}: {p}" for p in problems_of(sm4asm, path, folder)]
        for fault, touches in FAULTS.items():
            for path in programs:
                with open(path, encoding="utf-8") as source:
                    if touches(source.read()) and not problems_of(sm4asm, path, folder, fault):
                        failures.append(f"{os.path.basename(path)}: the planted fault {fault} went unnoticed")
    print("\n".join(failures) or f"{len(programs)} programs translate and validate; planted faults noticed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
