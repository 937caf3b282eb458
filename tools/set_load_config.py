#!/usr/bin/python3
"""Enters the program's load configuration table (_load_config_used) in its PE header.

Usage: set_load_config.py PROGRAM MAP
GNU ld 2.40 links the table but leaves the header's load configuration entry empty. MAP is the
link map, which gives the table's address. The entry's size is the table's own Size field on x64;
on x86 it is 64, the size Windows XP and earlier require there (newer loaders read the table's own
Size field). The header checksum is computed again. Exits 1 when the table is missing.
"""
import re
import sys

import pefile

LOAD_CONFIG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]


def table_address(map_path):
    pattern = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+_{1,2}load_config_used\s*$")
    for line in open(map_path, encoding="utf-8", errors="replace"):
        found = pattern.match(line)
        if found:
            return int(found.group(1), 16)
    return None


def main():
    program, map_path = sys.argv[1], sys.argv[2]
    address = table_address(map_path)
    if address is None:
        print("set_load_config: no _load_config_used in %s" % map_path, file=sys.stderr)
        return 1
    pe = pefile.PE(program)
    rva = address - pe.OPTIONAL_HEADER.ImageBase
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG]
    entry.VirtualAddress = rva
    entry.Size = 64 if pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE else pe.get_dword_at_rva(rva)
    # The checksum covers the header entry just written, so it is computed over the new bytes.
    pe = pefile.PE(data=pe.write())
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    data = pe.write()
    pe.close()
    open(program, "wb").write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
