#!/bin/bash
# Checks from the Linux side what the package tests wrote: the payloads against the payload files (cmp) and
# 7-Zip's test of the written packages, and each unpacked archive against 7-Zip's own extraction (diff -r) with
# the files' modification times. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
export TZ=UTC
fail() { echo "$*" >&2; exit 1; }
checked=0

if [ -f "$D/out/payload/written.txt" ]; then
  while read -r name kind; do
    cmp "$D/out/payload/$name.written" "$D/payload/$name.payload" || fail "payload of $name differs"
    [ "$kind" = full ] && { 7zz t -bso0 -bsp0 "$D/out/payload/$name.written" || fail "$name: written package fails 7-Zip's test"; }
    checked=$((checked + 1))
  done < "$D/out/payload/written.txt"
fi

if [ -f "$D/out/unpack/done.txt" ]; then
  while read -r variant; do
    reference=$D/out/unpack-7zz/$variant
    rm -rf "$reference"; mkdir -p "$reference"
    7zz x -bso0 -bsp0 -o"$reference" "$D/archives/$variant.7z"
    diff -r "$reference" "$D/out/unpack/$variant" || fail "$variant: unpacked tree differs from 7-Zip's"
    # Files carry the times 7-Zip restores (folders are not given times); without stored times both are the
    # time of writing, which differs.
    if [ "$variant" != no_mtime ]; then
      times() { (cd "$1" && find . -type f -printf '%P %T@\n' | LC_ALL=C sort); }
      diff <(times "$reference") <(times "$D/out/unpack/$variant") || fail "$variant: file times differ from 7-Zip's"
    fi
    checked=$((checked + 1))
  done < "$D/out/unpack/done.txt"
fi

echo "package outputs verified: $checked"
