#!/bin/bash
# Inputs and outside-oracle results for the tests of base/. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D"

# Packed buffer: a record encoded by Python's struct module, independently of the product's writer.
mkdir -p "$D/packed_buffer"
python3 - "$D/packed_buffer/from_python.bin" <<'PY'
import struct, sys
def pad(b): return b + b"\0" * (-len(b) % 4)
def string(b): return struct.pack("<i", len(b)) + pad(b)
text = "h\u00e9llo"
wide = (text + " \U0001F600").encode("utf-16-le")
payload = (struct.pack("<i", -123456789) + struct.pack("<q", 0x0123456789ABCDEF) + string(text.encode())
           + struct.pack("<i", len(wide) // 2) + pad(wide) + struct.pack("<I", 1))
open(sys.argv[1], "wb").write(struct.pack("<I", len(payload)) + payload)
PY
