#!/bin/bash
# Files that the downloader tests fetch from the loopback server (www/), with their SHA-256 as sha256sum gives
# it (sha256.txt). Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D"/{www,out}
python3 - "$D/www" <<'PY'
import os, random, sys
sizes = {"forty.bin": 40 << 20, "ten.bin": 10 << 20, "small.bin": 200 << 10, "other.bin": 64 << 10, "body.bin": 3 << 20,
         "tiny.bin": 1000, "empty.bin": 0}
for seed, (name, size) in enumerate(sorted(sizes.items())):
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(random.Random(seed).randbytes(size))
PY
(cd "$D/www" && sha256sum -- * > "$D/sha256.txt")
