#!/bin/bash
# Checks from the Linux side, in wine's relay trace, the millisecond argument that each timed wait hands to
# the system, against the rule computed here: whole milliseconds truncated toward zero, 0 for anything not
# positive, 0xFFFFFFFF (no limit) from 0xFFFFFFFF ms up. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
mkdir -p "$D"
durations=(1900 999 0 -1 -1000 -max 4294967294000 4294967295000 4294967301000 max 2000 1500)
args=()
for us in "${durations[@]}"; do args+=("event:$us"); done
# Condition-variable waits that would sleep long are woken by the child's other thread.
for us in 1900 -1000 -max 4294967301000 max 0; do args+=("cv:$us"); done
WINEDEBUG=+relay "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$BIN/wait_duration_test_child.exe" "${args[@]}" \
  </dev/null >"$D/relay.out" 2>"$D/relay.err"
python3 "${BASH_SOURCE[0]%/*}/testdata_relay.py" "$D/relay.out" "$D/relay.err" "${args[@]}"
