#!/bin/bash
# What a user waits for, end to end: a silent network install of a package of real size (about 100 MiB packed,
# 3,000 files in nested folders as installer_bench's, the installer, library, browser and launcher beside them),
# from the network installer's start to its exit, in a fresh prefix warmed by one probe, served by the loopback
# update-service stand-in, at the default log level as a user runs it; against the same work done by Linux tools
# in the same run (curl of the package, sha256sum, 7zz x -mmt1 and cp -r into an install folder, best of 3), and
# against bare references of each phase under wine in the same prefix, from the same server by the same address
# (network_install_references.exe). Where the installer's time went comes from the statistics it posted and from
# the times its log lines reached their files (log_line_times.py), in milliseconds. The installed files, the bare
# download and the bare unpack and copy are compared with the package's.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/bench/bench_util.sh"
. "$ROOT/tools/env.sh"
. "$ROOT/testing/installer/silent_install/silent_install.sh"
W=$(mktemp -d "${TMPDIR:-/tmp}/zorvi-network-install-bench.XXXXXX")
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY DISPLAY
SERVER_PID=
FOLLOWER_PID=
# Whatever failed, the server and the prefix's programs end and the scratch folder (a few hundred MiB) goes.
clean_up() {
  set +e
  [ -z "$SERVER_PID" ] || stop_server
  [ -z "$FOLLOWER_PID" ] || { kill -TERM "$FOLLOWER_PID"; wait "$FOLLOWER_PID"; }
  [ ! -d "$W/prefix" ] || stop_prefix "$W/prefix"
  rm -rf "$W"
}
trap clean_up EXIT
files=$(sized 3000 300) mib=$(sized 100 6)

# The package as the update service's archive holds it.
base=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["file_name_base"])' "$ROOT/host/branding.json")
python3 "$ROOT/bench/package_tree.py" "$W/package" "$files" --large-mib "$mib"
cp "$BIN/installer.exe" "$BIN/zorvi.dll" "$W/package/"
cp "$BIN/package_dummy_test_child.exe" "$W/package/$base.exe"
cp "$BIN/package_dummy_test_child.exe" "$W/package/launcher.exe"
printf '%s\r\n' installer.exe zorvi.dll "$base.exe" >>"$W/package/files_list"
mkdir -p "$W/served" "$W/net"
make_full_installer "$W/package" "$W/served/full.exe"
mv "$W/served/full.exe.7z" "$W/archive.7z"
echo '{"browser": {"show_home_button": true}}' >"$W/served/overrides"
checksum=$(sha256sum "$W/served/full.exe" | cut -d' ' -f1)
packed=$(( $(stat -c %s "$W/served/full.exe") >> 20 ))
printf 'tracking-bench' >"$W/tracking.txt"
append_payload "$BIN/installer.exe" "$W/net/zorvi_net.exe" "$W/tracking.txt"
python3 -c 'import json, sys
reply = {"installer": "http://localhost:3000/full.exe", "installer_checksum": sys.argv[1]}
print(json.dumps({"/netinstaller/nightly": [{"times": "all", "body": json.dumps(reply)}]}))' "$checksum" >"$W/faults.json"
start_server "$W/served" "$W/server" "$W/faults.json"

linux() {
  curl -s -o "$W/linux/full.exe" "http://localhost:3000/full.exe"
  [ "$(sha256sum "$W/linux/full.exe" | cut -d' ' -f1)" = "$checksum" ]
  7zz x -mmt1 -bso0 -bsp0 -o"$W/linux/unpacked" "$W/linux/full.exe"
  cp -r "$W/linux/unpacked" "$W/linux/install"
}
linux_time=$(best 3 "rm -rf '$W/linux'; mkdir '$W/linux'" linux)
rm -rf "$W/linux"

fresh_prefix "$W/prefix"
# The prefix's server and services start with this probe, not with the measured run.
run_installer "$W/prefix" 120 "$BIN/installer.exe" --internal-version >/dev/null
# Every line the installers log, stamped as it reaches its file (the logs have whole seconds only).
temp=$(user_profile "$W/prefix")/Temp
python3 "$ROOT/bench/log_line_times.py" "$temp" "$W/follower.ready" "$W/log_times.tsv" &
FOLLOWER_PID=$!
while [ ! -f "$W/follower.ready" ]; do
  kill -0 "$FOLLOWER_PID" || { echo "the log follower did not start" >&2; exit 1; }
  sleep 0.05
done
start=$EPOCHREALTIME
code=0
run_installer "$W/prefix" 900 "$W/net/zorvi_net.exe" --silent --enable-installer-stats=1 --local-stats-server \
  --local-pref-default-overrides-server=http://localhost:3000/overrides \
  --internal-package-server=http://localhost:3000/netinstaller/nightly >"$W/output.txt" 2>&1 || code=$?
finish=$EPOCHREALTIME
install_time=$(awk -v a="$start" -v b="$finish" 'BEGIN { printf "%.6f", b - a }')
kill -TERM "$FOLLOWER_PID"
wait "$FOLLOWER_PID" || { echo "the log follower failed" >&2; exit 1; }
FOLLOWER_PID=
# The bare references, in the same prefix, from the same server and address: each phase done by plain calls.
mkdir -p "$W/bare"
run_installer "$W/prefix" 600 "$BIN/network_install_references.exe" "http://localhost:3000/full.exe" \
  "$(winpath "$W/bare/full.exe")" "$(winpath "$W/archive.7z")" "$(winpath "$W/bare/unpacked")" \
  "$(winpath "$W/bare/copied")" | tr -d '\r' >"$W/references.txt"
[ "$(awk -F'\t' '$1 == "digest" { print $2 }' "$W/references.txt")" = "$checksum" ] ||
  { echo "the bare download or SHA-256 does not give the package's digest" >&2; exit 1; }
diff -r "$W/package" "$W/bare/copied" >/dev/null || { echo "the bare unpack and copy differ from the package" >&2; exit 1; }
[ ! -e "$W/bare/unpacked" ] || { echo "the bare deletion left the unpacked tree" >&2; exit 1; }
rm -rf "$W/bare"
stop_prefix "$W/prefix"
stop_server
SERVER_PID=
if [ "$code" != 0 ]; then
  echo "the network install ended with $code:" >&2
  tail -n 20 "$W/output.txt" >&2
  installer_logs "$W/prefix" | xargs -r -d '\n' grep -h ':ERROR:' >&2 || true
  exit 1
fi
mapfile -t logs < <(installer_logs "$W/prefix")
cat "${logs[@]}" /dev/null | tr -d '\r' >"$W/log.txt"
folder=$(sed -n 's/.*Install folder set: \(.*\)$/\1/p' "$W/log.txt" | tail -n 1)
linux_folder=$W/prefix/dosdevices/$(printf '%s' "${folder:0:2}" | tr 'A-Z' 'a-z')${folder:2}
linux_folder=${linux_folder//\\//}
posted_statistics "$W/server" >"$W/stats.jsonl"
python3 "$ROOT/bench/network_install_phases.py" "$W/package" "$linux_folder" "$W/stats.jsonl" "$W/log_times.tsv" \
  "$W/references.txt" "$start" "$finish" "$linux_time"
