#!/bin/bash
# The package benchmark under wine against native tools on the same files, measured in the same run: the
# checksum check of a 256 MiB file against `openssl dgst -sha256` (OpenSSL's assembly, as `openssl speed`
# uses it), and the unpacking of a ~100 MiB solid LZMA2 + BCJ2 package against `7zz x -mmt1` into the same
# disk (best of several warm runs each).
set -euo pipefail
. "$(dirname "$0")/bench_util.sh"
W=$(mktemp -d "${TMPDIR:-/tmp}/zorvi-package-bench.XXXXXX")
trap 'rm -rf "$W"' EXIT
big_mib=$(sized 256 8) tree_mib=$(sized 100 5)
head -c $((big_mib << 20)) /dev/urandom > "$W/big.bin"
sum=$(sha256sum "$W/big.bin" | cut -c1-64)
# A browser-like package: about 100 MiB of real PE libraries (wine's own Windows builds, which every test machine
# has), where the branch filter has code to work on and the packing ratio is that of program files.
PE_FOLDER=$(dirname "$(dpkg -L libwine | awk '/\/x86_64-windows\/ntdll\.dll$/ && !f { print; f = 1 }')")
mkdir -p "$W/tree"
for library in $(ls "$PE_FOLDER"/*.dll | sort); do
  [ "$(du -sm "$W/tree" | cut -f1)" -ge "$tree_mib" ] && break
  cp "$library" "$W/tree/"
done
(cd "$W/tree" && 7zz a -bso0 -bsp0 -mx=9 -mf=BCJ2 -ms=on "$W/package.7z" ./*)
grep -q '^Method = .*BCJ2' <<<"$(7zz l -slt "$W/package.7z")" || { echo "7zz did not use BCJ2" >&2; exit 1; }
unpacked=$(du -sm "$W/tree" | cut -f1); packed=$(du -sm "$W/package.7z" | cut -f1)

openssl_time=$(best 5 : sh -c "openssl dgst -sha256 '$W/big.bin' > /dev/null")
sevenzip_time=$(best 5 "rm -rf '$W/7zz-out'" 7zz x -mmt1 -bso0 -bsp0 -o"$W/7zz-out" "$W/package.7z")
rm -rf "$W/7zz-out"

windows() { echo "Z:$1" | tr / '\\'; }
out=$($WINE_RUN "$BIN/package_bench.exe" "$(windows "$W/big.bin")" "$sum" "$(windows "$W/package.7z")" \
      "$(windows "$W/unpacked")" | tr -d '\r')
echo "$out" | grep -v '^figure' || true
check_time=$(echo "$out" | awk -F'\t' '$1 == "figure" && $2 == "check" { print $3 }')
unpack_time=$(echo "$out" | awk -F'\t' '$1 == "figure" && $2 == "unpack" { print $3 }')
diff -r "$W/tree" "$W/unpacked" >/dev/null || { echo "the benchmark's unpacked tree differs from the source" >&2; exit 1; }
awk -v o="$check_time" -v r="$openssl_time" -v m="$big_mib" 'BEGIN { printf "ChecksumChecker::Check of %d MiB (wine): %.4f s | openssl dgst -sha256 (Linux): %.4f s | ratio %.2fx\n", m, o, r, r / o }'
awk -v o="$unpack_time" -v r="$sevenzip_time" -v u="$unpacked" -v p="$packed" 'BEGIN { printf "LzmaUtil unpack of %d MiB from %d MiB LZMA2+BCJ2 (wine): %.4f s | 7zz x -mmt1 (Linux): %.4f s | ratio %.2fx\n", u, p, o, r, r / o }'
