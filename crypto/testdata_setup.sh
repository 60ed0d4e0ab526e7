#!/bin/bash
# Inputs and outside-oracle results for the crypto tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D/sha256"
# Random files from 0 bytes to 10 MiB, with the sizes around the padding boundaries of one and two blocks;
# sha256sum is the oracle.
for n in 0 1 31 32 33 55 56 57 63 64 65 119 120 121 127 128 129 1000 65537 1048577 10485760; do
  head -c "$n" /dev/urandom > "$D/sha256/random_$n.bin"
done
(cd "$D/sha256" && sha256sum -- *.bin > SHA256SUMS)
