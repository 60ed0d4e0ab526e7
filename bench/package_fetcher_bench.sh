#!/bin/bash
# The package fetcher under wine from Start to "package ready" for a 100 MiB package served by the loopback test
# server, against what the same work takes on Linux: curl -o of the package, sha256sum of it and 7zz x -mmt1 of
# it, in the same run, into the same disk (best of 3 each). The package is an executable that answers the
# version and stream probes as this build's installer does and carries a 7z archive of about 100 MiB: PE
# libraries (wine's own Windows builds, as a browser's program files) and incompressible data (as its media).
# Both unpacked trees are compared with the source.
set -euo pipefail
. "$(dirname "$0")/bench_util.sh"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
work_folder fetcher-bench
mkdir -p "$W"/{www,tree,download}
total_mib=$(sized 100 6)
PE_FOLDER=$(dirname "$(dpkg -L libwine | awk '/\/x86_64-windows\/ntdll\.dll$/ && !f { print; f = 1 }')")
for library in $(ls "$PE_FOLDER"/*.dll | sort); do
  [ "$(du -sm "$W/tree" | cut -f1)" -ge $((total_mib * 6 / 10)) ] && break
  cp "$library" "$W/tree/"
done
(cd "$W/tree" && 7zz a -bso0 -bsp0 "$W/code.7z" ./*)
head -c $(((total_mib << 20) - $(stat -c %s "$W/code.7z"))) /dev/urandom > "$W/tree/media.bin"
(cd "$W/tree" && 7zz a -bso0 -bsp0 "$W/package.7z" ./*)
answer() { $WINE_RUN "$BIN/installer.exe" "--$1" </dev/null | tr -d '\r\n'; }
python3 "$ROOT/testing/installer/package_fixture/make_package_fixture.py" package "$W/www/package.exe" \
  --probe "$BIN/../fixtures/package_probe.exe" --internal-version "$(answer internal-version)" \
  --stream "$(answer stream)" --payload "$W/package.7z"
sum=$(sha256sum "$W/www/package.exe" | cut -c1-64)
size=$(( $(stat -c %s "$W/www/package.exe") >> 20 ))
unpacked=$(du -sm "$W/tree" | cut -f1)
cat > "$W/faults.json" <<JSON
{"/reply": [{"times": "all", "body": "{\"installer\": \"http://127.0.0.1:{port}/package.exe\", \"installer_checksum\": \"$sum\"}"}]}
JSON
start_loopback_server "$W/www" "$W/faults.json" "$W/server"

linux() {
  curl -s -o "$W/linux.exe" "http://127.0.0.1:$port/package.exe"
  [ "$(sha256sum "$W/linux.exe" | cut -c1-64)" = "$sum" ]
  7zz x -mmt1 -bso0 -bsp0 -o"$W/linux-tree" "$W/linux.exe"
}
linux_time=$(best 3 "rm -rf '$W/linux.exe' '$W/linux-tree'" linux)
diff -r "$W/tree" "$W/linux-tree" >/dev/null || { echo "7zz's tree differs from the source" >&2; exit 1; }
rm -rf "$W/linux.exe" "$W/linux-tree"

windows() { echo "Z:$1" | tr / '\\'; }
out=$($WINE_RUN "$BIN/package_fetcher_bench.exe" "$(windows "$W/download")" "$(windows "$W/fetched")" \
      "--internal-package-server=http://127.0.0.1:$port/reply" | tr -d '\r')
diff -r "$W/tree" "$W/fetched" >/dev/null || { echo "the fetched tree differs from the source" >&2; exit 1; }
fetch_time=$(echo "$out" | awk -F'\t' '$1 == "figure" && $2 == "start_to_ready" { print $3 }')
awk -v o="$fetch_time" -v r="$linux_time" -v s="$size" -v u="$unpacked" 'BEGIN {
  printf "PackageFetcher Start to ready, %d MiB package, %d MiB unpacked (wine): %.4f s | curl + sha256sum + 7zz x -mmt1 (Linux): %.4f s | ratio %.2fx\n", s, u, o, r, r / o }'
