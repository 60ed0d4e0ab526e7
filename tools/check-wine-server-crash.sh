#!/bin/bash
# Wine's server crashes when a program asks for the handles of every process (NtQuerySystemInformation, class 16)
# while a process of the prefix has no handle yet, as every process has between connecting and opening its first
# one; every program it served is then left waiting for good. This provokes that crash deterministically, in a
# prefix of its own, and checks that tools/wine-run reports it at once and clearly instead of letting the tests
# wait out their limits:
# 1. the query answers while every process has handles (the control);
# 2. a connection to the server's socket that goes no further holds a process with no handle (the server's first
#    message says that it made the process); a program hangs and says so through a named event, and then a second
#    one, waiting for that event, asks the query;
# 3. the server dies by SIGSEGV (gdb reads its core dump); the asking program's wine-run and the hanging one's end
#    within seconds with status 125, saying that the server ended, the hanging one with its stacks; nothing of
#    the prefix is left running.
# Usage: check-wine-server-crash.sh BIN_DIR
set -euo pipefail
BIN=$1
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd)
. "$ROOT/tools/env.sh"
. "$WINDEPS/wine.env"
P=$BUILD_DIR/crash-prefix
status=0
fail() { echo "FAIL: $*"; status=1; }
HOLD_PID=
end_prefix() { [ -z "$HOLD_PID" ] || kill "$HOLD_PID" 2>/dev/null; zorvi_kill_prefix_processes "$P"; rm -rf "$P"; }
trap end_prefix EXIT
zorvi_kill_prefix_processes "$P"
"$ROOT/tools/copy-prefix-template" "$WINDEPS" "$P"
wine_in() { "$ROOT/tools/wine-run" "$WINDEPS" "$P" "$BIN/harness_test_child.exe" "$@" </dev/null 2>&1; }

start=$SECONDS
control=$(wine_in query-handles) || fail "the query failed while every process had handles: $control"
control_seconds=$((SECONDS - start))
echo "control: $control (took $control_seconds s)"
# What "at once" means depends on the machine: a loaded or slow one takes longer to start the two programs. The
# bound follows the control run's time; the limit stays well above it, so a run that waited out its limit can
# never pass for one that noticed the server's end.
NOTICE=$((4 * (control_seconds + 5)))
LIMIT=$((NOTICE * 3 > 60 ? NOTICE * 3 : 60))

# wine names the server's folder after the prefix's device and inode, inside the folder the prefix records.
server_dir=$P/.server-tmp/$(cat "$P/wineserver")/server-$(stat -c '%D' "$P")-$(printf '%x' "$(stat -c '%i' "$P")")
coproc HOLD {
  python3 -c '
import os, socket, sys
os.chdir(sys.argv[1])
connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
connection.connect("socket")
connection.recvmsg(4, socket.CMSG_SPACE(4))  # the request pipe of the process it made for this connection
print("held", flush=True)
sys.stdin.read()
' "$server_dir"
}
read -r held <&"${HOLD[0]}" || held=
[ "$held" = held ] || fail "could not hold a connection to the server in $server_dir"

ready=harness_crash_ready_$$
start=$SECONDS
ZORVI_TEST_LIMIT="$LIMIT" wine_in hang --ready="$ready" >"$P.hang.out" &
hang=$!
set +e
query=$(ZORVI_TEST_LIMIT="$LIMIT" wine_in query-handles --after="$ready")
query_status=$?
wait "$hang"
hang_status=$?
set -e
elapsed=$((SECONDS - start))
hang_report=$(cat "$P.hang.out"); rm -f "$P.hang.out"
echo "---- the asking program's run (status $query_status):"; echo "$query"
echo "---- the hanging program's run (status $hang_status):"; echo "$hang_report"
echo "---- checks (both runs took $elapsed s)"

[ "$query_status" -eq 125 ] || fail "the asking program's run ended with status $query_status, not 125"
grep -q "^wine-run: the wine server (pid [0-9]*) ended while .*harness_test_child.exe ran (it crashed: its core dump is" \
  <<<"$query" || fail "the asking program's run does not say that the server crashed"
core=$(sed -n 's/.*its core dump is \([^)]*\)).*/\1/p' <<<"$query" | head -1)
if [ -n "$core" ] && [ -f "$core" ]; then
  gdb -batch -nx "$(dirname "$WINESERVER")/wineserver64" "$core" 2>/dev/null |
    grep -q "^Program terminated with signal SIGSEGV" || fail "gdb does not read a SIGSEGV from $core"
else
  fail "no core dump of the server"
fi
[ "$hang_status" -eq 125 ] || fail "the hanging program's run ended with status $hang_status, not 125"
grep -q "^It talks to no wine server that still runs" <<<"$hang_report" ||
  fail "the hanging program's report does not say that its server has ended"
grep -q "<(anonymous namespace)::BlockForGood(void\*)+0x" <<<"$hang_report" && fail "winedbg ran against another server"
[ "$elapsed" -lt "$NOTICE" ] ||
  fail "the runs took $elapsed s (the control run $control_seconds s): the server's end was not noticed at once"
left=$(zorvi_left_of_report "$hang_report")
[ -z "$left" ] || fail "still running after the hanging program's report: $left"
[ "$status" -eq 0 ] && echo "the server's crash was provoked, and both runs reported it within $elapsed s"
exit $status
