#!/bin/bash
# The host and the product library load only the process's basics with themselves; every other system DLL they
# use is delay-loaded, so that a version probe starts no windowing, shell, network or security code.
# Usage: check-load-time-imports.sh MODULE "AT_LOAD" "DELAYED": MODULE loads exactly the DLLs AT_LOAD names with
# itself and delay-loads each one DELAYED names (lower-case names separated by blanks).
set -euo pipefail
usage='usage: check-load-time-imports.sh MODULE "AT_LOAD" "DELAYED"'
module=${1:?$usage}; expected_at_load=${2:?$usage}; must_be_delayed=${3:?$usage}
at_load=$(x86_64-w64-mingw32-objdump -p "$module" | awk '/DLL Name:/ { print tolower($3) }' | sort | tr '\n' ' ')
delayed=$(/usr/bin/python3 "$(dirname "$0")/list-delay-imports.py" "$module" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
status=0
[ "$at_load" = "$(tr ' ' '\n' <<<"$expected_at_load" | sed '/^$/d' | sort | tr '\n' ' ')" ] ||
  { echo "loaded with $(basename "$module"): $at_load"; status=1; }
for dll in $must_be_delayed; do
  case " $delayed" in *" $dll "*) ;; *) echo "$dll is not delay-loaded (delay-loaded: $delayed)"; status=1 ;; esac
done
[ $status -ne 0 ] || echo "loaded with $(basename "$module"): $at_load; delay-loaded: $delayed"
exit $status
