#!/bin/bash
# Inputs and outside-oracle facts for the file tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
chmod -R u+w "$D" 2>/dev/null || true
rm -rf "$D"; mkdir -p "$D"

# A tree for the enumeration oracle: nested and empty folders, non-ASCII names, files of many sizes.
T=$D/enum_tree
mkdir -p "$T/a/b/c" "$T/empty" "$T/Grüße κόσμε/日本" "$T/with space/x.y"
i=0
for dir in "" a a/b a/b/c "Grüße κόσμε" "Grüße κόσμε/日本" "with space" "with space/x.y"; do
  for n in 0 1 2 3 4 5 6 7; do
    head -c $(( (i * 7919) % 5000 )) /dev/urandom > "$T/$dir/file $i.bin"
    i=$((i + 1))
  done
done
head -c 0 /dev/null > "$T/a/zero length"
(cd "$T" && find . -mindepth 1 \( -type d -printf '%P\td\n' \) -o \( -type f -printf '%P\t%s\n' \)) \
    | LC_ALL=C sort > "$D/enum_tree.list"

# Whole-file reads: a file across many 64 KiB chunks with its digest, bytes that a text-mode read would
# change, and a file with a known modification time.
head -c 1048579 /dev/urandom > "$D/read_oracle.bin"
sha256sum "$D/read_oracle.bin" | cut -c1-64 | tr -d '\n' > "$D/read_oracle.sha256"
printf 'line\r\nctrl-z\x1a after\r\n\n' > "$D/binary.bin"
printf 'twelve bytes' > "$D/dated.txt"
touch -d '2001-02-03 04:05:06 UTC' "$D/dated.txt"
date -u -d '2001-02-03 04:05:06 UTC' +%s | tr -d '\n' > "$D/dated.epoch"

# The tree of the integration test: 1,000 files in ten folders (with a subfolder each), .tmp files among
# them for the wildcard delete, an empty folder, non-ASCII names and read-only files (wine shows a file
# without write permission as read-only).
S=$D/tree/source
for d in $(seq 0 9); do
  dir=$(printf '%s/d%02d' "$S" "$d")
  mkdir -p "$dir/sub"
  for f in $(seq 0 79); do head -c $(( (d * 80 + f) * 131 % 20000 )) /dev/urandom > "$(printf '%s/f%03d.bin' "$dir" "$f")"; done
  for f in $(seq 0 9); do head -c $(( f * 300 )) /dev/urandom > "$dir/t$f.tmp"; done
  for f in $(seq 0 9); do head -c 1000 /dev/urandom > "$dir/sub/s$f.tmp"; done
done
rm "$S/d09/sub/s9.tmp"
mkdir -p "$S/empty" "$S/Grüße 日本"
head -c 1048576 /dev/urandom > "$S/Grüße 日本/groß.bin"
chmod a-w "$S/d01/f000.bin" "$S/Grüße 日本/groß.bin"
[ "$(find "$S" -type f | wc -l)" = 1000 ] || { echo "the tree must hold 1,000 files" >&2; exit 1; }
(cd "$S" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum) > "$D/tree/source.sha256"
printf 'the replacement\n' > "$D/tree/replacement.txt"
printf 'deleted at the next restart\n' > "$D/tree/doomed.txt"

# Folders holding links to a folder outside them: Linux symbolic links, which wine shows as reparse points, as
# Windows shows junctions. Deleting the folders must not reach the target. (A link to a file is left out: wine
# shows it as a plain file, and deleting it deletes its target, where Windows deletes the link.)
L=$D/links
mkdir -p "$L/outside/inner" "$L/doomed/sub"
printf 'kept\n' > "$L/outside/precious.txt"
head -c 5000 /dev/urandom > "$L/outside/inner/kept.bin"
printf 'goes\n' > "$L/doomed/sub/gone.txt"
ln -s ../../outside "$L/doomed/sub/to_outside"
ln -s "$L/outside" "$L/top_link"
(cd "$L/outside" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum) > "$L/outside.sha256"

# A second volume for moves across volumes: a drive letter of the run's prefix on tmpfs.
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
zorvi_map_second_drive "$D" files y x w v u t s r q p
