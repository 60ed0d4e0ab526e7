#!/bin/bash
# Runs the benchmarks against the build that tools/test.sh made (or BUILD_DIR): each *_bench.exe on its own, or
# through its *_bench.sh when its reference is measured outside wine (or the script alone when the benchmark is
# all Linux-side).
# Usage: bench/run.sh [--smoke] [--no-setup] [NAME...]
#   NAME...     only these benchmarks ("installer_bench" or "installer"), in this order; by default all of them
#   --smoke     each at a small size (ZORVI_BENCH_SMOKE=1), only to show that it still runs and prints its ratios
#   --no-setup  neither builds nor makes a fresh prefix: runs in the build's prefix as it is (the test command's)
# Every named benchmark runs whatever the others did. One that exits non-zero, or prints no ratio, or a ratio
# that is not a positive number, has failed; the failures are named at the end and the exit status is 1.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/env.sh"
# The benchmarks write their figures with a decimal point and this runner reads them so, whatever the caller's
# locale (bash's EPOCHREALTIME and printf follow its numeric part).
[ -z "${LC_ALL:-}" ] || { export LANG=$LC_ALL; unset LC_ALL; }
export LC_NUMERIC=C
setup=1
names=()
for arg in "$@"; do
  case $arg in
    --smoke) export ZORVI_BENCH_SMOKE=1 ;;
    --no-setup) setup= ;;
    -*) echo "bench/run.sh: unknown option $arg" >&2; exit 2 ;;
    *) names+=("${arg%_bench}_bench") ;;
  esac
done
# The benchmarks' folder; its own test points it at benchmarks of its own making.
BENCH_DIR=${ZORVI_BENCH_DIR:-$ROOT/bench}
all=$(cd "$BENCH_DIR" && ls -- *_bench.cc *_bench.sh 2>/dev/null | sed 's/\.\(cc\|sh\)$//' | sort -u)
if [ ${#names[@]} = 0 ]; then
  mapfile -t names <<<"$all"
else
  for name in "${names[@]}"; do
    grep -qx -- "$name" <<<"$all" || { echo "bench/run.sh: no benchmark named $name (known: $(echo $all))" >&2; exit 2; }
  done
fi
if [ -n "$setup" ]; then
  bash "$ROOT/third_party/windeps.sh" "$WINDEPS" >/dev/null || exit 1
  zorvi_configure_and_build || exit 1
  zorvi_fresh_prefix
  trap zorvi_stop_wine EXIT
fi
export BIN="$BUILD_DIR/bin" WINE_RUN="$ROOT/tools/wine-run $WINDEPS $RUN_PREFIX"

failed=()
for name in "${names[@]}"; do
  echo "== $name"
  output=$(mktemp "${TMPDIR:-/tmp}/zorvi-bench-output.XXXXXX")
  if [ -f "$BENCH_DIR/$name.sh" ]; then
    bash "$BENCH_DIR/$name.sh" | tee "$output"
  elif [ -f "$BIN/$name.exe" ]; then
    $WINE_RUN "$BIN/$name.exe" | tr -d '\r' | tee "$output"
  else
    echo "$name.exe was not built (see the build's messages)" >&2
    false
  fi
  status=$?
  # A ratio is "ratio R" with R a positive number: -1 is how a failed measurement shows.
  if [ "$status" = 0 ] && ! grep -Eq 'ratio [0-9]*\.?[0-9]+x' "$output"; then
    echo "$name printed no ratio" >&2
    status=1
  elif [ "$status" = 0 ] && grep -Eq 'ratio (-|nan|inf)' "$output"; then
    echo "$name printed a ratio that is no measurement: $(grep -Eo '[^|]*ratio (-|nan|inf)[^ ]*' "$output" | head -n 1)" >&2
    status=1
  fi
  rm -f "$output"
  [ "$status" = 0 ] || failed+=("$name (status $status)")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "== failed: ${failed[*]}"
  exit 1
fi
echo "== all ${#names[@]} benchmarks ran"
