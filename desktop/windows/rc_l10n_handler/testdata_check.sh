#!/bin/bash
# What only the system can answer: under wine the user's UI language is that of the process's Unix locale, so
# the fixture host, asked for an empty tag (the settings' first choice, whose list ends with a line end), must
# take the system's language when it carries it and English otherwise. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
BIN=$2
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
run() {  # PROGRAM LOCALE ARGS...: a host's report under the locale
  local program=$1 locale=$2
  shift 2
  ZORVI_WINE_LOCALE=$locale "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$BIN/$program.exe" "$@" \
    </dev/null | tr -d '\r'
}
status=0
# locale, the system's first preferred language, the chosen tag and id
for case in "de_DE.UTF-8 de-DE de 0x0407" "ru_RU.UTF-8 ru-RU en 0x0409" "en_US.UTF-8 en-US en 0x0409"; do
  set -- $case
  first=$(run rc_l10n_handler_host "$1" preferred | sed -n 's/^preferred\.3=//p' | cut -d, -f1)
  chosen=$(run rc_l10n_handler_host "$1" select '' | awk -F= '$1 == "tag" { tag = $2 } $1 == "langid" { id = $2 } END { print tag, id }')
  if [ "$first" != "$2" ] || [ "$chosen" != "$3 $4" ]; then
    echo "under $1: the thread prefers '$first' (want $2) and the empty tag chose '$chosen' (want $3 $4)" >&2
    status=1
  fi
done
# The product's strings as the system's language chooses them without a requested language: the caption and the
# language's own name from the chosen language's table as pefile reads it.
strings=$(/usr/bin/python3 "$ROOT/host/check_host_resources.py" --strings "$BIN/rc_l10n_handler_product_host.exe")
for case in "de_DE.UTF-8 de 0x0407" "en_US.UTF-8 en 0x0409" "ru_RU.UTF-8 en 0x0409"; do
  set -- $case
  expected=$(printf '%s' "$strings" | /usr/bin/python3 -c '
import json, sys
table = json.load(sys.stdin)["tables"][sys.argv[1].lower()]
print(f"tag={sys.argv[2]}|langid={sys.argv[1]}|text.37000={table['"'2313:8'"']}|text.37046={table['"'2316:6'"']}")' "$3" "$2")
  got=$(run rc_l10n_handler_product_host "$1" text '' 37000 37046 | grep -v '^languages=' | paste -sd'|')
  if [ -z "$expected" ] || [ "$got" != "$expected" ]; then
    echo "under $1 the product host read '$got', not '$expected'" >&2
    status=1
  fi
done
[ $status -ne 0 ] || echo "an empty tag takes the system's language, or English when the host lacks it, and its strings"
exit $status
