#!/bin/bash
# Runs the whole test command again and again, to catch what fails only now and then, and prints each run's
# failures. Each run boots a fresh copy of the prefix (tools/test.sh does).
# Usage: tools/stress.sh [-n RUNS] [-c CPUS] [-l] [-o LOG_DIR] [-- CTEST_ARGS...]
#   -n RUNS     runs in a row (default 10)
#   -c CPUS     every suite runs under taskset -c CPUS (0,1 shows what a two-core machine sees)
#   -l          a second suite keeps running alongside, in its own build folder (out/load) and prefix, as load
#   -o LOG_DIR  each run's output and the summary (default out/stress/<date-time>)
# Ends with status 0 when every run passed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=10 CPUS= LOAD= LOGS=
while getopts "n:c:lo:" option; do
  case $option in
    n) RUNS=$OPTARG ;;
    c) CPUS=$OPTARG ;;
    l) LOAD=1 ;;
    o) LOGS=$OPTARG ;;
    *) sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
LOGS=${LOGS:-$ROOT/out/stress/$(date +%Y%m%d-%H%M%S)}
mkdir -p "$LOGS"
SUMMARY=$LOGS/summary.txt
pin=()
[ -n "$CPUS" ] && pin=(taskset -c "$CPUS")

note() { echo "$*" | tee -a "$SUMMARY"; }
note "stress: $RUNS runs of $(git -C "$ROOT" rev-parse --short HEAD) from $(date '+%F %T')${CPUS:+, on CPUs $CPUS}${LOAD:+, with a second suite alongside}${*:+, ctest $*}"

load_pid=
stop_load() {
  [ -n "$load_pid" ] || return 0
  # The load suite ends after its current run, so that its own exit trap stops its wine server and display.
  touch "$LOGS/load.stop"
  wait "$load_pid" || true
  load_pid=
}
trap stop_load EXIT
if [ -n "$LOAD" ]; then
  rm -f "$LOGS/load.stop"
  (
    load_run=0
    until [ -e "$LOGS/load.stop" ]; do
      load_run=$((load_run + 1))
      if BUILD_DIR=$ROOT/out/load "${pin[@]}" "$ROOT/tools/test.sh" >"$LOGS/load-$load_run.log" 2>&1; then
        echo "load run $load_run: passed"
      else
        echo "load run $load_run: FAILED (see load-$load_run.log)"
      fi >>"$LOGS/load.txt"
    done
  ) </dev/null &
  load_pid=$!
fi

failed_runs=0
for run in $(seq 1 "$RUNS"); do
  log=$LOGS/run-$run.log
  start=$SECONDS
  set +e
  "${pin[@]}" "$ROOT/tools/test.sh" "$@" >"$log" 2>&1
  status=$?
  set -e
  total=$(sed -n 's/^Total Test time (real) = *\([0-9.]*\) sec$/\1/p' "$log")
  counts=$(grep -E '^[0-9]+% tests passed' "$log" || echo "no test summary (build or setup failed?)")
  slowest=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*Passed *\([0-9.]*\) sec$/\2 \1/p' "$log" |
            awk '$1 > max { max = $1; line = $0 } END { print line }')
  note "run $run/$RUNS: status $status, $counts, tests ${total:-?} s, run $((SECONDS - start)) s, slowest: ${slowest:-?}"
  if [ "$status" -ne 0 ]; then
    failed_runs=$((failed_runs + 1))
    sed -n '/^The following tests FAILED:/,/^Errors while running CTest/p' "$log" | grep -E '^\s+[0-9]+ - ' |
      sed 's/^\s*/    failed: /' | tee -a "$SUMMARY"
    grep -h '^wine-run: .* after its limit' "$log" | sed 's/^/    /' | tee -a "$SUMMARY" || true
  fi
done
stop_load
[ -n "$LOAD" ] && note "second suite: $(grep -c passed "$LOGS/load.txt" || true) runs passed, $(grep -c FAILED "$LOGS/load.txt" || true) failed"
note "stress: $((RUNS - failed_runs)) of $RUNS runs passed (logs in $LOGS)"
[ "$failed_runs" -eq 0 ]
