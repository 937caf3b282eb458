#!/usr/bin/python3
"""Checks the shipped programs themselves, as the pefile library reads them: PE header, imports,
load configuration, resources, version, no test strings.

Usage: check_binaries.py [dist-dir] [--kit DIR]   (default: dist)
Beside each vivediz.exe, vivediz-undo.exe, the undo program that ships with it: a console program
for the same floor, whose imports the same table covers, checkable against its source like it.
--kit DIR also checks DIR/<arch>/accept.exe, the acceptance kit's program (build/e2e): a console
program for the same floor, whose imports the same table covers (GDI32 besides, for measuring text).
Prints one line per check and "N passed, N failed" at the end; exits 1 on any failure.
"""
import os
import sys

import pefile

import reproducibility

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "setupapi.dll", "msvcrt.dll"}
# Oldest Windows each architecture must run on: Windows 2000 (x86), XP x64 / Server 2003 (x64).
FLOORS = {"x86": (5, 0), "x64": (5, 2)}
EXPECTED_VERSION = {"FileVersion": "1.0.1.6", "ProductVersion": "2.5.4", "InternalName": "vivediz.exe"}
TEST_ONLY_STRINGS = ["VIVEDIZ_TEST_CPUID_40000000", "VIVEDIZ_TEST_CPUID_40000100", "VIVEDIZ_TEST_ADMIN"]
RT_DIALOG, RT_STRING, RT_VERSION, RT_MANIFEST = 5, 6, 16, 24
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
LOAD_CONFIG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]
# Looked up at run time, never imported: they are newer than the floors.
LOOKED_UP = {("kernel32.dll", "SetDefaultDllDirectories"), ("kernel32.dll", "SetDllDirectoryW")}
DIALOG_NAMES = {"ORVANE_DLG_TEMPLATE", "ORVANE_DLG_KVM_TEMPLATE", "ORVANE_DLG_BASIC_TEMPLATE",
                "TARN_VIVEDIZ_DLG_TEMPLATE"}


def resources(pe):
    """{type: {name: [language]}}; names are ints or strings."""
    tree = {}
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for rtype in directory.entries if directory else []:
        for name in rtype.directory.entries:
            key = str(name.name) if name.name is not None else name.id
            tree.setdefault(rtype.id, {})[key] = [lang.id for lang in name.directory.entries]
    return tree


def version_strings(pe):
    """The StringFileInfo entries of the version resource."""
    return {key.decode("utf-8"): value.decode("utf-8")
            for info in getattr(pe, "FileInfo", []) for block in info
            if block.Key == b"StringFileInfo" for table in block.StringTable
            for key, value in table.entries.items()}


def fixed_versions(pe):
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        return None, None
    fixed = pe.VS_FIXEDFILEINFO[0]
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return (split(fixed.FileVersionMS, fixed.FileVersionLS),
            split(fixed.ProductVersionMS, fixed.ProductVersionLS))


def load_config(pe):
    """(header entry size, table's Size, DependentLoadFlags, SEHandlerTable, SEHandlerCount) or
    None; a field that the table's own Size does not cover reads as None."""
    if not hasattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG"):
        return None
    table = pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    covered = lambda name: table.get_field_relative_offset(name) < table.Size
    field = lambda name: getattr(table, name) if covered(name) else None
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG]
    # pefile 2023.2.7 (Debian 12's) names DependentLoadFlags by its older name, Reserved1: the
    # two bytes after CSDVersion, reserved before Windows 10 version 1607 gave them this meaning.
    # Later pefile releases call it DependentLoadFlags.
    flags = "DependentLoadFlags" if hasattr(table, "DependentLoadFlags") else "Reserved1"
    return (entry.Size, table.Size, field(flags), field("SEHandlerTable"),
            field("SEHandlerCount"))


def load_floor(path):
    floor = {}
    for line in open(path, encoding="ascii"):
        line = line.split("#", 1)[0].split()
        if line:
            major, minor = line[2].split(".")
            floor[(line[0].lower(), line[1])] = (int(major), int(minor))
    return floor


def imports(pe):
    """(dll, function) pairs; a function imported by number as "#number"."""
    return [(dll.dll.decode("ascii"), f.name.decode("ascii") if f.name else "#%d" % f.ordinal)
            for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for f in dll.imports]


def check_imports(arch, pe, floor_table, report, allowed):
    """Every import from an allowed DLL, listed in the floor table and not newer than the floor."""
    limit = FLOORS[arch]
    imported = imports(pe)
    dlls = sorted({dll.lower() for dll, _ in imported})
    report(arch, "imports only from %s" % ", ".join(dlls), set(dlls) <= allowed)
    unknown = [f"{d}!{f}" for d, f in imported if (d.lower(), f) not in floor_table]
    report(arch, "every imported function listed with its floor (%d imported)" % len(imported),
           not unknown, ", ".join(unknown))
    too_new = [f"{d}!{f} ({floor_table[(d.lower(), f)][0]}.{floor_table[(d.lower(), f)][1]})"
               for d, f in imported if (d.lower(), f) in floor_table and floor_table[(d.lower(), f)] > limit]
    report(arch, "no imported function newer than %d.%d" % limit, not too_new, ", ".join(too_new))
    return imported


def check_console_program(arch, path, floor_table, report, allowed, shipped):
    """A console companion (accept.exe, vivediz-undo.exe): the floor in its header and its
    imports, so that it starts where the program does; when it ships in the release, no pefile
    warnings, no manifest, and the checks that tie it to its source."""
    data = open(path, "rb").read()
    pe = pefile.PE(data=data)
    name = os.path.basename(path)
    named = lambda a, what, ok, detail="": report(a, name + " " + what, ok, detail)
    limit = FLOORS[arch]
    header = pe.OPTIONAL_HEADER
    os_version = (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion)
    subsystem_version = (header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    named(arch, "console subsystem (%d)" % header.Subsystem, header.Subsystem == 3)
    named(arch, "OS and subsystem versions %d.%d, %d.%d at most %d.%d"
          % (*os_version, *subsystem_version, *limit),
          os_version <= limit and subsystem_version <= limit)
    check_imports(arch, pe, floor_table, named, allowed)
    if shipped:
        warnings = pe.get_warnings()
        named(arch, "pefile reports no warnings", not warnings, "; ".join(warnings))
        named(arch, "no RT_MANIFEST resource", RT_MANIFEST not in resources(pe))
        reproducibility.check(arch, data, named)


def check(arch, path, floor_table, report):
    data = open(path, "rb").read()
    pe = pefile.PE(data=data)
    # pefile's own reading of the headers, a second parser's view: anything it finds odd (a
    # directory outside the file, a bad section, a suspicious import) is a defect here too.
    report(arch, "pefile reports no warnings", not pe.get_warnings(), "; ".join(pe.get_warnings()))
    limit = FLOORS[arch]
    expected_machine = 0x8664 if arch == "x64" else 0x14C
    machine, header = pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER
    os_version = (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion)
    subsystem_version = (header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    report(arch, "machine %#x" % machine, machine == expected_machine)
    report(arch, "GUI subsystem (%d)" % header.Subsystem, header.Subsystem == 2)
    report(arch, "OS version %d.%d at most %d.%d" % (*os_version, *limit), os_version <= limit)
    report(arch, "subsystem version %d.%d at most %d.%d" % (*subsystem_version, *limit),
           subsystem_version <= limit)

    imported = check_imports(arch, pe, floor_table, report, ALLOWED_DLLS)
    looked_up = [f"{d}!{f}" for d, f in imported if (d.lower(), f) in LOOKED_UP]
    report(arch, "library search functions looked up, not imported", not looked_up,
           ", ".join(looked_up))

    config = load_config(pe)
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

    found = resources(pe)
    report(arch, "no RT_MANIFEST resource", RT_MANIFEST not in found)
    dialogs = set(found.get(RT_DIALOG, {}))
    report(arch, "the four dialog templates", dialogs == DIALOG_NAMES, str(sorted(map(str, dialogs))))
    report(arch, "string table present", RT_STRING in found)
    languages = {lang for t in (RT_DIALOG, RT_STRING) for v in found.get(t, {}).values() for lang in v}
    report(arch, "dialogs and strings in English (United States)", languages == {0x409}, str(languages))
    versions = sum(len(v) for v in found.get(RT_VERSION, {}).values())
    report(arch, "one version resource", versions == 1)
    if versions:
        strings = version_strings(pe)
        for key, wanted in EXPECTED_VERSION.items():
            report(arch, "version %s %r" % (key, wanted), strings.get(key) == wanted, repr(strings.get(key)))
        file_version, product_version = fixed_versions(pe)
        report(arch, "fixed file version 1.0.1.6", file_version == (1, 0, 1, 6), str(file_version))
        report(arch, "fixed product version 2.5.4", (product_version or ())[:3] == (2, 5, 4), str(product_version))
    for text in TEST_ONLY_STRINGS:
        present = text.encode("ascii") in data or text.encode("utf-16-le") in data
        report(arch, "no test-only string %s" % text, not present)
    report(arch, "size %d bytes (budget 131072)" % len(data), len(data) <= 131072)
    reproducibility.check(arch, data, report)


def main():
    arguments = sys.argv[1:]
    kit = None
    if "--kit" in arguments:
        at = arguments.index("--kit")
        kit = arguments[at + 1] if at + 1 < len(arguments) else sys.exit("--kit needs a folder")
        del arguments[at:at + 2]
    dist = arguments[0] if arguments else "dist"
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
        undo = os.path.join(dist, arch, "vivediz-undo.exe")
        if os.path.exists(undo):
            check_console_program(arch, undo, floor_table, report, ALLOWED_DLLS, True)
        else:
            report(arch, "%s exists" % undo, False)
        if kit is not None:
            kit_path = os.path.join(kit, arch, "accept.exe")
            if os.path.exists(kit_path):
                check_console_program(arch, kit_path, floor_table, report,
                                      ALLOWED_DLLS | {"gdi32.dll"}, False)
            else:
                report(arch, "%s exists" % kit_path, False)
    print("%d passed, %d failed" % (counts["passed"], counts["failed"]))
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
