#!/bin/bash
# The hash benchmark under wine, with its SHA-256 figure set against the machine's native openssl.
set -euo pipefail
. "$(dirname "$0")/bench_util.sh"
out=$($WINE_RUN "$BIN/hash_bench.exe" | tr -d '\r')
echo "$out" | grep -v '^figure'
ours=$(echo "$out" | awk -F'\t' '$1 == "figure" { print $3 }')
# openssl speed prints thousands of bytes per second per block size; take the 16384-byte column.
native=$(openssl speed -seconds "$(sized 2 1)" -bytes 16384 sha256 2>/dev/null | awk '/^sha256/ { sub(/k$/, "", $2); print $2 * 1000 / 1e6 }')
awk -v o="$ours" -v n="$native" 'BEGIN { printf "SecureHash SHA-256 (wine): %.4g MB/s | native openssl speed sha256: %.4g MB/s | ratio %.2fx\n", o, n, o / n }'
# Processors without SHA instructions: libcrypto told to ignore them (bit 29 of CPUID leaf 7 EBX), against
# the portable SHA-1 code that such processors run here.
echo "without SHA instructions in libcrypto:"
OPENSSL_ia32cap=":~0x20000000" $WINE_RUN "$BIN/hash_bench.exe" | tr -d '\r' | grep '^SHA-1 portable'
