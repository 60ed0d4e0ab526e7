#!/bin/bash
# Sets up everything on a Debian 12 machine (as root), builds, and runs every test under wine.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/env.sh"
SECONDS=0
bash "$ROOT/third_party/windeps.sh" "$WINDEPS"
echo "[time] setup ${SECONDS}s"
zorvi_configure_and_build
echo "[time] setup + build ${SECONDS}s"
zorvi_fresh_prefix
trap zorvi_stop_wine EXIT
# Test processes mostly wait on wine and each other: run more of them than there are cores. Each unit test has
# its own limit (cmake/areas.cmake); --timeout bounds the Linux-side setup and check scripts.
ctest --test-dir "$BUILD_DIR" -j "$((JOBS * 2))" --output-on-failure --timeout 300 "$@"
echo "[time] total ${SECONDS}s"
