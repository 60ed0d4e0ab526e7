#!/bin/bash
# Inputs and outside-oracle results for the message-loop tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D"

# A file the IO loop reads in overlapped chunks; its size is not a multiple of any chunk size, and md5sum
# gives the digest the reads must reproduce.
head -c 1048699 /dev/urandom > "$D/io_input.bin"
md5sum "$D/io_input.bin" | cut -d' ' -f1 > "$D/io_input.md5"
