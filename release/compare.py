#!/usr/bin/env python3
"""Compares a release, signed or not (its zip, its disc image or its folder), with an unsigned
release built from the same commit: the release's own SHA256SUMS, then each program with its
Authenticode signature removed (osslsigncode remove-signature) and the guide, byte for byte. When
anything differs, it names the recorded package versions of the release's BUILDINFO that differ
from this machine's.

Usage: compare.py RELEASE REFERENCE-FOLDER   "ok"/"FAIL" lines, then "N passed, N failed"
       compare.py --recorded RELEASE         the commit and SOURCE_DATE_EPOCH it records
release/reproduce.sh RELEASE builds the reference in a fresh clone and runs this.
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import zipfile

import buildinfo
import sign

PROGRAMS = ["x64/vivediz.exe", "x86/vivediz.exe", "x64/vivediz-undo.exe", "x86/vivediz-undo.exe"]
COMPARED = PROGRAMS + ["ADMINISTRATORS.txt"]


def is_disc_image(path):
    with open(path, "rb") as f:
        f.seek(16 * 2048 + 1)  # the first volume descriptor's standard identifier
        return f.read(5) == b"CD001"


def image_files(image, folder):
    """Reads the image's files into folder as Windows sees them: by their Joliet names (xorriso
    would otherwise take the Rock Ridge ones)."""
    result = subprocess.run(["xorriso", "-no_rc", "-osirrox", "on", "-read_fs", "norock",
                             "-indev", image, "-extract", "/", folder],
                            capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("compare: xorriso cannot read %s: %s" % (image, result.stderr.strip()))
    for top, folders, _ in os.walk(folder):  # the disc's folders come out read-only
        for name in folders:
            os.chmod(os.path.join(top, name), 0o755)
    return folder


def unpacked(release, scratch):
    """The release's folder: the folder given, the image's files, or the zip's one folder unpacked
    into scratch."""
    if os.path.isdir(release):
        return release
    if os.path.isfile(release) and is_disc_image(release):
        return image_files(release, os.path.join(scratch, "image"))
    if not zipfile.is_zipfile(release):
        sys.exit("compare: %s is neither a release folder nor a zip nor a disc image" % release)
    with zipfile.ZipFile(release) as packed:
        tops = {entry.split("/", 1)[0] for entry in packed.namelist()}
        if len(tops) != 1:
            sys.exit("compare: %s does not hold exactly one folder" % release)
        packed.extractall(scratch)
    return os.path.join(scratch, tops.pop())


def record(release, folder):
    """BUILDINFO's text: inside the release (signed ones), else beside it, else None."""
    beside = os.path.splitext(release)[0] if release.endswith((".zip", ".iso")) else \
        release.rstrip("/")
    for path in (os.path.join(folder, "BUILDINFO"), beside + ".BUILDINFO"):
        if os.path.isfile(path):
            with open(path, encoding="ascii") as f:
                return f.read()
    return None


def sums_hold(folder):
    """Whether every line of the release's SHA256SUMS matches its file."""
    with open(os.path.join(folder, "SHA256SUMS"), encoding="ascii") as f:
        for line in f:
            wanted, _, path = line.rstrip("\r\n").partition("  ")
            with open(os.path.join(folder, path), "rb") as data:
                if hashlib.sha256(data.read()).hexdigest() != wanted:
                    return False
    return True


def without_signature(path, scratch):
    """The program's bytes with its signature removed, and whether it had one."""
    stripped = os.path.join(scratch, "stripped-%s-%s" % (os.path.basename(os.path.dirname(path)),
                                                         os.path.basename(path)))
    try:
        signed = sign.remove_signature(path, stripped)
    except sign.SigningError as error:
        sys.exit("compare: %s" % error)
    with open(stripped if signed else path, "rb") as f:
        return f.read(), signed


def compare(release, reference):
    passed = failed = 0

    def report(ok, what):
        nonlocal passed, failed
        passed, failed = passed + ok, failed + (not ok)
        print("%s %s" % ("ok  " if ok else "FAIL", what))

    with tempfile.TemporaryDirectory(prefix="vivediz-compare.") as scratch:
        folder = unpacked(release, scratch)
        report(sums_hold(folder), "the release's SHA256SUMS match its files")
        for path in COMPARED:
            present = [os.path.exists(os.path.join(f, path)) for f in (folder, reference)]
            if not any(present):
                continue  # a release from before the file was added
            if not all(present):
                report(False, "%s is in only one of the release and its rebuild" % path)
                continue
            data, signed = (without_signature(os.path.join(folder, path), scratch)
                            if path in PROGRAMS else (open(os.path.join(folder, path), "rb").read(),
                                                      False))
            with open(os.path.join(reference, path), "rb") as f:
                rebuilt = hashlib.sha256(f.read()).hexdigest()
            got = hashlib.sha256(data).hexdigest()
            report(got == rebuilt, "%s%s %s, rebuilt %s" % (
                path, " (signature removed)" if signed else "", got, rebuilt))
        text = record(release, folder)
    if failed and text is None:
        print("no BUILDINFO in or beside the release: the versions that made it are not known")
    elif failed:
        if buildinfo.field(text, "Uncommitted changes") != "none":
            print("the release was built from a folder with uncommitted changes: its files need "
                  "not be the commit's")
        differ = buildinfo.differences(text)
        print("recorded versions that differ from this machine's:" if differ else
              "every recorded version is this machine's: the difference is not the toolchain's")
        for line in differ:
            print("  " + line)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


def recorded(release):
    with tempfile.TemporaryDirectory(prefix="vivediz-compare.") as scratch:
        text = record(release, unpacked(release, scratch))
    if text is None:
        sys.exit("compare: no BUILDINFO in or beside %s, so the commit is not known"
                 % release)
    commit, epoch = buildinfo.field(text, "Commit"), buildinfo.field(text, "SOURCE_DATE_EPOCH")
    if not commit or not epoch or len(commit) != 40:
        sys.exit("compare: the BUILDINFO of %s names no commit" % release)
    print(commit, epoch.split()[0])
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--recorded":
        sys.exit(recorded(sys.argv[2]))
    if len(sys.argv) != 3:
        sys.exit(__doc__.split("\n\n")[1])
    sys.exit(compare(sys.argv[1], sys.argv[2]))
