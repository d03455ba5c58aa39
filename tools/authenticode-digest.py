#!/usr/bin/env python3
"""Prints the SHA-256 Authenticode digest of a Windows executable: the hash
a signature over it signs. It leaves out what signing changes (the checksum
field, the certificate table's entry and the certificate table itself), so
a signed executable has the same digest as the unsigned build it was made
from. To check a signed release against your own build of the same commit:

    python3 tools/authenticode-digest.py uninstall-runner.exe build/bin/uninstall-runner.exe

and compare the two lines.
"""

import hashlib
import struct
import sys


def authenticode_digest(data: bytes) -> str:
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    optional = pe_offset + 24
    (magic,) = struct.unpack_from("<H", data, optional)
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    checksum = optional + 64
    certificate_entry = directories + 4 * 8
    table_offset, table_size = struct.unpack_from("<II", data, certificate_entry)
    end = table_offset if table_size else len(data)
    # Signing first pads the file to a multiple of 8 bytes; the padding is
    # hashed with it.
    padding = b"" if table_size else b"\0" * (-len(data) % 8)
    digest = hashlib.sha256()
    digest.update(data[:checksum])
    digest.update(data[checksum + 4:certificate_entry])
    digest.update(data[certificate_entry + 8:end])
    digest.update(padding)
    return digest.hexdigest()


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    for path in sys.argv[1:]:
        with open(path, "rb") as file:
            print(f"{authenticode_digest(file.read())}  {path}")


if __name__ == "__main__":
    main()
