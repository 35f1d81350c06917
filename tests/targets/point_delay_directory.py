#!/usr/bin/env python3
"""Points the delay-import directory of a MinGW-linked x64 image at the one
delay-load descriptor that dlltool's delay library put into it: GNU ld leaves
the directory empty (MSVC's linker fills it), so tools that read the table
would not see the delay-loaded DLL. Arguments: the image, the nm to use."""
import struct
import subprocess
import sys

image, nm = sys.argv[1], sys.argv[2]
listing = subprocess.run([nm, image], capture_output=True, text=True, check=True).stdout
descriptors = [int(line.split()[0], 16) for line in listing.splitlines() if "__DELAY_IMPORT_DESCRIPTOR_" in line]
if len(descriptors) != 1:
    sys.exit(f"{image}: expected one delay-load descriptor, found {len(descriptors)}")
data = bytearray(open(image, "rb").read())
optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
if struct.unpack_from("<H", data, optional)[0] != 0x20B:
    sys.exit(f"{image}: not a PE32+ image")
image_base = struct.unpack_from("<Q", data, optional + 24)[0]
delay_directory = optional + 112 + 13 * 8
struct.pack_into("<II", data, delay_directory, descriptors[0] - image_base, 32)
open(image, "wb").write(data)
