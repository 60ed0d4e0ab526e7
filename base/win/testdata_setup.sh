#!/bin/bash
# Outside-oracle facts for the Windows utilities' tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
rm -rf "$D"; mkdir -p "$D"
# The processors that the kernel has online: wine reports the same machine.
getconf _NPROCESSORS_ONLN > "$D/processors"

# Registry: wine's own reg tool writes values that the tests read back, and (testdata_check.sh) reads back what
# the tests wrote. The run's prefix is the build folder's.
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
wine_run() { "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$@" </dev/null; }
mkdir -p "$D/registry"
key='HKCU\Software\ZorviRegistryOracle'
wine_run reg delete "$key" /f >/dev/null 2>&1 || true
from_reg="$key\\Written by reg"
wine_run reg add "$from_reg" /v text /t REG_SZ /d 'plain text, with blanks' /f >/dev/null
wine_run reg add "$from_reg" /v empty /t REG_SZ /d '' /f >/dev/null
wine_run reg add "$from_reg" /v expand /t REG_EXPAND_SZ /d '%SystemRoot%\sub folder' /f >/dev/null
wine_run reg add "$from_reg" /v dword /t REG_DWORD /d 0x89abcdef /f >/dev/null
wine_run reg add "$from_reg" /v binary4 /t REG_BINARY /d 78563412 /f >/dev/null
wine_run reg add "$from_reg" /v binary8 /t REG_BINARY /d 0102030405060708 /f >/dev/null
# What the values are, as Linux and wine's command interpreter see them (one per line).
{
  echo 'Software\ZorviRegistryOracle\Written by reg'
  echo 'plain text, with blanks'
  wine_run cmd /c 'echo %SystemRoot%\sub folder' | tr -d '\r'
  printf '%u\n' 0x89abcdef
  printf '%u\n' 0x12345678
} > "$D/registry/from_reg.txt"
# Values that the tests write: the key, then name and UTF-8 text pairs.
printf '%s\n' 'Software\ZorviRegistryOracle\Written by RegKey' 'ascii' 'a plain value' \
    'non-ascii' 'Grüße, κόσμε, 日本語, 😀' > "$D/registry/to_reg.txt"

# Shortcuts: the fields the tests write into links, made here so that testdata_check.sh can hold lnkinfo's
# reading of the links against them. One "name=value" line each, UTF-8. The arguments run past 260
# characters (a fixed buffer of that size would cut them) and mix quotes, blanks and non-ASCII text.
mkdir -p "$D/shortcut"
cp "$BIN/launch_test_child.exe" "$D/shortcut/target program.exe"
data_dir=$(wine_run winepath -w "$D/shortcut" | tr -d '\r')
python3 "${BASH_SOURCE[0]%/*}/testdata_shortcut_fields.py" "$D/shortcut/fields.txt" "$data_dir"
