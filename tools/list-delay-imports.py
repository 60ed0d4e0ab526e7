#!/usr/bin/python3
"""Prints the DLLs that a PE module delay-loads, one per line.

The GNU linker leaves the delay-import entry of the data directory empty, so the descriptors are found by their
shape: attributes 1 (addresses are RVAs), a name, module handle, address table and name table inside the image,
no time stamp, and a name that reads as a DLL's file name.
"""
import re
import struct
import sys

import pefile


def delay_imports(path):
    pe = pefile.PE(path, fast_load=True)
    image = pe.get_memory_mapped_image()
    size = pe.OPTIONAL_HEADER.SizeOfImage
    names = []
    for match in re.finditer(rb'\x01\x00\x00\x00', image):
        offset = match.start()
        if offset % 4 or offset + 32 > len(image):
            continue
        _, name, module, table, name_table, _, _, stamp = struct.unpack_from('<8I', image, offset)
        if stamp or not all(0 < rva < size for rva in (name, module, table, name_table)):
            continue
        text = image[name:image.find(b'\0', name, name + 260)]
        if re.fullmatch(rb'[A-Za-z0-9_.\-]+\.dll', text, re.IGNORECASE):
            names.append(text.decode())
    return names


if __name__ == '__main__':
    for dll in delay_imports(sys.argv[1]):
        print(dll)
