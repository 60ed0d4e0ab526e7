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

windows() { echo "Z:$1" | tr / '\\'; }

# Runs `$BIN/<exe>` under wine on a source and a target folder, prints its lines, and reports its figure named
# <figure> against `cp -r` of the source on Linux (reported only).
compare_with_cp() {  # label exe figure source target
  local label=$1 exe=$2 figure=$3 source=$4 target=$5
  local cp_time out wine_time
  cp_time=$(best 3 "rm -rf '$target.cp'" cp -r "$source" "$target.cp")
  rm -rf "$target.cp"
  out=$($WINE_RUN "$BIN/$exe" "$(windows "$source")" "$(windows "$target")" | tr -d '\r')
  echo "$out" | grep -v '^figure'
  wine_time=$(echo "$out" | awk -F'\t' -v f="$figure" '$1 == "figure" && $2 == f { print $3 }')
  awk -v o="$wine_time" -v r="$cp_time" -v l="$label" \
    'BEGIN { printf "%s: %.4f s (wine) | cp -r (Linux): %.4f s | ratio %.2fx (reported only)\n", l, o, r, r / o }'
}
