#!/bin/bash
# The downloader under wine against curl, both fetching one 256 MiB file from the loopback test server into the
# same disk in the same run (best of 3 each), and against a bare synchronous WinINet loop reading as many bytes
# per call as the downloader (64 KiB) from the same server; the downloaded files are compared with the source.
set -euo pipefail
. "$(dirname "$0")/bench_util.sh"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
work_folder wininet-bench
mkdir -p "$W/www"
mib=$(sized 256 8)
head -c $((mib << 20)) /dev/urandom > "$W/www/big.bin"
start_loopback_server "$W/www" "" "$W/server"
url=http://127.0.0.1:$port/big.bin

curl_time=$(best 3 "rm -f '$W/curl.bin'" curl -s -o "$W/curl.bin" "$url")
cmp "$W/curl.bin" "$W/www/big.bin"
rm -f "$W/curl.bin"

windows() { echo "Z:$1" | tr / '\\'; }
out=$($WINE_RUN "$BIN/wininet_bench.exe" "$url" "$(windows "$W/wininet.bin")" "$(windows "$W/bare.bin")" | tr -d '\r')
figure() { echo "$out" | awk -F'\t' -v n="$1" '$1 == "figure" && $2 == n { print $3 }'; }
download=$(figure download); bare=$(figure bare_download); cpu=$(figure owner_cpu); calls=$(figure progress_calls)
# A program whose wine server ended under it loses the threads that waited on it and may exit with 0 without its
# figures; its file then ends wherever the download was.
[ -n "$download" ] || { echo "wininet_bench ended without its figures: the download did not run to its end" >&2; exit 1; }
cmp "$W/wininet.bin" "$W/www/big.bin" || { echo "the downloaded file differs from the source" >&2; exit 1; }
cmp "$W/bare.bin" "$W/www/big.bin" || { echo "the bare loop's file differs from the source" >&2; exit 1; }
awk -v o="$download" -v r="$curl_time" -v b="$bare" -v c="$cpu" -v n="$calls" -v m="$mib" 'BEGIN {
  printf "Wininet download of %d MiB (wine): %.4f s | curl -o (Linux): %.4f s | ratio %.2fx\n", m, o, r, r / o
  printf "Wininet download of %d MiB (wine): %.4f s | bare WinINet loop, 64 KiB per call (wine): %.4f s | ratio %.2fx\n", m, o, b, b / o
  printf "owner thread CPU: %.4f s for %d progress notifications\n", c, n }'
