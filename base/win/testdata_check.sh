#!/bin/bash
# Checks from the Linux side, with wine's own reg tool, what the tests of base/win wrote to the registry, and
# removes the oracle key. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
wine_run() { "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$@" </dev/null; }
key='HKCU\Software\ZorviRegistryOracle'
written="$key\\Written by RegKey"
status=0
if [ -e "$D/registry/to_reg.done" ]; then
  # reg query prints "    name    TYPE    data" per value.
  query=$(wine_run reg query "$written" /v ascii | tr -d '\r')
  echo "$query" | grep -qx '    ascii    REG_SZ    a plain value' || { echo "reg query: $query" >&2; status=1; }
  query=$(wine_run reg query "$written" /v number | tr -d '\r')
  echo "$query" | grep -qx '    number    REG_DWORD    0xfedcba98' || { echo "reg query: $query" >&2; status=1; }
  query=$(wine_run reg query "$written" /v bytes | tr -d '\r')
  echo "$query" | grep -qx '    bytes    REG_BINARY    00FF7F80' || { echo "reg query: $query" >&2; status=1; }
  # Non-ASCII text through an exported file (UTF-16), not the console's code page.
  rm -f "$D/registry/export.reg"
  wine_run reg export "$written" "$(echo "Z:$D/registry/export.reg" | tr / '\\')" /y >/dev/null
  python3 - "$D/registry/export.reg" "$D/registry/to_reg.txt" <<'PY' || status=1
import sys
text = open(sys.argv[1], "rb").read().decode("utf-16")
lines = open(sys.argv[2], encoding="utf-8").read().split("\n")
wanted = '"non-ascii"="%s"' % lines[4]
if wanted not in text.splitlines():
    sys.exit("reg export lacks %r:\n%s" % (wanted, text))
print("registry round trip verified with reg query and reg export")
PY
fi
wine_run reg delete "$key" /f >/dev/null 2>&1 || true
exit $status
