#!/bin/bash
# Prepares what the transaction tests need from the Linux side: a second drive letter of the run's prefix on
# another file system (tmpfs), for moves across volumes, and a tree and registry keys whose state it records
# for testdata_check.sh. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../../../../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
rm -rf "$D"; mkdir -p "$D"
# Letters from the other end of the alphabet than the file tests' own second drive.
zorvi_map_second_drive "$D" transactions k l m n o

# record_tree DIR NAME: DIR's listing (names, sizes, modes) and its files' SHA-256 sums, as $D/NAME.find and
# $D/NAME.sha256, which testdata_check.sh compares with what the tests left.
record_tree() {
  (cd "$1" && find . -mindepth 1 -printf '%P %s %m\n' | LC_ALL=C sort) > "$D/$2.find"
  (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum) > "$D/$2.sha256"
}

# Installations whose subfolder a user swaps for a link (wine shows a Linux symbolic link to a folder as a
# reparse point, as Windows shows a junction): "standby" links lead to "outside", whose files sha256sum records
# here and testdata_check.sh compares after the deletions. Each row of the test has an installation of its own;
# "linked" has the link in its subfolder's place from the start.
S=$D/swap
mkdir -p "$S/outside/sub"
printf 'precious library' > "$S/outside/file.dll"
printf 'precious text' > "$S/outside/other.txt"
printf 'precious, deeper' > "$S/outside/sub/deeper.txt"
for row in at_set_aside before_commit linked; do
  mkdir -p "$S/$row/install/V/sub"
  printf 'installed library' > "$S/$row/install/V/sub/file.dll"
  printf 'installed text' > "$S/$row/install/V/sub/other.txt"
  ln -s "$S/outside" "$S/$row/standby"
done
mv "$S/linked/install/V/sub" "$S/linked/sub.real"
mv "$S/linked/standby" "$S/linked/install/V/sub"
record_tree "$S/outside" swap_outside

# A tree and two registry subtrees made here, for the rollback run whose end state testdata_check.sh compares
# with what is recorded now: `find` listings with sizes and modes, SHA-256 sums and wine's own reg export.
T=$D/recorded_tree
mkdir -p "$T/t/sub/deep" "$T/t/empty" "$T/u"
printf 'alpha' > "$T/t/a.txt"
head -c 70000 /dev/urandom > "$T/t/b.bin"
printf 'read only' > "$T/t/ro.txt"
printf 'gamma' > "$T/t/sub/c.txt"
printf 'delta' > "$T/t/sub/deep/d.txt"
printf 'read only too' > "$T/t/sub/deep/ro2.txt"
head -c 3000 /dev/urandom > "$T/u/e.dat"
# Wine shows a file without write permission as read-only.
chmod a-w "$T/t/ro.txt" "$T/t/sub/deep/ro2.txt"
record_tree "$T" recorded_tree

KEY='Software\ZorviTransactionsRecorded'
printf '%s' "$KEY" > "$D/recorded_key"
reg_file=$D/recorded.reg
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  for hive in HKEY_CURRENT_USER HKEY_LOCAL_MACHINE; do
    printf '[%s\\%s\\A]\r\n@="default"\r\n"text"="some text"\r\n"number"=dword:12345678\r\n' "$hive" "$KEY"
    printf '"bytes"=hex:00,ff,10\r\n"expand"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\r\n'
    printf '"multi"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"qword"=hex(b):01,02,03,04,05,06,07,08\r\n"none"=hex(0):\r\n\r\n'
    printf '[%s\\%s\\A\\B\\C]\r\n"deep"="deeper"\r\n\r\n[%s\\%s\\D]\r\n\r\n' "$hive" "$KEY" "$hive" "$KEY"
  done
} | iconv -f UTF-8 -t UTF-16 > "$reg_file"
wine_run() { "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$@" </dev/null; }
for hive in HKCU HKLM; do wine_run reg delete "$hive\\$KEY" /f >/dev/null 2>&1 || true; done
wine_run reg import "$(echo "Z:$reg_file" | tr / '\\')" >/dev/null
for hive in HKCU HKLM; do
  wine_run reg export "$hive\\$KEY" "$(echo "Z:$D/recorded_$hive.reg" | tr / '\\')" /y >/dev/null
done
