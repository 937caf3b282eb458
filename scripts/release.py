#!/usr/bin/env python3
"""Makes the release from dist/: out/release/vivediz-<version>/ with x64/vivediz.exe,
x86/vivediz.exe, the administrator's guide as a plain-text file with CR LF line endings and
SHA256SUMS (as sha256sum -c reads it), and the same packed into out/release/vivediz-<version>.zip.

Every byte follows from the commit: the zip's entries stand in a fixed order with the commit's time
and fixed attributes, so that two builds of one commit give the same zip.
Usage: release.py   (run `make release`, which builds the programs first)
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAMS = ["x64/vivediz.exe", "x86/vivediz.exe"]
GUIDE = "ADMINISTRATORS.txt"


def version():
    """The file version of the program's version resource."""
    rc = open(os.path.join(ROOT, "resources", "vivediz.rc"), encoding="utf-8").read()
    found = re.search(r'VALUE\s+"FileVersion",\s*"([0-9.]+)"', rc)
    if not found:
        sys.exit("release: no FileVersion in resources/vivediz.rc")
    return found.group(1)


def guide_text():
    """docs/administrators.md as plain text: links and pictures spelled out, CR LF line ends."""
    text = open(os.path.join(ROOT, "docs", "administrators.md"), encoding="utf-8").read()
    text = re.sub(r"!\[([^\]]*)\]\(([^)]*)\)", r"[Picture: \1, docs/\2 in the source]", text)
    text = re.sub(r"\[([^\]]*)\]\(([^)]*)\)", r"\1 (\2)", text)
    try:
        data = text.encode("ascii")  # any Notepad, down to Windows 2000's, shows it as written
    except UnicodeEncodeError as error:
        sys.exit("release: docs/administrators.md must be ASCII: %s" % error)
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def commit_time():
    script = os.path.join(ROOT, "scripts", "source_date_epoch.sh")
    epoch = int(subprocess.run(["sh", script], capture_output=True, text=True, check=True).stdout)
    return max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))  # a zip's clock starts in 1980


def main():
    name = "vivediz-" + version()
    out = os.path.join(ROOT, "out", "release")
    folder = os.path.join(out, name)
    shutil.rmtree(folder, ignore_errors=True)
    files = {}
    for program in PROGRAMS:
        source = os.path.join(ROOT, "dist", program)
        if not os.path.exists(source):
            sys.exit("release: %s is missing; `make release` builds it" % source)
        files[program] = open(source, "rb").read()
    files[GUIDE] = guide_text()
    sums = "".join("%s  %s\n" % (hashlib.sha256(files[f]).hexdigest(), f) for f in sorted(files))
    files["SHA256SUMS"] = sums.encode("ascii")

    stamp = commit_time()
    archive = os.path.join(out, name + ".zip")
    os.makedirs(out, exist_ok=True)
    with zipfile.ZipFile(archive + ".tmp", "w") as packed:
        for path in sorted(files):
            target = os.path.join(folder, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(files[path])
            entry = zipfile.ZipInfo(name + "/" + path, date_time=stamp)
            entry.create_system = 0
            entry.external_attr = 0
            entry.compress_type = zipfile.ZIP_DEFLATED
            packed.writestr(entry, files[path], compresslevel=9)
    os.replace(archive + ".tmp", archive)
    with open(archive, "rb") as f:
        zip_sum = hashlib.sha256(f.read()).hexdigest()
    print(os.path.relpath(folder, ROOT) + "/")
    print(sums, end="")
    print("%s  %s" % (zip_sum, os.path.relpath(archive, ROOT)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
