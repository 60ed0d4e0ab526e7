#!/bin/bash
# The crash reporter benchmark on two cores (taskset -c 0,1), against the loopback test server as its crash
# server: the crash check is turned down (503) and the minidump's upload taken (200).
set -euo pipefail
. "$(dirname "$0")/bench_util.sh"
work_folder reporter-bench
mkdir -p "$W/www"
echo '{"/crash": [{"times": "all", "status": 503}], "/collector/submit": [{"times": "all", "status": 200}]}' \
  >"$W/faults.json"
start_loopback_server "$W/www" "$W/faults.json" "$W/server"
taskset -c 0,1 $WINE_RUN "$BIN/crash_reporter_bench.exe" "http://127.0.0.1:$port/crash" | tr -d '\r'
