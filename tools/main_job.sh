#!/bin/bash
# The installer's main job, end to end on a fresh Debian 12 machine (as root): sets up, builds the host, the
# library and the sample package's programs (the test command builds the rest), makes the sample package, packs
# it with 7zz and appends it to a copy of the host, then runs that installer alone with --silent in a fresh wine
# prefix, under a hard time limit, against the loopback update-service stand-in (nothing leaves the machine).
# Prints the exit code, the installed tree, the product's registry keys, the shortcuts, the status log and the
# statistics the stand-in received, and the time of each part.
# Under wine the run's error lines say that the taskbar pin and the autoupdate task's daily trigger were refused
# (wine implements neither); the installation succeeds without them, as it would on such a Windows.
# Everything goes to out/main_job (JOB_DIR moves it).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/env.sh"
. "$ROOT/testing/installer/silent_install/silent_install.sh"
LIMIT=${LIMIT:-300}
# Where the job is, with the time since its start.
stage() { echo "[main job] $* (${SECONDS}s)"; }
SECONDS=0
stage "setting up the packages, the dependencies and the wine prefix template"
bash "$ROOT/third_party/windeps.sh" "$WINDEPS"
setup_time=$SECONDS
stage "building the host, the library and the sample package's programs"
zorvi_configure_and_build installer zorvi package_dummy_test_child
build_time=$((SECONDS - setup_time))
stage "making the sample package and the full installer"

JOB=${JOB_DIR:-$BUILD_DIR/main_job}
rm -rf "$JOB"
mkdir -p "$JOB/download" "$JOB/served"
make_sample_package "$BUILD_DIR/bin/zorvi.dll" "$JOB/package"
# The service's default-preference overrides for the browser's first run.
echo '{"browser": {"show_home_button": true}}' >"$JOB/served/overrides"
# Alone in its folder, as a downloaded installer is.
make_full_installer "$JOB/package" "$JOB/download/zorvi_installer.exe"
package_time=$((SECONDS - setup_time - build_time))
stage "installing silently in a fresh prefix"

fresh_prefix "$JOB/prefix"
trap 'stop_server; stop_prefix "$JOB/prefix"' EXIT
start_server "$JOB/served" "$JOB/server"
code=0
run_installer "$JOB/prefix" "$LIMIT" "$JOB/download/zorvi_installer.exe" --silent --v=2 --enable-installer-stats=1 \
  --local-stats-server --local-pref-default-overrides-server=http://localhost:3000/overrides || code=$?
install_time=$((SECONDS - setup_time - build_time - package_time))
stage "reading what the run left"
stop_server
stop_prefix "$JOB/prefix"
trap - EXIT

users=$(user_profile "$JOB/prefix")
echo "== exit code: $code"
echo "== installed tree"
mapfile -t logs < <(installer_logs "$JOB/prefix")
folder=$(cat "${logs[@]}" | tr -d '\r' | sed -n 's/.*Install folder set: \(.*\)$/\1/p' | tail -n 1)
linux_folder=$JOB/prefix/dosdevices/$(printf '%s' "${folder:0:2}" | tr 'A-Z' 'a-z')${folder:2}
linux_folder=${linux_folder//\\//}
echo "$folder"
if [ -d "$linux_folder" ]; then (cd "$linux_folder" && find . | sort); else echo "(no folder)"; fi
echo "== registry (wine reg query)"
# A key the run did not write (the user's uninstall entries after a machine-wide install) is simply not shown.
reg_query() {
  "$ROOT/tools/wine-run" "$WINDEPS" "$JOB/prefix" reg query "$1" /s </dev/null 2>&1 | tr -d '\r' |
    grep -v '^reg: Unable to find the specified registry key' || true
}
# The product's keys for the user and for the machine, and the product's entries among the uninstall keys.
for hive in HKCU HKLM; do
  reg_query "$hive\Software\Zorvi"
  reg_query "$hive\Software\Microsoft\Windows\CurrentVersion\Uninstall" |
    awk '/^HKEY/ { show = ($0 ~ /Zorvi/) } show'
done
stop_prefix "$JOB/prefix"
echo "== shortcuts (lnkinfo)"
shortcuts=$(find "$users" "$JOB/prefix/drive_c/users/Public" "$JOB/prefix/drive_c/ProgramData" -iname '*.lnk' 2>/dev/null | grep -i zorvi || true)
[ -n "$shortcuts" ] || echo "(none)"
while read -r lnk; do
  [ -n "$lnk" ] || continue
  echo "$lnk"
  lnkinfo "$lnk" | grep -E 'Local path|Command line|Working directory|Description' || true
done <<<"$shortcuts"
echo "== status log (xmllint --format)"
log=$(find "$linux_folder" -maxdepth 1 -name installation_status.xml 2>/dev/null || true)
if [ -n "$log" ]; then xmllint --format "$log"; else echo "(none)"; fi
echo "== statistics received"
stats=$(posted_statistics "$JOB/server")
if [ -n "$stats" ]; then python3 -m json.tool <<<"$stats"; else echo "(none)"; fi
echo "== requests to the stand-in"
python3 -c 'import json,sys
for l in open(sys.argv[1]): r=json.loads(l); print(r["method"], r["target"], r["status"])' "$JOB/server/requests.jsonl"
echo "== errors of the run"
grep -h ':ERROR:' "${logs[@]}" | tr -d '\r' || true
echo "[time] setup ${setup_time}s, build ${build_time}s, packaging ${package_time}s, install ${install_time}s, total ${SECONDS}s"
exit 0
