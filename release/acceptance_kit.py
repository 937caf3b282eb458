#!/usr/bin/env python3
"""The acceptance kit: vivediz-<version>-acceptance.zip, apart from the administrator's release.
For each architecture (x64/ and x86/): accept.exe, the shipped vivediz.exe of the same commit,
test/vivediz.exe (the test variant, which takes the hypervisor and the rights answer from the
environment) and planted/uxtheme.dll (the planting scenario's test library); README.txt (CR LF)
and SHA256SUMS beside them. Byte-reproducible like the release: entries in a fixed order with the
commit's time and fixed attributes. make_release.py calls write_kit(); scripts/e2e.sh runs this
file to pack the kit that the tests unpack and run.

Usage: acceptance_kit.py --out FOLDER        the kit from build/e2e/ and dist/; prints the zip
       acceptance_kit.py --unpacked FOLDER   also unpacks it there; prints the kit's folder
With VIVEDIZ_SUITE_RELEASE naming the release folder that the test command makes once for its
stages, --unpacked unpacks the kit found there instead of packing it again.
"""
import hashlib
import os
import sys
import zipfile

from source_tree import ROOT, epoch, finished_build, version_string
from zip_archive import write_zip

ARCHES = ("x64", "x86")
README = os.path.join(ROOT, "kit", "kit_readme.txt")


def built(arch, shipped):
    """{path in the kit: bytes} of one architecture; shipped: the release's own programs."""
    files = {arch + "/vivediz.exe": shipped[arch + "/vivediz.exe"]}
    for inside, source in (("accept.exe", "accept.exe"), ("test/vivediz.exe", "vivediz.exe"),
                           ("planted/uxtheme.dll", "planted/uxtheme.dll")):
        path = os.path.join(ROOT, "build", "e2e", arch, source)
        if not os.path.exists(path):
            raise FileNotFoundError("%s is missing; scripts/build.sh windows builds it" % path)
        files[arch + "/" + inside] = open(path, "rb").read()
    return files


def readme():
    data = open(README, encoding="ascii").read().encode("ascii")
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def kit_programs():
    """The kit's own programs, which a signed release signs too."""
    return [arch + "/" + p for arch in ARCHES for p in ("accept.exe", "test/vivediz.exe")]


def write_kit(out, name, commit_epoch, shipped, sign_programs=None):
    """Writes out/<name>-acceptance.zip (through a temporary name) and returns its path.
    sign_programs, when given, takes {path: bytes} and the kit's programs and returns them signed."""
    files = {}
    for arch in ARCHES:
        files.update(built(arch, shipped))
    if sign_programs is not None:
        files.update(sign_programs(files, kit_programs()))
    files["README.txt"] = readme()
    sums = "".join("%s  %s\n" % (hashlib.sha256(files[f]).hexdigest(), f) for f in sorted(files))
    files["SHA256SUMS"] = sums.encode("ascii")
    top = name + "-acceptance"
    archive = os.path.join(out, top + ".zip")
    os.makedirs(out, exist_ok=True)
    write_zip(archive, top, files, commit_epoch)
    return archive


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("--out", "--unpacked"):
        sys.exit("usage: acceptance_kit.py --out FOLDER | --unpacked FOLDER")
    name = "vivediz-" + version_string("FileVersion")  # the kit that the release would hold
    out = os.path.abspath(sys.argv[2])
    made = os.environ.get("VIVEDIZ_SUITE_RELEASE")
    if sys.argv[1] == "--unpacked" and made:
        archive = os.path.join(made, name + "-acceptance.zip")
        if not os.path.isfile(archive):
            sys.exit("acceptance kit: %s is missing; the test command makes it before the stages "
                     "that read it (VIVEDIZ_SUITE_RELEASE)" % archive)
    else:
        archive = pack(name, out)
    if sys.argv[1] == "--out":
        print(archive)
        return
    with zipfile.ZipFile(archive) as packed:
        packed.extractall(out)
    print(os.path.join(out, name + "-acceptance"))


def pack(name, out):
    """The kit's zip in out, from this checkout's build."""
    build_lock = finished_build()  # held while the programs are read
    shipped = {}
    for arch in ARCHES:
        path = os.path.join(ROOT, "dist", arch, "vivediz.exe")
        if not os.path.exists(path):
            sys.exit("acceptance kit: %s is missing; scripts/build.sh windows builds it" % path)
        shipped[arch + "/vivediz.exe"] = open(path, "rb").read()
    try:
        archive = write_kit(out, name, epoch(), shipped)
    except FileNotFoundError as error:
        sys.exit("acceptance kit: %s" % error)
    build_lock.close()
    return archive


if __name__ == "__main__":
    main()
