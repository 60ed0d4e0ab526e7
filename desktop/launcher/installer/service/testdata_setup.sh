#!/bin/bash
# Outside-oracle inputs of the installer service tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D/identity"

# File identity: a target, a hard link to it made by ln and an unrelated file. The file index the system reports
# is the inode number, which stat gives; identity.txt holds "name=inode" per file.
cd "$D/identity"
printf 'target' > target.exe
ln target.exe "hard link.exe"
printf 'other' > other.exe
stat -c '%n=%i' . target.exe "hard link.exe" other.exe > ../identity.txt

# Links: a Linux symbolic link to a folder, which wine shows as a folder that is a reparse point.
mkdir -p "$D/links/folder/sub"
ln -s folder "$D/links/to_folder"
