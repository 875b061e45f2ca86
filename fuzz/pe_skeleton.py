#!/usr/bin/env python3
"""Writes the skeleton of a PE32+ module: its headers and section table, and
the raw data of only those sections that hold the export, import or resource
directory, laid out one after the other. What pe_check reads stays as the
linker wrote it; the code and data it never looks at (most of a megabyte for
a statically linked module) are left out, so the fuzzer mutates the parts
that matter.

    pe_skeleton.py MODULE OUT
"""
import struct
import sys

KEPT_DIRECTORIES = (0, 1, 2)  # export, import, resource


def skeleton(data: bytes) -> bytes:
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("not a PE image")
    coff = pe + 4
    section_count = struct.unpack_from("<H", data, coff + 2)[0]
    optional_size = struct.unpack_from("<H", data, coff + 16)[0]
    optional = coff + 20
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        raise SystemExit("not a PE32+ image")
    directory_count = struct.unpack_from("<I", data, optional + 108)[0]
    directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i)
                   for i in KEPT_DIRECTORIES if i < directory_count]
    table = optional + optional_size
    headers_end = table + 40 * section_count

    out = bytearray(data[:headers_end])
    for i in range(section_count):
        entry = table + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
        span = max(virtual_size, raw_size)
        kept = any(rva and virtual_address <= rva < virtual_address + span for rva, _ in directories)
        if kept:
            while len(out) % 16:
                out.append(0)
            struct.pack_into("<I", out, entry + 20, len(out))
            out += data[raw_offset:raw_offset + raw_size]
        else:
            struct.pack_into("<II", out, entry + 16, 0, 0)
    return bytes(out)


def main() -> None:
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    with open(sys.argv[2], "wb") as f:
        f.write(skeleton(data))


if __name__ == "__main__":
    main()
