#!/usr/bin/env python3
"""Makes the release from dist/: out/release/vivediz-<version>/ with x64/vivediz.exe,
x86/vivediz.exe, the undo program vivediz-undo.exe beside each, the administrator's guide as
ADMINISTRATORS.txt (guide_text.py) and SHA256SUMS (as sha256sum -c reads it, with the CR LF line
ends that every Notepad shows), the same packed into out/release/vivediz-<version>.zip
(zip_archive.py) and as the disc image out/release/vivediz-<version>.iso (disc_image.py). Beside
them, out/release/vivediz-<version>.BUILDINFO records the commit and the package versions that
made them (buildinfo.py), and out/release/vivediz-<version>-acceptance.zip holds the acceptance kit
(acceptance_kit.py), apart from what administrators deploy; its programs are signed when the
release is.

Every byte follows from the commit. BUILDINFO stays out of the unsigned release, whose bytes must
not depend on which package versions made the same programs.

With a certificate (SIGN_PKCS12 or SIGN_CERTS and SIGN_KEY, see sign.py) the programs are signed
and the release also holds BUILDINFO, which names the commit to rebuild it from. When signing
fails, or the zip or the image cannot be written, no release is left in out/release.
Usage: make_release.py [--out FOLDER]   (default out/release; `make release` builds the programs
first)
"""
import hashlib
import os
import shutil
import sys

import acceptance_kit
import buildinfo
import sign
from disc_image import ImageError, volume_id, write_image
from guide_text import guide_text
from source_tree import ROOT, commit, epoch, finished_build, shown, version_string
from zip_archive import write_zip

PROGRAMS = ["x64/vivediz.exe", "x86/vivediz.exe"]
UNDO = ["x64/vivediz-undo.exe", "x86/vivediz-undo.exe"]  # saves what vivediz changes, puts it back
GUIDE = "ADMINISTRATORS.txt"


def remove_release(out, name):
    shutil.rmtree(os.path.join(out, name), ignore_errors=True)
    for leftover in (name + ".zip", name + ".zip.tmp", name + ".iso", name + ".iso.tmp",
                     name + ".BUILDINFO", name + "-acceptance.zip", name + "-acceptance.zip.tmp"):
        if os.path.exists(os.path.join(out, leftover)):
            os.remove(os.path.join(out, leftover))


def write_folder(folder, files):
    for path in sorted(files):
        target = os.path.join(folder, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(files[path])


def main():
    version = version_string("FileVersion")
    name = "vivediz-" + version
    out = os.path.join(ROOT, "out", "release")
    if sys.argv[1:2] == ["--out"] and len(sys.argv) == 3:
        out = os.path.abspath(sys.argv[2])
    elif len(sys.argv) > 1:
        sys.exit("usage: make_release.py [--out FOLDER]")
    folder = os.path.join(out, name)
    build_lock = finished_build()  # held while the programs are read, to the end
    shutil.rmtree(folder, ignore_errors=True)
    files = {}
    for program in PROGRAMS + UNDO:
        source = os.path.join(ROOT, "dist", program)
        if not os.path.exists(source):
            sys.exit("release: %s is missing; `make release` builds it" % source)
        files[program] = open(source, "rb").read()
    files[GUIDE] = guide_text()
    signature = None
    if sign.requested(os.environ):
        try:
            signed, signature = sign.sign(files, PROGRAMS + UNDO,
                                          version_string("FileDescription"),
                                          os.environ)  # the name Windows shows for the signature
        except sign.SigningError as error:
            remove_release(out, name)
            print("release: not signed, no release made: %s" % error, file=sys.stderr)
            return 1
        files.update(signed)
    revision, clean = commit()
    record = buildinfo.record(name, revision, clean, epoch(), signature).encode("ascii")
    if signature:
        files["BUILDINFO"] = record
    sums = "".join("%s  %s\n" % (hashlib.sha256(files[f]).hexdigest(), f) for f in sorted(files))
    files["SHA256SUMS"] = sums.replace("\n", "\r\n").encode("ascii")

    archive = os.path.join(out, name + ".zip")
    image = os.path.join(out, name + ".iso")
    try:
        os.makedirs(out, exist_ok=True)
        write_folder(folder, files)
        write_zip(archive, name, files, epoch())
        write_image(image, folder, volume_id("vivediz", version), epoch())
        sign_kit = None
        if signature:
            sign_kit = lambda kit, programs: sign.sign(kit, programs,
                                                       version_string("FileDescription"),
                                                       os.environ)[0]
        kit = acceptance_kit.write_kit(out, name, epoch(), {p: files[p] for p in PROGRAMS},
                                       sign_kit)
        with open(os.path.join(out, name + ".BUILDINFO"), "wb") as f:
            f.write(record)
    except (OSError, ImageError, sign.SigningError) as error:
        remove_release(out, name)
        print("release: no release made: %s" % error, file=sys.stderr)
        return 1
    print(shown(folder) + "/")
    print(sums, end="")
    for packed in (archive, image, kit):
        with open(packed, "rb") as f:
            print("%s  %s" % (hashlib.sha256(f.read()).hexdigest(), shown(packed)))
    print("build record: %s" % shown(os.path.join(out, name + ".BUILDINFO")))
    if signature:
        print("signed: %s" % "; ".join(signature))
    return 0


if __name__ == "__main__":
    sys.exit(main())
