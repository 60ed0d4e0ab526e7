#!/bin/bash
# Checks from the Linux side what the tests of base/win wrote: the registry with wine's own reg tool (and removes
# the oracle key), shortcuts with lnkinfo; with objdump and nm, that every module linked from the areas carries
# the module's own heap allocator and the start-up processor check; and, with wine's relay trace, which shell
# calls the taskbar functions make. Usage: testdata_check.sh DATA_DIR BIN_DIR
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

# No module imports the C runtime DLL's malloc, calloc, realloc or free, and each defines the check's
# initialiser.
count=0; modules_ok=0
for module in "$BIN"/*.exe "$BIN"/*.dll; do
  name=$(basename "$module")
  [ "$name" = installer.exe ] && continue  # the host executable links none of the areas
  # Tests run copies of a child under another Windows version beside it ("child_<pid>..."): copies of a module
  # scanned here, which come and go while this check runs.
  case $name in child_[0-9]*) continue ;; esac
  count=$((count + 1))
  imported=$(x86_64-w64-mingw32-objdump -p "$module" |
             awk 'tolower($0) ~ /dll name: msvcrt.dll/ { f = 1; next } /DLL Name:/ { f = 0 } f && NF == 3 { print $3 }' |
             grep -xE 'malloc|calloc|realloc|free' || true)
  if [ -n "$imported" ]; then
    echo "$name imports the C runtime's allocator: $(echo $imported)"; status=1; modules_ok=1
  fi
  # grep -q stops reading at its first match and nm's next write then fails (SIGPIPE), which pipefail takes for a
  # failed pipeline: where nm's order (it follows the locale) put the symbol early, every such module "lacked" it.
  if ! grep -q ' zorvi_module_sse2_check$' <<<"$(x86_64-w64-mingw32-nm "$module")"; then
    echo "$name lacks the start-up processor check"; status=1; modules_ok=1
  fi
done
[ "$count" -gt 5 ] || { echo "only $count modules in $BIN"; exit 1; }
[ $modules_ok -eq 0 ] && echo "$count modules allocate through their own allocator and check the processor at load"

# Shortcuts: lnkinfo (liblnk) reads the links that the shortcut tests wrote; each field must be the one that
# testdata_setup.sh chose, whole (the arguments run past 260 characters), and the fields a test dropped must be
# absent. A link is missing only when its test was filtered out of the run.
for link in created replaced updated; do
  [ -e "$D/shortcut/$link.lnk" ] || continue
  lnkinfo "$D/shortcut/$link.lnk" > "$D/shortcut/$link.lnkinfo" || { echo "lnkinfo cannot read $link.lnk" >&2; status=1; continue; }
  python3 "${BASH_SOURCE[0]%/*}/testdata_shortcut_check.py" "$D/shortcut/fields.txt" "$D/shortcut/$link.lnkinfo" "$link" || status=1
done

# Taskbar pins: the shell calls of a child under wine's per-program Windows version, from wine's relay trace.
# Unpinning before Windows 7 must not reach the shell; otherwise the verb goes to ShellExecuteW on the link with
# no parameters and a hidden window.
shell_calls() {  # VERSION VERB: the child's ShellExecuteW calls with exactly those arguments, and all of them
  local name="taskbar_relay_$$_$1.exe"
  cp "$BIN/shortcut_test_child.exe" "$D/$name"
  wine_run reg add "HKCU\\Software\\Wine\\AppDefaults\\$name" /v Version /d "$1" /f >/dev/null
  WINEDEBUG=+relay wine_run "$D/$name" "$2" 'C:\no such link.lnk' 2>&1 | tr -d '\r' > "$D/$name.relay" || true
  wine_run reg delete "HKCU\\Software\\Wine\\AppDefaults\\$name" /f >/dev/null
  rm -f "$D/$name"
  local exact all
  exact=$(grep -ac ":Call shell32.ShellExecuteW(00000000,[0-9a-f]* L\"taskbar$2\",[0-9a-f]* L\"C:\\\\\\\\no such link.lnk\",00000000,00000000,00000000)" "$D/$name.relay" || true)
  all=$(grep -ac ':Call shell32.ShellExecute' "$D/$name.relay" || true)
  rm -f "$D/$name.relay"
  echo "$exact $all"
}
for case in "vista unpin 0 0" "win7 unpin 1 1" "win7 pin 1 1"; do
  set -- $case
  calls=$(shell_calls "$1" "$2")
  if [ "$calls" != "$3 $4" ]; then
    echo "taskbar $2 under $1: (exact, all) shell calls $calls, want $3 $4" >&2; status=1
  fi
done
[ $status -ne 0 ] || echo "taskbar verbs reach the shell from Windows 7 on only"
exit $status
