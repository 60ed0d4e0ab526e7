#!/bin/bash
# The product library loads only the process's basics with itself; every other system DLL it uses is
# delay-loaded, so that a version probe starts no windowing, shell or network code.
# Usage: check-load-time-imports.sh LIBRARY
set -euo pipefail
library=${1:?usage: check-load-time-imports.sh LIBRARY}
at_load=$(x86_64-w64-mingw32-objdump -p "$library" | awk '/DLL Name:/ { print tolower($3) }' | sort | tr '\n' ' ')
delayed=$(/usr/bin/python3 "$(dirname "$0")/list-delay-imports.py" "$library" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
status=0
[ "$at_load" = "advapi32.dll kernel32.dll msvcrt.dll " ] || { echo "loaded with the library: $at_load"; status=1; }
for dll in user32.dll shell32.dll wininet.dll secur32.dll; do
  case " $delayed" in *" $dll "*) ;; *) echo "$dll is not delay-loaded (delay-loaded: $delayed)"; status=1 ;; esac
done
[ $status -ne 0 ] || echo "loaded with the library: $at_load; delay-loaded: $delayed"
exit $status
