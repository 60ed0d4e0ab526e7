#!/bin/bash
# Cross-built libcrypto's SHA-256 under wine against the machine's native openssl, in the same run.
set -euo pipefail
. "$(dirname "$0")/bench_util.sh"
ours=$($WINE_RUN "$BIN/libcrypto_sha256_bench.exe" | awk -F'\t' '$1 == "figure" { print $3 }' | tr -d '\r')
# openssl speed prints bytes per second (in thousands) per block size; take the 16384-byte column.
native=$(openssl speed -seconds "$(sized 2 1)" -bytes 16384 sha256 2>/dev/null | awk '/^sha256/ { sub(/k$/, "", $2); print $2 * 1000 / 1e6 }')
awk -v o="$ours" -v n="$native" 'BEGIN { printf "SHA-256 (libcrypto, wine): %.4g MB/s | native openssl sha256: %.4g MB/s | ratio %.2fx\n", o, n, o / n }'
