#!/bin/bash
# Checks from the Linux side, in wine's relay trace, the system calls of the UI pump against its rules: one
# wake-up message however many threads wake it, a window timer of at least 10 ms for short delays and of the
# rounded-up delay otherwise, none for work already due, and waits for all input with the input-available
# flag; the system timer's resolution raised only while a short delayed task waits. Usage: testdata_check.sh
# DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
mkdir -p "$D"
WINEDEBUG=+relay "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$BIN/message_pump_for_ui_test_child.exe" \
  </dev/null >"$D/ui_relay.out" 2>"$D/ui_relay.err"
python3 "${BASH_SOURCE[0]%/*}/testdata_ui_relay.py" "$D/ui_relay.out" "$D/ui_relay.err"
