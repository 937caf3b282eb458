#!/usr/bin/env python3
"""Makes the release from dist/: out/release/vivediz-<version>/ with x64/vivediz.exe,
x86/vivediz.exe, the administrator's guide as a plain-text file with CR LF line endings and
SHA256SUMS (as sha256sum -c reads it), and the same packed into out/release/vivediz-<version>.zip.
Beside them, out/release/vivediz-<version>.BUILDINFO records the commit and the package versions
that made them (buildinfo.py), and out/release/vivediz-<version>-acceptance.zip holds the
acceptance kit (acceptance_kit.py), whose programs are signed too when the release is.

Every byte follows from the commit: the zip's entries stand in a fixed order with the commit's time
and fixed attributes, so that two builds of one commit give the same zip. BUILDINFO stays out of
the unsigned release, whose bytes must not depend on which package versions made the same programs.

With a certificate (SIGN_PKCS12 or SIGN_CERTS and SIGN_KEY, see sign.py) both programs are signed
and the release also holds BUILDINFO, which names the commit to rebuild it from. When signing
fails, no release is left in out/release.
Usage: release.py [--out FOLDER]   (default out/release; `make release` builds the programs first)
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

import acceptance_kit
import buildinfo
import reproducible_zip
import sign

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAMS = ["x64/vivediz.exe", "x86/vivediz.exe"]
GUIDE = "ADMINISTRATORS.txt"


def version_string(key):
    """A string of the program's version resource, such as FileVersion."""
    rc = open(os.path.join(ROOT, "resources", "vivediz.rc"), encoding="utf-8").read()
    found = re.search(r'VALUE\s+"%s",\s*"([^"]*)"' % key, rc)
    if not found:
        sys.exit("release: no %s in resources/vivediz.rc" % key)
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


def commit():
    """(commit or None, whether the files are the commit's), of this folder's own checkout."""
    git = lambda *a: subprocess.run(["git", "-C", ROOT] + list(a), capture_output=True, text=True)
    top = git("rev-parse", "--show-toplevel").stdout.strip()
    if not top or os.path.realpath(top) != os.path.realpath(ROOT):
        return None, False
    changes = git("status", "--porcelain", "--untracked-files=no").stdout.strip()
    return git("rev-parse", "HEAD").stdout.strip(), not changes


def epoch():
    """The time the programs' headers carry (scripts/source_date_epoch.sh decides it)."""
    script = os.path.join(ROOT, "scripts", "source_date_epoch.sh")
    return int(subprocess.run(["sh", script], capture_output=True, text=True, check=True).stdout)


def commit_time():
    return max(time.gmtime(epoch())[:6], (1980, 1, 1, 0, 0, 0))  # a zip's clock starts in 1980


def shown(path):
    """A path as the output names it: within the repository relative to it, else absolute."""
    inside = os.path.commonpath([path, ROOT]) == ROOT
    return os.path.relpath(path, ROOT) if inside else path


def remove_release(out, name):
    shutil.rmtree(os.path.join(out, name), ignore_errors=True)
    for leftover in (name + ".zip", name + ".zip.tmp", name + ".BUILDINFO",
                     name + "-acceptance.zip", name + "-acceptance.zip.tmp"):
        if os.path.exists(os.path.join(out, leftover)):
            os.remove(os.path.join(out, leftover))


def main():
    name = "vivediz-" + version_string("FileVersion")
    out = os.path.join(ROOT, "out", "release")
    if sys.argv[1:2] == ["--out"] and len(sys.argv) == 3:
        out = os.path.abspath(sys.argv[2])
    elif len(sys.argv) > 1:
        sys.exit("usage: release.py [--out FOLDER]")
    folder = os.path.join(out, name)
    shutil.rmtree(folder, ignore_errors=True)
    files = {}
    for program in PROGRAMS:
        source = os.path.join(ROOT, "dist", program)
        if not os.path.exists(source):
            sys.exit("release: %s is missing; `make release` builds it" % source)
        files[program] = open(source, "rb").read()
    files[GUIDE] = guide_text()
    signature = None
    if sign.requested(os.environ):
        try:
            signed, signature = sign.sign(files, PROGRAMS, version_string("FileDescription"),
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
    files["SHA256SUMS"] = sums.encode("ascii")

    stamp = commit_time()
    archive = os.path.join(out, name + ".zip")
    os.makedirs(out, exist_ok=True)
    for path in sorted(files):
        target = os.path.join(folder, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(files[path])
    reproducible_zip.write_zip(archive, name, files, stamp)
    sign_kit = None
    if signature:
        sign_kit = lambda kit, programs: sign.sign(kit, programs,
                                                   version_string("FileDescription"),
                                                   os.environ)[0]
    try:
        kit = acceptance_kit.write_kit(out, name, stamp, {p: files[p] for p in PROGRAMS},
                                       sign_kit)
    except (sign.SigningError, FileNotFoundError) as error:
        remove_release(out, name)
        print("release: no acceptance kit, no release made: %s" % error, file=sys.stderr)
        return 1
    with open(os.path.join(out, name + ".BUILDINFO"), "wb") as f:
        f.write(record)
    with open(archive, "rb") as f:
        zip_sum = hashlib.sha256(f.read()).hexdigest()
    print(shown(folder) + "/")
    print(sums, end="")
    print("%s  %s" % (zip_sum, shown(archive)))
    with open(kit, "rb") as f:
        print("%s  %s" % (hashlib.sha256(f.read()).hexdigest(), shown(kit)))
    print("build record: %s" % shown(os.path.join(out, name + ".BUILDINFO")))
    if signature:
        print("signed: %s" % "; ".join(signature))
    return 0


if __name__ == "__main__":
    sys.exit(main())
