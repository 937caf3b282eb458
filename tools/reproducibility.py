"""Checks that make a shipped program checkable against its source: the PE header's time is the
commit's, the header checksum matches the file, and no absolute path of the folders it was built in
is inside it. Used by check_binaries.py."""
import os
import struct
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def expected_time():
    """The time the build put into the headers (scripts/source_date_epoch.sh decides it)."""
    script = os.path.join(ROOT, "scripts", "source_date_epoch.sh")
    return int(subprocess.run(["sh", script], capture_output=True, text=True, check=True).stdout)


def pe_checksum(data, checksum_at):
    """The PE image checksum: 16-bit one's-complement sum with the field itself left out, plus the
    file's length. Written apart from set_load_config.py's, which stores the field, so that this
    check does not take the writer's word for it."""
    total = 0
    padded = data + b"\0" * (len(data) & 1)
    for i in range(0, len(padded), 2):
        if checksum_at <= i < checksum_at + 4:
            continue
        total += padded[i] | padded[i + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


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
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    stamp = struct.unpack_from("<I", data, pe + 8)[0]
    wanted = expected_time()
    report(arch, "header time %d is the commit's (%d)" % (stamp, wanted), stamp == wanted)
    checksum_at = pe + 24 + 64
    stored = struct.unpack_from("<I", data, checksum_at)[0]
    computed = pe_checksum(data, checksum_at)
    report(arch, "header checksum %#x matches the file" % stored, stored == computed, "%#x" % computed)
    for folder in folders():
        present = folder.encode("utf-8") in data or folder.encode("utf-16-le") in data
        report(arch, "no path %s in the file" % folder, not present)
