"""Checks that make a shipped program checkable against its source: the PE header's time is the
commit's, the header checksum matches the file, and no absolute path of the folders it was built in
is inside it. Used by check_binaries.py."""
import os
import subprocess

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def expected_time():
    """The time the build put into the headers (scripts/source_date_epoch.sh decides it)."""
    script = os.path.join(ROOT, "scripts", "source_date_epoch.sh")
    return int(subprocess.run(["sh", script], capture_output=True, text=True, check=True).stdout)


def folders():
    """The absolute folders whose names must not appear: the source folder and the build folder,
    as given and with links resolved."""
    found = []
    for folder in (ROOT, os.path.join(ROOT, "build")):
        for name in (folder, os.path.realpath(folder)):
            if name not in found:
                found.append(name)
    return found


def check(arch, data, report):
    pe = pefile.PE(data=data)
    stamp = pe.FILE_HEADER.TimeDateStamp
    wanted = expected_time()
    report(arch, "header time %d is the commit's (%d)" % (stamp, wanted), stamp == wanted)
    # Computed over the file as it is now, after every change made to it since the link.
    stored, computed = pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()
    report(arch, "header checksum %#x matches the file" % stored, stored == computed, "%#x" % computed)
    for folder in folders():
        present = folder.encode("utf-8") in data or folder.encode("utf-16-le") in data
        report(arch, "no path %s in the file" % folder, not present)
