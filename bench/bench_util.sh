# Shell helpers of the benchmarks that measure a reference from Linux (sourced).

# FULL, or SMOKE in a smoke run (ZORVI_BENCH_SMOKE=1, set by bench/run.sh --smoke): a small size at which the
# benchmark only shows that it still runs and prints its ratios.
sized() { if [ "${ZORVI_BENCH_SMOKE:-}" = 1 ]; then echo "$2"; else echo "$1"; fi; }

best() {  # best wall time in seconds of N runs (one in a smoke run) of a command, with an optional untimed preparation
  local runs prepare=$2; runs=$(sized "$1" 1); shift 2
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

# work_folder NAME: a fresh scratch folder as W, removed at exit together with the loopback server when one was
# started (start_loopback_server).
work_folder() {
  W=$(mktemp -d "${TMPDIR:-/tmp}/zorvi-$1.XXXXXX")
  server=
  trap '[ -z "$server" ] || { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }; rm -rf "$W"' EXIT
}

# start_loopback_server ROOT FAULTS DIR [PORT]: the loopback test server serving ROOT with the fault table FAULTS
# ("" for none), its request log and the bodies posted to it in DIR, on PORT (a free one by default). Returns once it
# has announced itself; sets `server` (its process, which the caller ends) and `port`.
start_loopback_server() {
  local root=$1 faults=$2 dir=$3 announcement
  # The clients under test talk to it directly, never through a proxy that the environment names.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY
  mkdir -p "$dir/bodies"
  exec {LOOPBACK_FD}< <(exec python3 "$(dirname "${BASH_SOURCE[0]}")/../testing/loopback_server/loopback_server.py" \
    --root "$root" ${faults:+--faults "$faults"} --log "$dir/requests.jsonl" --bodies "$dir/bodies" \
    --port "${4:-0}" --lifetime 1800)
  server=$!
  read -r -u "$LOOPBACK_FD" announcement || { echo "the loopback server did not start" >&2; return 1; }
  port=$(python3 -c 'import json, sys; print(json.loads(sys.argv[1])["port"])' "$announcement")
}
