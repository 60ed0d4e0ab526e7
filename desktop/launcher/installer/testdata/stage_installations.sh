#!/bin/bash
# Lays out the folders that the status and settings tests examine, with the tools an installation's files come
# from on a real machine: hand-written status logs (checked by xmllint), preference files written by Python's
# json, an earlier engine's ini, and a launcher reachable through a hard link made with ln.
# Usage: stage_installations.sh FOLDER (made anew)
set -euo pipefail
S=$1
rm -rf "$S"; mkdir -p "$S"
W=$(printf 'Z:%s' "$S" | tr / '\\')  # the folder as the tests' programs name it

# A status log of the folder $1 (below S) with the attributes $2 and the further elements $3.
status_log() {
  cat <<EOF
<?xml version="1.0"?>
<install_log version="39.0.2234.0" $2 app_id="1480000000">
 <path subfolder="39.0.2234.0">$W\\$1</path>
 <files>
  <file>$W\\$1\\39.0.2234.0\\browser.dll</file>
 </files>
$3
</install_log>
EOF
}
user_keys=' <registry hive="HKCU">
  <key path="Software\Zorvi" clean="0">
   <value name="Last nightly Install Path" type="REG_SZ">C:\Zorvi</value>
  </key>
 </registry>'
json() { python3 -c 'import json, sys; print(json.dumps(json.loads(sys.argv[1]), indent=1))' "$1"; }

# Not installations: a file, a folder to install three levels below, and a launcher without a status log.
echo text > "$S/file.txt"
mkdir -p "$S/deep" "$S/traces"
echo launcher > "$S/traces/launcher.exe"

# A log marked copy-only that records a machine-wide key: a copy-only installation never writes one.
mkdir -p "$S/copy_only_hklm"
echo launcher > "$S/copy_only_hklm/launcher.exe"
status_log copy_only_hklm 'copy_only="True" all_users="False" pinned="False"' ' <registry hive="HKLM">
  <key path="Software\Clients\StartMenuInternet\Zorvinightly" clean="1">
   <value name="" type="REG_SZ">Zorvi</value>
  </key>
 </registry>' > "$S/copy_only_hklm/installation_status.xml"

# An installation to upgrade, with its saved choices.
mkdir -p "$S/upgrade"
echo launcher > "$S/upgrade/launcher.exe"
status_log upgrade 'copy_only="False" all_users="False" pinned="False"' "$user_keys" > "$S/upgrade/installation_status.xml"
json '{"single_profile": true, "import_browser_data": false, "enable_stats": false, "language": "nb"}' \
  > "$S/upgrade/installer_prefs.json"

# Saved choices of every kind: a single-profile value that is not a boolean, experiments, a profile whose
# Local State names the browser's language, and tracking data.
mkdir -p "$S/prefs_yes" "$S/prefs_yes_profile"
echo launcher > "$S/prefs_yes/launcher.exe"
status_log prefs_yes 'copy_only="False" all_users="False" pinned="False"' "$user_keys" \
  > "$S/prefs_yes/installation_status.xml"
python3 - "$W\\prefs_yes_profile" > "$S/prefs_yes/installer_prefs.json" <<'PY'
import json, sys
print(json.dumps({"single_profile": "yes", "import_browser_data": False, "enable_stats": True, "language": "nb",
                  "welcome-url": "https://welcome.zorvi.example/first", "profile_path": sys.argv[1],
                  "all-installer-experiments": ["installer-experiment-test@1", "installer-ui-stats@2", "unknown@1"]},
                 indent=1))
PY
json '{"intl": {"app_locale": "de"}}' > "$S/prefs_yes_profile/Local State"
printf 'partner=zorvi-test&campaign=42' > "$S/prefs_yes/server_tracking_data"

# The earlier engine: its log names a desktop shortcut (made by the test) to its branded launcher, its ini says
# product type 2, one profile for all users ("Multi User" 0) and a Norwegian language folder. Its
# installer_prefs.json is not the earlier engine's and must not be read.
mkdir -p "$S/kadro" "$S/kadro_links"
echo launcher > "$S/kadro/zorvi.exe"
status_log kadro 'copy_only="False" all_users="False" pinned="False"' \
  " <shortcut type=\"SC_DEST_DESKTOP\">$W\\kadro_links\\desktop.lnk</shortcut>" > "$S/kadro/zorvi_install_log.xml"
printf '[System]\r\nZorvi Product=2\r\nMulti User=0\r\n[User Prefs]\r\nLanguage Files Directory=C:\\Program Files\\Zorvi\\locale\\nb\\\r\n' \
  > "$S/kadro/zorviprefs_default.ini"
json '{"single_profile": false, "language": "fr"}' > "$S/kadro/installer_prefs.json"

# A standalone installation of the earlier engine.
mkdir -p "$S/kadro_portable"
echo launcher > "$S/kadro_portable/zorvi.exe"
status_log kadro_portable 'copy_only="True" all_users="False" pinned="False"' '' \
  > "$S/kadro_portable/zorvi_install_log.xml"

# Shortcuts (made by the test) that reach the installation: the desktop shortcut and the taskbar pin through a
# hard link to its launcher, the start-menu shortcut through the branded launcher an earlier version left, the
# quick-launch shortcut to a program of its own. The company's start-menu folder exists.
mkdir -p "$S/linked/install" "$S/linked/elsewhere" "$S/linked/links" "$S/linked/pins" \
         "$S/linked/start_menu/Zorvi Software"
echo launcher > "$S/linked/install/launcher.exe"
echo old launcher > "$S/linked/install/zorvi.exe"
echo other > "$S/linked/elsewhere/other.exe"
ln "$S/linked/install/launcher.exe" "$S/linked/elsewhere/launcher.exe"
[ "$(stat -c %i "$S/linked/install/launcher.exe")" = "$(stat -c %i "$S/linked/elsewhere/launcher.exe")" ]
status_log 'linked\install' 'copy_only="False" all_users="False" pinned="True"' \
  " <shortcut type=\"SC_DEST_DESKTOP\">$W\\linked\\links\\desktop.lnk</shortcut>
 <shortcut type=\"SC_DEST_MENU\">$W\\linked\\links\\start_menu.lnk</shortcut>
 <shortcut type=\"SC_DEST_QUICK_LAUNCH\">$W\\linked\\links\\quick_launch.lnk</shortcut>" \
  > "$S/linked/install/installation_status.xml"

xmllint --noout "$S"/*/installation_status.xml "$S"/*/zorvi_install_log.xml "$S/linked/install/installation_status.xml"
