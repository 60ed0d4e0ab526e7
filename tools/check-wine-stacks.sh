#!/bin/bash
# A test that outlives its limit must explain itself: tools/wine-run ends it and puts every thread's stack of its
# processes into its output. Runs testing's harness_test_child, which hangs for good after starting a copy of itself
# that blocks too, under a short limit, and checks the report: the exit status, each process's two threads seen by
# Linux and by the wine server, the project's own frames named, and no process of the run left behind. Then a
# program that dies by a Linux signal, as when wine's own code crashes: its core dump's stacks are reported.
# Usage: check-wine-stacks.sh BIN_DIR
set -euo pipefail
BIN=$1
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd)
. "$ROOT/tools/env.sh"
LIMIT=20
status=0
fail() { echo "FAIL: $*"; status=1; }

start=$SECONDS
set +e
report=$(ZORVI_TEST_LIMIT="600 Hung.*=$LIMIT" "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" \
         "$BIN/harness_test_child.exe" hang --spawn --gtest_filter=Hung.Test </dev/null 2>&1)
exit_status=$?
set -e
echo "$report"
echo "---- checks (wine-run took $((SECONDS - start)) s)"
[ "$exit_status" -eq 124 ] || fail "wine-run ended with status $exit_status, not 124"
grep -q "was still running after its limit of $LIMIT s" <<<"$report" || fail "no limit message"
[ "$(grep -c '^---- process ' <<<"$report")" -eq 2 ] || fail "the report does not cover both processes"
[ "$(grep -c '^The wine server lists Windows process 0x[0-9a-f]* with threads 0x[0-9a-f]* 0x[0-9a-f]*$' \
       <<<"$report")" -eq 2 ] || fail "the wine server's view of the two threads of each process is missing"
[ "$(grep -c '= Windows thread 0x' <<<"$report")" -eq 4 ] || fail "not every Linux thread is matched to its Windows thread"
for frame in '<(anonymous namespace)::BlockForGood(void\*)+0x' '<(anonymous namespace)::WaitForTheWorker(void\*)+0x'; do
  [ "$(grep -c "$frame" <<<"$report")" -eq 2 ] || fail "the frame ${frame%%(void*} is not named in both processes"
done
left=$(zorvi_left_of_report "$report")
[ -z "$left" ] || fail "still running after the report: $left"

# A program that wine itself crashes under dies by a Linux signal: wine-run reports the stacks of its core dump.
folder=$(mktemp -d "$BUILD_DIR/crash.XXXXXX")
set +e
crash=$(cd "$folder" && "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$BIN/harness_test_child.exe" crash-wine \
        </dev/null 2>&1)
crash_status=$?
set -e
echo "---- the crashing program's run (status $crash_status):"; echo "$crash"
[ "$crash_status" -eq $((128 + 31)) ] || fail "the crashing program's run ended with status $crash_status, not 159"
grep -q "^  Program terminated with signal SIGSYS" <<<"$crash" || fail "gdb's reading of the core is missing"
grep -q "^wine-run: wine itself crashed under .*harness_test_child.exe" <<<"$crash" || fail "no crash message"
ls "$folder"/wine-crash-*.core >/dev/null 2>&1 || fail "the core dump was not kept"
rm -rf "$folder"
[ "$status" -eq 0 ] && echo "the hung program and its child were reported and ended, the crash was reported"
exit $status
