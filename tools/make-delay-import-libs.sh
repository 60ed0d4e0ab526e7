#!/bin/bash
# make-delay-import-libs.sh CC OUT_DIR LIB...: for each system import library LIB of the cross compiler CC, writes
# OUT_DIR/libLIB.a, which imports the same functions of the same DLL delay-loaded: the DLL is loaded at the first
# call of one of them, not when the module that links it loads. The static members of the original (GUID
# constants, inline helpers) are kept; its data imports, which cannot be delay-loaded, are left out, so a module
# that used one would fail to link rather than load wrongly.
set -euo pipefail
usage="usage: make-delay-import-libs.sh CC OUT_DIR LIB..."
cc=${1:?$usage}; out=${2:?$usage}; shift 2
mkdir -p "$out"
out=$(cd "$out" && pwd)
# The folder is searched before the toolchain's: a library left from an earlier, longer list would still be linked
# in place of the toolchain's own, and its DLL delay-loaded.
rm -f "$out"/lib*.a
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for lib in "$@"; do
  original=$("$cc" -print-file-name="lib$lib.a")
  [ -f "$original" ] || { echo "no import library for $lib" >&2; exit 1; }
  dll=$(x86_64-w64-mingw32-dlltool --identify "$original")
  # Functions have both an import pointer and a thunk; data has only the pointer.
  x86_64-w64-mingw32-nm "$original" > "$work/symbols"
  awk '$2 == "I" && $3 ~ /^__imp_/ { sub(/^__imp_/, "", $3); print $3 }' "$work/symbols" | sort -u > "$work/pointers"
  awk '$2 == "T" { print $3 }' "$work/symbols" | sort -u > "$work/thunks"
  { echo "LIBRARY $dll"; echo "EXPORTS"; comm -12 "$work/pointers" "$work/thunks"; } > "$work/$lib.def"
  rm -f "$out/lib$lib.a"
  x86_64-w64-mingw32-dlltool --def "$work/$lib.def" --dllname "$dll" --output-delaylib "$out/lib$lib.a"
  # Import members are named after the library with h (head), t (tail) or s and a number; the rest is code.
  mkdir "$work/$lib"
  members=$(x86_64-w64-mingw32-ar t "$original" | grep -Ev "^lib${lib}[ht]\.o$|^lib${lib}s[0-9]+\.o$" || true)
  if [ -n "$members" ]; then
    (cd "$work/$lib" && x86_64-w64-mingw32-ar x "$original" $members)
    (cd "$work/$lib" && x86_64-w64-mingw32-ar rcs "$out/lib$lib.a" $members)
  fi
done
