import os, struct, sys
import pefile  # Debian's interpreter has it

source, folder = sys.argv[1:]
PAGE = 4096
original = open(source, "rb").read()
pe = pefile.PE(data=original)
directories = pe.OPTIONAL_HEADER.DATA_DIRECTORY
version_type = next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 16)
version_data = version_type.directory.entries[0].directory.entries[0].data.struct
block_offset = pe.get_offset_from_rva(version_data.OffsetToData)
block = original[block_offset:block_offset + version_data.Size]
strings = {k.decode(): v.decode() for table in pe.FileInfo[0] if hasattr(table, "StringTable")
           for k, v in table.StringTable[0].entries.items()}

def whole_pages(data):
    return data + bytes(-len(data) % PAGE)

def patched(changes):
    data = bytearray(original)
    for offset, value in changes:
        data[offset:offset + len(value)] = value
    return bytes(data)

zero_directory = lambda index: (directories[index].get_file_offset(), bytes(8))
# The NT headers moved to 64 bytes before the end of the first page, which the copy ends with.
nt = pe.DOS_HEADER.e_lfanew
cut_nt = bytearray(original[:PAGE])
cut_nt[PAGE - 64:] = original[nt:nt + 64]
cut_nt[0x3C:0x40] = struct.pack("<I", PAGE - 64)
# The FileVersion value, and everything after it to the block's end, made of '7's.
key = "FileVersion".encode("utf-16-le") + b"\0\0"
value = block_offset + block.index(key) + len(key)
value += -(value - block_offset) % 4  # the value starts on a 32-bit boundary
long_length = (block_offset + len(block) - value) // 2
assert long_length > 127, long_length

copies = {
    "whole.dll": original,
    "no_exports.dll": patched([zero_directory(0)]),
    "nameless.dll": patched([zero_directory(0), zero_directory(2)]),
    "cut_at_64.dll": original[:64],
    "cut_in_nt_headers.dll": bytes(cut_nt),
    "sections_past_end.dll": original[:PAGE],
    "endless_version.dll": patched([(version_data.get_file_offset() + 4, struct.pack("<I", 0x7FFFFFF0))]),
    "long_version.dll": patched([(value, "7".encode("utf-16-le") * long_length)]),
}
for name, data in copies.items():
    open(os.path.join(folder, name), "wb").write(data if name == "cut_at_64.dll" else whole_pages(data))
facts = {"export_name": pe.DIRECTORY_ENTRY_EXPORT.name.decode(),
         "original_filename": strings["OriginalFilename"],
         "file_version": strings["FileVersion"],
         "timestamp": "%08X" % pe.FILE_HEADER.TimeDateStamp,
         "code_end": "%X" % (pe.OPTIONAL_HEADER.BaseOfCode + pe.OPTIONAL_HEADER.SizeOfCode),
         "long_version": "7" * 127}
open(os.path.join(folder, "expected.txt"), "w").write("".join("%s=%s\n" % item for item in facts.items()))
