# Shell helpers of the benchmarks that measure a reference from Linux (sourced).

best() {  # best wall time in seconds of N runs of a command, with an optional untimed preparation
  local runs=$1 prepare=$2; shift 2
  local best=
  for _ in $(seq "$runs"); do
    eval "$prepare"
    local start=$EPOCHREALTIME
    "$@"
    local spent
    spent=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.6f", b - a }')
    if [ -z "$best" ] || awk -v s="$spent" -v b="$best" 'BEGIN { exit !(s < b) }'; then best=$spent; fi
  done
  echo "$best"
}
