#!/usr/bin/python3
"""Makes a copy of the window's test host whose texts test the window's bounds, by editing its resources with pefile:
- "TXT" 142 (the terms) declared shorter, so that it ends in the middle of its text, well before its NUL: the
  window must stop at the resource's end, where the text bytes that follow would carry a reader past it;
- string 37044 (the full-package button) three times as long in every language, in place of the strings of its
  block that the error page does not show (the block may only shrink).
Also writes, for the host and for the copy, the terms text the window must show: the resource's bytes up to their
first NUL, as pefile reads them. Usage: make_text_bound_host.py HOST COPY DATA_DIR (writes <name>_terms.txt)
"""
import os
import struct
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../../../host"))
from check_host_resources import RT_STRING, Resources  # noqa: E402

FULL_PACKAGE = 37044
KEPT = {37041, 37042, 37043, 37046}  # the error page's headings and retry button, and the language list's names


def resource_entries(pe, kind, name):
    """The data entries (one per language) of one resource."""
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if (type_entry.id if type_entry.id is not None else str(type_entry.name)) != kind:
            continue
        for name_entry in type_entry.directory.entries:
            if name_entry.id == name:
                return [language.data.struct for language in name_entry.directory.entries]
    return []


def write_shown_terms(host, data_dir):
    terms = Resources(host).get("TXT", 142)
    shown = terms[:terms.find(b"\0")] if b"\0" in terms else terms
    name = os.path.splitext(os.path.basename(host))[0]
    with open(os.path.join(data_dir, name + "_terms.txt"), "wb") as out:
        out.write(shown)


def main(host, copy, data_dir):
    pe = pefile.PE(host)
    [terms] = resource_entries(pe, "TXT", 142)
    text = pe.get_data(terms.OffsetToData, terms.Size)
    # Cut at a line's end past the middle: what follows up to the NUL is text, never a NUL.
    cut = text.index(b"\n", len(text) // 2)
    assert b"\0" not in text[:cut] and text.find(b"\0") > cut + 100, "the terms text is too short to cut"
    terms.Size = cut

    block_number = FULL_PACKAGE // 16 + 1
    entries = resource_entries(pe, RT_STRING, block_number)
    assert entries, "no string block of 37044"
    for entry in entries:
        data = pe.get_data(entry.OffsetToData, entry.Size)
        texts, at = [], 0
        for _ in range(16):
            (length,) = struct.unpack_from("<H", data, at)
            texts.append(data[at + 2: at + 2 + 2 * length].decode("utf-16-le"))
            at += 2 + 2 * length
        block = b""
        for index, text_of_id in enumerate(texts):
            string_id = (block_number - 1) * 16 + index
            if string_id == FULL_PACKAGE:
                text_of_id = " ".join([text_of_id] * 3)
            elif string_id not in KEPT:
                text_of_id = ""
            encoded = text_of_id.encode("utf-16-le")
            block += struct.pack("<H", len(encoded) // 2) + encoded
        assert len(block) <= entry.Size, "the longer string does not fit into its block"
        pe.set_bytes_at_rva(entry.OffsetToData, block)
        entry.Size = len(block)
    pe.write(filename=copy)
    for executable in (host, copy):
        write_shown_terms(executable, data_dir)


if __name__ == "__main__":
    main(*sys.argv[1:4])
