#!/bin/bash
# Runs every benchmark against the build that tools/test.sh made (or BUILD_DIR): each *_bench.exe on its own,
# or through its *_bench.sh when its reference is measured outside wine.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/env.sh"
bash "$ROOT/third_party/windeps.sh" "$WINDEPS" >/dev/null
zorvi_configure_and_build
zorvi_fresh_prefix
export BIN="$BUILD_DIR/bin" WINE_RUN="$ROOT/tools/wine-run $WINDEPS $RUN_PREFIX"
trap zorvi_stop_wine EXIT
for exe in "$BIN"/*_bench.exe; do
  name=$(basename "$exe" .exe)
  echo "== $name"
  if [ -f "$ROOT/bench/$name.sh" ]; then
    bash "$ROOT/bench/$name.sh"
  else
    $WINE_RUN "$exe" | tr -d '\r'
  fi
done
