#!/usr/bin/python3
"""Makes a copy of a host whose branding ("TXT" 133) gives the full package's address without a query, for the
resource check's own test: the check must refuse it. The JSON is rewritten in place and padded with blanks, so
the resource keeps its size. Usage: make_branding_fault_host.py HOST COPY
"""
import json
import sys

import pefile


def main(host, copy):
    pe = pefile.PE(host)
    entry = next(language.data.struct
                 for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if str(kind.name) == "TXT"
                 for name in kind.directory.entries if name.id == 133
                 for language in name.directory.entries)
    data = pe.get_data(entry.OffsetToData, entry.Size)
    branding = json.loads(data)
    url = branding["urls"]["download_full_windows"]
    branding["urls"]["download_full_windows"] = url[:url.index("?")] if "?" in url else url
    text = json.dumps(branding).encode("utf-8")
    assert len(text) <= len(data), "the branding grew"
    pe.set_bytes_at_rva(entry.OffsetToData, text.ljust(len(data), b" "))
    pe.write(filename=copy)


if __name__ == "__main__":
    main(*sys.argv[1:3])
