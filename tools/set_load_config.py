#!/usr/bin/env python3
"""Enters the program's load configuration table (_load_config_used) in its PE header.

Usage: set_load_config.py PROGRAM MAP
GNU ld 2.40 links the table but leaves the header's load configuration entry empty. MAP is the
link map, which gives the table's address. The entry's size is the table's own Size field on x64;
on x86 it is 64, the size Windows XP and earlier require there (newer loaders read the table's own
Size field). The header checksum is computed again. Exits 1 when the table is missing.
"""
import re
import struct
import sys

from check_binaries import PE

LOAD_CONFIG = 10


def pe_checksum(data, checksum_at):
    padded = data + b"\0" * (len(data) % 2)
    total = 0
    for i, (word,) in enumerate(struct.iter_unpack("<H", padded)):
        if checksum_at <= 2 * i < checksum_at + 4:
            continue
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16) + len(data)) & 0xFFFFFFFF


def table_address(map_path):
    pattern = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+_{1,2}load_config_used\s*$")
    for line in open(map_path, encoding="utf-8", errors="replace"):
        found = pattern.match(line)
        if found:
            return int(found.group(1), 16)
    return None


def main():
    program, map_path = sys.argv[1], sys.argv[2]
    data = bytearray(open(program, "rb").read())
    pe = PE(bytes(data))
    address = table_address(map_path)
    if address is None:
        print("set_load_config: no _load_config_used in %s" % map_path, file=sys.stderr)
        return 1
    rva = address - pe.image_base
    size = 64 if pe.magic == 0x10B else struct.unpack_from("<I", data, pe.offset(rva))[0]
    struct.pack_into("<II", data, pe.directory_table + 8 * LOAD_CONFIG, rva, size)
    struct.pack_into("<I", data, pe.checksum_at, pe_checksum(bytes(data), pe.checksum_at))
    open(program, "wb").write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
