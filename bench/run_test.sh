#!/bin/bash
# bench/run.sh against benchmarks of this test's own making: the named ones run in the order named, each past the
# failures before it; one that exits non-zero, prints no ratio or a negative one has failed, and the failures are
# named at the end with exit status 1; --smoke reaches each benchmark; an unknown name is refused before anything
# runs.
set -uo pipefail
RUN=$(cd "$(dirname "$0")" && pwd)/run.sh
D=$(mktemp -d "${TMPDIR:-/tmp}/zorvi-bench-run-test.XXXXXX")
trap 'rm -rf "$D"' EXIT
failures=0
check() {  # DESCRIPTION EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}
fake() {  # NAME BODY: a benchmark script that notes its run (with the smoke setting) and then runs BODY
  printf 'echo "%s ${ZORVI_BENCH_SMOKE:-full}" >>"%s/order"\n%s\n' "$1" "$D" "$2" >"$D/bench/$1_bench.sh"
}
mkdir -p "$D/bench"
fake exits 'echo "x: 1 s | y: 2 s | ratio 2.00x"; exit 3'
fake negative 'echo "x: -1 s | y: 0.02 s | ratio -0.02x"'
fake silent 'echo "x: 1 s"'
fake good 'echo "x: 1 s | y: 2 s | ratio 2.00x"'
run() { ZORVI_BENCH_DIR=$D/bench BUILD_DIR=$D/out bash "$RUN" --no-setup "$@" >"$D/output" 2>&1; }

run exits negative silent good
check "exit status with failures" 1 $?
check "order of the runs" "exits full,negative full,silent full,good full" "$(paste -sd, "$D/order")"
check "the failures named" "== failed: exits_bench (status 3) negative_bench (status 1) silent_bench (status 1)" \
  "$(tail -n 1 "$D/output")"

rm -f "$D/order"
run --smoke good_bench
check "exit status without failures" 0 $?
check "the smoke setting reaches the benchmark" "good 1" "$(cat "$D/order")"
check "the last line" "== all 1 benchmarks ran" "$(tail -n 1 "$D/output")"

rm -f "$D/order"
run good nothing
check "exit status for an unknown name" 2 $?
check "nothing ran" "" "$(cat "$D/order" 2>/dev/null)"
grep -q "no benchmark named nothing_bench" "$D/output" || check "the unknown name said" "named" "$(cat "$D/output")"

[ "$failures" = 0 ] && echo "bench/run.sh: every check passed"
exit $((failures > 0))
