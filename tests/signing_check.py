"""scripts/sign with a throw-away self-signed certificate: every program, the
library and the package as built get a signature that osslsigncode verifies
against that certificate, and a file changed after signing no longer does.
Usage: signing_check.py SOURCE_DIR BUILD_DIR"""
import pathlib
import shutil
import subprocess
import sys
import tempfile

source, build = map(pathlib.Path, sys.argv[1:3])
files = ["app/stlview.exe", "app/stlview.com", "tools/stlinfo.exe", "app/stlthumb.dll"]
files += [p.name for p in build.glob("stlview-*-x64.msi")]
failures = []
with tempfile.TemporaryDirectory() as temp:
    temp = pathlib.Path(temp)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Throw-away test signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", temp / "key.pem", "-out", temp / "cert.pem"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", temp / "key.pem", "-in", temp / "cert.pem",
                    "-passout", "pass:test", "-out", temp / "signer.pfx"], check=True, capture_output=True)
    copies = []
    for name in files:
        copy = temp / pathlib.Path(name).name
        shutil.copy(build / name, copy)
        copies.append(copy)
    signed = subprocess.run([source / "scripts/sign", temp / "signer.pfx", *copies], capture_output=True, text=True,
                            env={"PATH": "/usr/bin:/bin", "STLV_SIGN_PASSWORD": "test"})
    if signed.returncode != 0:
        failures.append("scripts/sign failed: " + signed.stderr)

    def verifies(path):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", temp / "cert.pem", "-in", path],
                              capture_output=True, text=True).returncode == 0

    for copy in copies:
        if not verifies(copy):
            failures.append(f"{copy.name}: the signature does not verify")
    if len(copies) != 5:
        failures.append(f"{len(copies)} files signed, not the four programs and the package")
    tampered = copies[0]
    data = bytearray(tampered.read_bytes())
    data[len(data) // 3] ^= 0xFF  # inside the code, not the signature at the end
    tampered.write_bytes(data)
    if verifies(tampered):
        failures.append(f"{tampered.name} changed after signing still verifies")
for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
