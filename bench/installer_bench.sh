#!/bin/bash
# The installer benchmark under wine, with cp -r of the same package on Linux as a further reference (reported
# only): a package of 3,000 small files in nested folders with its "files_list" and the launcher.
set -euo pipefail
W=$(mktemp -d /tmp/zorvi-installer-bench.XXXXXX)
trap 'rm -rf "$W"' EXIT
. "$(dirname "$0")/bench_util.sh"
files=$(sized 3000 300)
python3 "$(dirname "$0")/package_tree.py" "$W/package" "$files"
# The launcher lies beside the files, outside "files_list", as in a real package: the install copies it too.
cp "$BIN/package_dummy_test_child.exe" "$W/package/launcher.exe"
compare_with_cp "copy-only install of $files files" installer_bench.exe install "$W/package" "$W/install"
