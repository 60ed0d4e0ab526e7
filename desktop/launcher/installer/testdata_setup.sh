#!/bin/bash
# Inputs and outside-oracle results for the tests of the installer engine. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
B=$2
rm -rf "$D"; mkdir -p "$D/branding"

# Branding: wrestool (icoutils) extracts "TXT" 133 of the product's own host, and Python's json (the product's
# oracle, beside product_info) says what each getter must then answer: the host's and the help's tests and the log
# names' checks read them.
wrestool -x --raw --type=TXT --name=133 "$B/installer.exe" > "$D/branding/installer.json"
python3 -c 'import json, sys; assert isinstance(json.load(sys.stdin), dict)' < "$D/branding/installer.json"
python3 "${BASH_SOURCE[0]%/*}/../../common/product/testdata_branding.py" "$D/branding"

HERE=$(cd "$(dirname "$0")" && pwd)

# Settings and existing-installation status: installations and other folders as the tests find them.
bash "$HERE/testdata/stage_installations.sh" "$D/staged"

# Links, which wine shows as folders that are reparse points, as Windows shows junctions: Linux symbolic links
# to folders, and a hard link. Nothing the helper, the clean-up batch or a profile deletion does may reach
# through them: reparse_modes.txt holds the modes of what the links lead to as find gives them, which is what wine
# keeps of an access list.
#   helper/: a folder to grant that holds a link to "target" and a hard link to a file of it.
#   refused/: a link to a folder, to be given to the helper as a folder or on a folder's path.
#   batch/: an installation folder holding a link to the folder beside it.
#   profile/: a home folder inside "parent", and a link to "parent".
R=$D/reparse
mkdir -p "$R/helper/install/sub" "$R/helper/target/inner" "$R/refused/folder/inner" "$R/batch/installation" \
         "$R/batch/outside" "$R/profile/parent/home"
printf 'granted\n' > "$R/helper/install/file.txt"
printf 'granted below\n' > "$R/helper/install/sub/file.txt"
printf 'kept\n' > "$R/helper/target/kept.txt"
printf 'shared\n' > "$R/helper/target/shared.txt"
ln "$R/helper/target/shared.txt" "$R/helper/install/shared.txt"
ln -s ../target "$R/helper/install/to_target"
ln -s folder "$R/refused/to_folder"
printf 'not the installation\x27s\n' > "$R/batch/outside/precious.txt"
ln -s ../outside "$R/batch/installation/to_outside"
ln -s parent "$R/profile/to_parent"
# Decoys: real folders holding a link (by absolute target, so that it leads to the same folder wherever the decoy is
# moved). Wine renames what a link leads to, not the link, so a test cannot move a link itself: it puts a decoy in the
# place of a folder of the batch or of a profile at the moment that folder is about to be used, and a path through
# the folder then leads through the decoy's link.
#   log/: a file that a test gives other names where logs go (hard links), and a temporary folder whose logs'
#   folder is a link to an empty folder.
#   uninstall/: a decoy for a folder of an installation, its link named like the subfolder an installed file is in,
#   leading to a folder holding a file of that file's name.
#   grant/: a decoy for a folder above one that the helper makes, its link named like the folder between them and
#   leading to an empty folder.
mkdir -p "$R/batch/decoy" "$R/profile/decoy" "$R/profile/outside" "$R/log/outside" "$R/log/temp" \
         "$R/uninstall/decoy" "$R/uninstall/outside" "$R/grant/decoy" "$R/grant/outside"
printf 'not the profile\x27s\n' > "$R/profile/outside/kept.txt"
printf 'not the installation\x27s\n' > "$R/uninstall/outside/a b.txt"
printf 'not a log\n' > "$R/log/target.txt"
ln -s "$R/batch/outside" "$R/batch/decoy/sub"
ln -s "$R/profile/outside" "$R/profile/decoy/Inner"
ln -s "$R/uninstall/outside" "$R/uninstall/decoy/deep"
ln -s "$R/grant/outside" "$R/grant/decoy/Inner"
ln -s "$R/log/outside" "$R/log/temp/$(sed -n 's/^GetProductName=//p' "$D/branding/installer.expected") Installer"
find "$R" -type d -exec chmod 755 {} + && find "$R" -type f -exec chmod 644 {} +
(cd "$R" && find helper/target refused/folder batch/outside profile/outside uninstall/outside grant/outside log/outside log/target.txt -printf '%p %m\n' | LC_ALL=C sort) \
  > "$D/reparse_modes.txt"
(cd "$R" && find helper/target batch/outside profile/outside uninstall/outside log/outside log/target.txt -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum) \
  > "$D/reparse_sha256.txt"

# The help: its text written from the table of documented switches, and the language list of its test host as
# wrestool extracts it. The library's exports and imports as objdump lists them.
cp "$HERE/testdata/installer_help.txt" "$D/"
cp "$HERE/testdata/uninstall_batch.txt" "$D/"
wrestool -x --raw --type=TXT --name=134 "$B/help_console_host.exe" > "$D/help_languages.txt"
x86_64-w64-mingw32-objdump -p "$B/zorvi.dll" > "$D/zorvi_dll_objdump.txt"

# The update service's clients: what the loopback server serves as default-preference overrides, the tracking
# data they post, and sha256sum of both.
mkdir -p "$D/served"
printf '{"browser": {"show_home_button": true}, "homepage": "https://start.example/ \\u00e9"}\n' > "$D/served/overrides.json"
printf 'tracking data with spaces & symbols: é=1' > "$D/served/tracking.txt"
(cd "$D/served" && sha256sum -- *) > "$D/served_sha256.txt"

# The network installer's package as the update service serves it: the package stand-in answering the probes as
# this build carrying the sample package's archive (7zz), its sha256sum, its files as 7zz extracts them, and the
# strings of the host that shows them (pefile).
N=$D/network
mkdir -p "$N/www"
(BUILD_DIR=$(cd "$B/.." && pwd) ROOT=$(cd "$HERE/../../.." && pwd)
 . "$ROOT/testing/installer/silent_install/silent_install.sh"
 make_sample_package "$B/test_build/zorvi.dll" "$N/package"
 (cd "$N/package" && 7zz a -t7z -bd -bso0 -bsp0 "$N/package.7z" .)
 python3 "$ROOT/testing/installer/package_fixture/make_package_fixture.py" package "$N/www/full.exe" \
   --probe "$B/../fixtures/package_probe.exe" --internal-version 2234.0 --stream nightly --payload "$N/package.7z"
 7zz x -bd -bso0 "$N/package.7z" -o"$N/unpacked"
 /usr/bin/python3 "$ROOT/host/check_host_resources.py" --strings "$B/installer.exe" > "$D/host_strings.json")
(cd "$N/www" && sha256sum full.exe) > "$N/sha256.txt"

# The package an installer process with administrator rights hands over to: signed by a test CA's leaf named as the
# branding expects, its installer the hand-over recorder (with a stand-in library), and the product's host signed by
# the same leaf, which then takes only packages of that signer.
(ROOT=$(cd "$HERE/../../.." && pwd)
 FIXTURE="$ROOT/testing/installer/package_fixture/make_package_fixture.py"
 SIGNER=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["expected_signer"])' "$ROOT/host/branding.json")
 python3 "$FIXTURE" certs "$N/certs" --signer "$SIGNER"
 mkdir -p "$N/recorder"
 cp "$B/handover_recorder_test_child.exe" "$N/recorder/installer.exe"
 printf 'a library that is never loaded' > "$N/recorder/zorvi.dll"
 (cd "$N/recorder" && 7zz a -t7z -bd -bso0 -bsp0 "$N/recorder.7z" .)
 python3 "$FIXTURE" package "$N/recorder_signed.exe" --probe "$B/../fixtures/package_probe.exe" \
   --internal-version 2234.0 --stream nightly --payload "$N/recorder.7z" --sign "$N/certs/1.pem" "$N/certs/1.key"
 python3 "$FIXTURE" sign "$B/installer.exe" "$N/signed_installer.exe" --cert "$N/certs/1.pem" --key "$N/certs/1.key"
 osslsigncode verify -CAfile "$N/certs/ca.pem" -in "$N/recorder_signed.exe" >/dev/null
 osslsigncode verify -CAfile "$N/certs/ca.pem" -in "$N/signed_installer.exe" >/dev/null)
