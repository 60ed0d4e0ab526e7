#!/bin/bash
# Inputs and outside-oracle results for the dependency smoke tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
rm -rf "$D"; mkdir -p "$D/sha" "$D/tree/a/b/c" "$D/tree/empty" "$D/out"

# SHA-256 inputs around the 55/56/64-byte padding boundaries, and one larger file; sha256sum is the oracle.
for n in 0 1 55 56 57 63 64 65 119 120 128 1000 1048577; do head -c "$n" /dev/urandom > "$D/sha/$n.bin"; done
(cd "$D/sha" && sha256sum -- *.bin > SHA256SUMS)

# A 7z archive made by 7-Zip itself: nested folders, an empty folder, non-ASCII names and a Windows executable,
# which 7-Zip packs through its BCJ2 filter.
cp "$BIN/installer.exe" "$D/tree/a/b/c/program.exe"
printf 'Grüße, κόσμε, 日本語, 😀\n' > "$D/tree/a/Grüße κόσμε 日本.txt"
seq 1 200000 > "$D/tree/a/b/numbers.txt"
head -c 300000 /dev/urandom > "$D/tree/random.bin"
(cd "$D/tree" && 7zz a -bso0 -bsp0 -mx=9 "$D/tree.7z" ./*)
7zz l -slt "$D/tree.7z" | grep -q 'BCJ2' || { echo "7zz did not use BCJ2" >&2; exit 1; }
(cd "$D/tree" && find . -mindepth 1 | sort) > "$D/tree.list"

cp "$(dirname "$0")/../../host/branding.json" "$D/branding.json"
