#!/usr/bin/env python3
"""Checks the shipped programs themselves: PE header, imports, load configuration, resources,
version, no test strings.

Usage: check_binaries.py [dist-dir]   (default: dist)
Prints one line per check and "N passed, N failed" at the end; exits 1 on any failure.
"""
import os
import struct
import sys

import reproducibility

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "setupapi.dll", "msvcrt.dll"}
# Oldest Windows each architecture must run on: Windows 2000 (x86), XP x64 / Server 2003 (x64).
FLOORS = {"x86": (5, 0), "x64": (5, 2)}
EXPECTED_VERSION = {"FileVersion": "1.0.1.6", "ProductVersion": "2.5.4", "InternalName": "vivediz.exe"}
TEST_ONLY_STRINGS = ["VIVEDIZ_TEST_CPUID_40000000", "VIVEDIZ_TEST_CPUID_40000100", "VIVEDIZ_TEST_ADMIN"]
RT_DIALOG, RT_STRING, RT_VERSION, RT_MANIFEST = 5, 6, 16, 24
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
# Looked up at run time, never imported: they are newer than the floors.
LOOKED_UP = {("kernel32.dll", "SetDefaultDllDirectories"), ("kernel32.dll", "SetDllDirectoryW")}
DIALOG_NAMES = {"ORVANE_DLG_TEMPLATE", "ORVANE_DLG_KVM_TEMPLATE", "ORVANE_DLG_BASIC_TEMPLATE",
                "TARN_VIVEDIZ_DLG_TEMPLATE"}


class PE:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.os_version = struct.unpack_from("<HH", data, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        self.image_base = struct.unpack_from("<I" if self.magic == 0x10B else "<Q", data,
                                             opt + (28 if self.magic == 0x10B else 24))[0]
        self.checksum_at = opt + 64
        self.directory_table = opt + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, self.directory_table + 8 * i)
                            for i in range(16)]
        table = opt + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((va, max(vsize, raw_size), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("rva %#x outside every section" % rva)

    def load_config(self):
        """(header entry size, table's Size, DependentLoadFlags, SEHandlerTable, SEHandlerCount)
        or None; a field that the table's Size does not cover reads as None."""
        rva, entry_size = self.directories[10]
        if rva == 0:
            return None
        at = self.offset(rva)
        size = struct.unpack_from("<I", self.data, at)[0]
        x86 = self.magic == 0x10B
        field = lambda offset, fmt: (struct.unpack_from(fmt, self.data, at + offset)[0]
                                     if offset + struct.calcsize(fmt) <= size else None)
        return (entry_size, size, field(0x36 if x86 else 0x4E, "<H"),
                field(0x40 if x86 else 0x60, "<I" if x86 else "<Q"),
                field(0x44 if x86 else 0x68, "<I" if x86 else "<Q"))

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        rva, _ = self.directories[1]
        result = []
        thunk_size, ordinal_bit = (4, 1 << 31) if self.magic == 0x10B else (8, 1 << 63)
        at = self.offset(rva)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                break
            dll = self.cstring(name)
            thunk = self.offset(lookup or first)
            while True:
                value = int.from_bytes(self.data[thunk:thunk + thunk_size], "little")
                if value == 0:
                    break
                function = "#%d" % (value & 0xFFFF) if value & ordinal_bit else self.cstring(value + 2)
                result.append((dll, function))
                thunk += thunk_size
            at += 20
        return result

    def resources(self):
        """{type: {name: [(language, bytes)]}}; names are ints or strings."""
        rva, _ = self.directories[2]
        if rva == 0:
            return {}
        base = self.offset(rva)

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if name & 0x80000000:
                    s = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, s)[0]
                    name = self.data[s + 2:s + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        tree = {}
        for rtype, t in entries(base):
            for name, n in entries(base + (t & 0x7FFFFFFF)):
                for language, leaf in entries(base + (n & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    tree.setdefault(rtype, {}).setdefault(name, []).append(
                        (language, self.data[start:start + size]))
        return tree


def version_strings(block):
    """The StringFileInfo entries of a VS_VERSIONINFO block."""
    found = {}

    def walk(at, end):
        while at + 6 <= end:
            length, value_length, kind = struct.unpack_from("<HHH", block, at)
            if length == 0:
                return
            key_end = at + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = block[at + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            if kind == 1 and value_length and key not in ("StringFileInfo", "VarFileInfo"):
                raw = block[value_at:value_at + 2 * value_length].decode("utf-16-le")
                found[key] = raw.rstrip("\0")
            children = value_at + (value_length * (2 if kind == 1 else 1))
            children = (children + 3) & ~3
            if key in ("VS_VERSION_INFO", "StringFileInfo") or (len(key) == 8 and kind == 1 and not value_length):
                walk(children, at + length)
            at = (at + length + 3) & ~3

    walk(0, len(block))
    return found


def fixed_versions(block):
    at = block.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None, None
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", block, at + 8)
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return split(file_ms, file_ls), split(product_ms, product_ls)


def load_floor(path):
    floor = {}
    for line in open(path, encoding="ascii"):
        line = line.split("#", 1)[0].split()
        if line:
            major, minor = line[2].split(".")
            floor[(line[0].lower(), line[1])] = (int(major), int(minor))
    return floor


def check(arch, path, floor_table, report):
    data = open(path, "rb").read()
    pe = PE(data)
    limit = FLOORS[arch]
    expected_machine = 0x8664 if arch == "x64" else 0x14C
    report(arch, "machine %#x" % pe.machine, pe.machine == expected_machine)
    report(arch, "GUI subsystem (%d)" % pe.subsystem, pe.subsystem == 2)
    report(arch, "OS version %d.%d at most %d.%d" % (*pe.os_version, *limit), pe.os_version <= limit)
    report(arch, "subsystem version %d.%d at most %d.%d" % (*pe.subsystem_version, *limit),
           pe.subsystem_version <= limit)

    imports = pe.imports()
    dlls = sorted({dll.lower() for dll, _ in imports})
    report(arch, "imports only from %s" % ", ".join(dlls), set(dlls) <= ALLOWED_DLLS)
    unknown = [f"{d}!{f}" for d, f in imports if (d.lower(), f) not in floor_table]
    report(arch, "every imported function listed with its floor (%d imported)" % len(imports),
           not unknown, ", ".join(unknown))
    too_new = [f"{d}!{f} ({floor_table[(d.lower(), f)][0]}.{floor_table[(d.lower(), f)][1]})"
               for d, f in imports if (d.lower(), f) in floor_table and floor_table[(d.lower(), f)] > limit]
    report(arch, "no imported function newer than %d.%d" % limit, not too_new, ", ".join(too_new))
    looked_up = [f"{d}!{f}" for d, f in imports if (d.lower(), f) in LOOKED_UP]
    report(arch, "library search functions looked up, not imported", not looked_up,
           ", ".join(looked_up))

    config = pe.load_config()
    report(arch, "load configuration present", config is not None)
    if config is not None:
        entry_size, size, flags, handler_table, handler_count = config
        # The table as the floor's own loader defines it; the x86 header entry says 64 bytes, as
        # Windows XP and earlier require, the x64 one the table's size.
        wanted = (64, 0x48) if arch == "x86" else (0x70, 0x70)
        report(arch, "load configuration sizes %d (header) and %d (table)" % wanted,
               (entry_size, size) == wanted, "got %d and %d" % (entry_size, size))
        report(arch, "DependentLoadFlags LOAD_LIBRARY_SEARCH_SYSTEM32",
               flags == LOAD_LIBRARY_SEARCH_SYSTEM32, str(flags))
        # A SafeSEH table, if one is declared, would refuse every handler not listed in it.
        report(arch, "no SafeSEH table declared", not handler_table and not handler_count,
               "table %s, count %s" % (handler_table, handler_count))

    resources = pe.resources()
    report(arch, "no RT_MANIFEST resource", RT_MANIFEST not in resources)
    dialogs = set(resources.get(RT_DIALOG, {}))
    report(arch, "the four dialog templates", dialogs == DIALOG_NAMES, str(sorted(map(str, dialogs))))
    report(arch, "string table present", RT_STRING in resources)
    languages = {lang for t in (RT_DIALOG, RT_STRING) for v in resources.get(t, {}).values() for lang, _ in v}
    report(arch, "dialogs and strings in English (United States)", languages == {0x409}, str(languages))
    version = resources.get(RT_VERSION, {})
    blocks = [b for v in version.values() for _, b in v]
    report(arch, "one version resource", len(blocks) == 1)
    if blocks:
        strings = version_strings(blocks[0])
        for key, wanted in EXPECTED_VERSION.items():
            report(arch, "version %s %r" % (key, wanted), strings.get(key) == wanted, repr(strings.get(key)))
        file_version, product_version = fixed_versions(blocks[0])
        report(arch, "fixed file version 1.0.1.6", file_version == (1, 0, 1, 6), str(file_version))
        report(arch, "fixed product version 2.5.4", product_version[:3] == (2, 5, 4), str(product_version))
    for text in TEST_ONLY_STRINGS:
        present = text.encode("ascii") in data or text.encode("utf-16-le") in data
        report(arch, "no test-only string %s" % text, not present)
    report(arch, "size %d bytes (budget 131072)" % len(data), len(data) <= 131072)
    reproducibility.check(arch, data, report)


def main():
    dist = sys.argv[1] if len(sys.argv) > 1 else "dist"
    floor_table = load_floor(os.path.join(os.path.dirname(os.path.abspath(__file__)), "import_floor.txt"))
    counts = {"passed": 0, "failed": 0}

    def report(arch, what, ok, detail=""):
        counts["passed" if ok else "failed"] += 1
        print("%s %s: %s%s" % ("ok  " if ok else "FAIL", arch, what, "" if ok or not detail else " -- " + detail))

    for arch in ("x64", "x86"):
        path = os.path.join(dist, arch, "vivediz.exe")
        if not os.path.exists(path):
            report(arch, "%s exists" % path, False)
            continue
        check(arch, path, floor_table, report)
    print("%d passed, %d failed" % (counts["passed"], counts["failed"]))
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
