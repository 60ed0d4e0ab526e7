#!/bin/bash
# Reads what the installer engine's tests wrote with tools of their own. A file is missing only when its test was
# filtered out of the run. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
HERE=$(cd "$(dirname "$0")" && pwd)
status=0
fail() { echo "$*" >&2; status=1; }
xpath() { xmllint --xpath "$1" "$2"; }

# Links: what the links of the helper's and the clean-up batch's tests lead to keeps its bytes
# (sha256sum) and its modes (find), which are what wine keeps of an access list. (The granted folder is compared
# by its lists in the test: wine does not map the list it shows for a mode back onto that mode.)
if [ -d "$D/reparse" ]; then
  if (cd "$D/reparse" && sha256sum --quiet -c "$D/reparse_sha256.txt") &&
     diff "$D/reparse_modes.txt" \
          <(cd "$D/reparse" && find helper/target refused/folder batch/outside profile/outside uninstall/outside grant/outside log/outside log/target.txt -printf '%p %m\n' | LC_ALL=C sort); then
    echo "links: sha256sum and find see what the links lead to as the setup left it"
  else
    fail "a link's target was changed (above)"
  fi
  # The decoys that tests swap in for a folder are back where the setup put them, with their links.
  if [ -L "$D/reparse/batch/decoy/sub" ] && [ -L "$D/reparse/profile/decoy/Inner" ] &&
     [ -L "$D/reparse/uninstall/decoy/deep" ] && [ -L "$D/reparse/grant/decoy/Inner" ]; then
    echo "links: the decoys are back in their place"
  else
    fail "a decoy was left where a test swapped it in"
  fi
fi

# Installer statistics: Python's json reads the nested shapes and recomputes the download summary, `date -u` puts
# the time texts within a second of when the file was written, and `wine reg query` gives the Windows version.
stats="$D/stats/run.json"
if [ -e "$stats" ]; then
  BUILD_DIR=$(cd "$2/.." && pwd) . "$HERE/../../../tools/env.sh"
  nt_version=$("$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" reg query \
               'HKLM\Software\Microsoft\Windows NT\CurrentVersion' </dev/null | tr -d '\r')
  python3 "${BASH_SOURCE[0]%/*}/testdata_statistics.py" "$stats" "$(date -u -r "$stats" '+%s.%N')" "$nt_version" || fail "statistics: Python's json"
fi

# The statistics as the sender posted them: sha256sum of the text equals what the server's Python hashlib logged
# for the body, and Python's json finds the download summary made from the fetches.
sent="$D/stats/sent.json"
if [ -e "$sent" ]; then
  [ "$(sha256sum < "$sent" | cut -d' ' -f1)" = "$(cat "$D/stats/sent.sha256")" ] ||
    fail "statistics: the posted body is not the text the sender wrote"
  python3 - "$sent" <<'PY' || fail "statistics sent: Python's json"
import json, sys
root = json.load(open(sys.argv[1], encoding="utf-8"))
chunks = [c for f in root["fetches"] for c in f.get("download_chunks", [])]
assert root["wininet_retries"] == len(chunks) > 0, root["wininet_retries"]
assert root["download_ips"] == "; ".join(c["ip"] for c in chunks if "ip" in c), root["download_ips"]
assert root["product"] == "Test Product", root["product"]
print("statistics sent: %d chunk records summarised, body equal to the logged digest" % len(chunks))
PY
fi

# Existing-installation status, from outside the tests' own code. The shortcuts the status test made: lnkinfo
# reads where each leads (the desktop shortcut and the pin to the hard link, not to the launcher the status log's
# installation holds).
BIN=$2
L=$D/staged/linked
W=$(printf 'Z:%s' "$D/staged" | tr / '\\')
if [ -e "$L/links/desktop.lnk" ]; then
  for link in "links/desktop.lnk elsewhere\\launcher.exe" "pins/Zorvi.lnk elsewhere\\launcher.exe" \
              "links/start_menu.lnk install\\zorvi.exe"; do
    set -- $link
    local_path=$(lnkinfo "$L/$1" | sed -n 's/^\tLocal path\t*: //p')
    [ "$local_path" = "$W\\linked\\$2" ] || fail "lnkinfo: $1 leads to '$local_path', not to linked\\$2"
  done
  [ $status -ne 0 ] || echo "lnkinfo: the shortcuts found through the hard link lead to the hard link"
fi

BUILD_DIR=$(cd "$BIN/.." && pwd) . "$HERE/../../../tools/env.sh"
. "$WINDEPS/wine.env"
# The prefix of its own that a section uses goes with its programs however the script ends.
trap '[ -z "${P:-}" ] || zorvi_end_prefix "$P"' EXIT
child() {  # PREFIX ARGS...: the settings child's report in that prefix
  local prefix=$1
  shift
  "$ROOT/tools/wine-run" "$WINDEPS" "$prefix" "$BIN/settings_test_child.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'
}

# The rights the status asks for, from wine's relay trace: an existing folder's whole read, write and execute
# set (0x1201BF), a folder still to be made only the right to add a subfolder to its parent (0x4).
for case in "traces 001201bf" "deep\\a\\b\\c 00000004"; do
  set -- $case
  calls=$(WINEDEBUG=+relay "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$BIN/settings_test_child.exe" \
          "--test-status=$W\\$1" </dev/null 2>&1 | tr -d '\r' | grep -a ':Call advapi32.AccessCheck(' | cut -d, -f3)
  [ "$calls" = "$2" ] || fail "relay: the status of $1 asked AccessCheck for '$calls', want $2"
done
[ $status -ne 0 ] || echo "relay: write access is asked with 0x1201BF for a folder, 0x4 for its parent"

# The http handler, in a prefix of its own since it changes the user's browser: the earlier engine's branded
# launcher handles http; its installation is the handler, the upgrade folder's (launcher.exe) is not; an
# autoupdate that takes the earlier engine's installation over keeps the user's default browser, which the same
# run in the shared prefix (no handler there) does not make it.
P=$D/own_prefix
"$ROOT/tools/copy-prefix-template" "$WINDEPS" "$P"
own_reg() { "$ROOT/tools/wine-run" "$WINDEPS" "$P" reg add "$@" /f </dev/null >/dev/null; }
# The user's choice names one of the machine's classes: for a name that both have, wine's classes root shows the
# machine's class, not the user's.
own_reg 'HKLM\Software\Classes\ZorviKadroHTML\shell\open\command' /ve /d "\"$W\\kadro\\zorvi.exe\" -- \"%1\""
own_reg 'HKCU\Software\Microsoft\Windows\Shell\Associations\UrlAssociations\http\UserChoice' /v ProgId \
  /d ZorviKadroHTML
takeover=(--test-company=ZorviHttpCheck --autoupdate --replacekadroinstallation "--installfolder=$W\\kadro")
facts="$(child "$P" "--test-status=$W\\kadro" | grep -a '^status.is_http_handler=')
$(child "$P" "--test-status=$W\\upgrade" | grep -a '^status.is_http_handler=')
$(child "$P" "${takeover[@]}" | grep -a -E '^settings\.(operation|default_browser)=' | xargs)
$(child "$RUN_PREFIX" "${takeover[@]}" | grep -a '^settings.default_browser=')"
want="status.is_http_handler=1
status.is_http_handler=0
settings.default_browser=1 settings.operation=2
settings.default_browser=0"
[ "$facts" = "$want" ] || fail "http handler: the children report
$facts
want
$want"
zorvi_end_prefix "$P"
[ $status -ne 0 ] || echo "http handler: found by the launcher's name, and kept as default by an earlier-engine takeover"

# The entry's log file: named after the local time its run started, which falls within the file's life as the
# file system recorded it: after the earlier process's log that the test made first (its birth, to the second
# `date` prints) and by the run's last write.
for log in "$D"/entry_log/*/*.log; do
  [ -e "$log" ] || continue
  product=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["product_name"].lower())' \
            "$D/branding/installer.json")
  name=$(basename "$log")
  [[ $name =~ ^${product}_installer_([0-9]{14})\.log$ ]] || { fail "log file name $name"; continue; }
  stamp=${BASH_REMATCH[1]}
  born=$(stat -c %W "$log")
  [ "$born" != 0 ] || born=$(stat -c %Y "$log")
  written=$(stat -c %Y "$log")
  named=$(date -d "${stamp:0:4}-${stamp:4:2}-${stamp:6:2} ${stamp:8:2}:${stamp:10:2}:${stamp:12:2}" +%s)
  if [ "$named" -lt "$born" ] || [ "$named" -gt "$written" ]; then
    fail "log file $name lived from $(date -d "@$born" +%Y%m%d%H%M%S) to $(date -d "@$written" +%Y%m%d%H%M%S)"
  else
    echo "date: $name lived from $(date -d "@$born" +%Y%m%d%H%M%S) to $(date -d "@$written" +%Y%m%d%H%M%S)"
  fi
done
# Runs the area's tests of FILTER in PREFIX, a fresh copy of the prefix template (ZORVI_OWN_PREFIX lets them run),
# then stops the prefix's wine server so that its registry files are written. The tests' data folder is DATA (by
# default the area's). Usage: own_prefix_tests PREFIX FILTER NAME [DATA]
own_prefix_tests() {
  "$ROOT/tools/copy-prefix-template" "$WINDEPS" "$1"
  ZORVI_OWN_PREFIX=1 ZORVI_TESTDATA=${4:-$D} env -u DISPLAY "$ROOT/tools/wine-run" "$WINDEPS" "$1" \
      "$BIN/desktop_launcher_installer_unittests.exe" --gtest_filter="$2" </dev/null >"$1.txt" 2>&1 ||
    fail "$3: $(tail -20 "$1.txt")"
  XVFB_PID='' RUN_PREFIX=$1 zorvi_stop_wine
}

# The default browser, in a prefix of its own since it changes what every program of the prefix opens: the
# per-user and then machine-wide registration of DefaultBrowserMachineTest, whose rows and answers a reader of the
# registry files checks once the prefix's wine server has written them.
P=$D/default_browser_prefix
rm -f "$D/default_browser_scenario.txt"
own_prefix_tests "$P" 'DefaultBrowserMachineTest.*' "default browser scenario"
if [ -e "$D/default_browser_scenario.txt" ]; then
  python3 "$HERE/testdata/default_browser_oracle.py" "$D/default_browser_scenario.txt" \
      "$WINDEPS/wineprefix-template/system.reg" "$P/user.reg" "$P/system.reg" || fail "default browser: registry files"
else
  fail "default browser: the scenario recorded nothing"
fi
zorvi_end_prefix "$P"

# The registry rows end to end, in a prefix of their own since they write the machine's classes: the installations
# and uninstallations of InstallerScenarioTest.RegistryRowsInAPrefixOfTheirOwn (per user and machine-wide, Windows 7
# and an XP-level version) checked from user.reg and system.reg by a reader that works each product's rows out from
# the table, with the stream and version the installer's probes print, and compares them with the status log's
# records (xmllint first finds each log well-formed); their trees are checked with the other scenarios' below.
P=$D/registry_prefix
rm -rf "$D/registry"; mkdir -p "$D/registry"
own_prefix_tests "$P" 'InstallerScenarioTest.RegistryRowsInAPrefixOfTheirOwn' "registry scenarios" "$D/registry"
probe() { "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$BIN/installer.exe" "$1" </dev/null 2>/dev/null | tr -d '\r\n'; }
stream=$(probe --stream)
version=$(probe --version)
if [ -e "$D/registry/registry_scenarios.txt" ]; then
  mapfile -d '' logs < <(find "$D/registry/scenarios" -name installation_status.xml -print0)
  [ ${#logs[@]} -eq 0 ] || xmllint --noout "${logs[@]}" || fail "registry scenarios: xmllint rejects a status log"
  python3 "$HERE/testdata/registry_rows_oracle.py" "$D/registry/registry_scenarios.txt" "$stream" "$version" \
      "$P/user.reg" "$P/system.reg" || fail "registry scenarios: registry files"
else
  fail "registry scenarios: the scenarios recorded nothing"
fi
zorvi_end_prefix "$P"

# The status logs of InstallerTest.CompleteRunsReportEveryStepOfTheirTotal, by xmllint: the pinned flag, and each
# shortcut under the type of its kind and mode (a kind without a shortcut has no element).
logs=0
for facts in "$D"/shortcut_logs/*.facts; do
  [ -e "$facts" ] || continue
  xml=${facts%.facts}.xml
  xmllint --noout "$xml" || { fail "xmllint rejects $xml"; continue; }
  made=0
  while read -r type path; do
    if [ "$type" = pinned ]; then
      [ "$(xpath 'string(/install_log/@pinned)' "$xml")" = "$path" ] || fail "$xml: pinned is not $path"
      continue
    fi
    [ "$(xpath "string(/install_log/shortcut[@type='$type'])" "$xml")" = "$path" ] || fail "$xml: $type is not '$path'"
    [ -z "$path" ] || made=$((made + 1))
  done < "$facts"
  [ "$(xpath 'count(/install_log/shortcut)' "$xml")" = $made ] || fail "$xml: other shortcut elements"
  logs=$((logs + 1))
done
[ $logs -eq 0 ] || [ $status -ne 0 ] || echo "xmllint: the shortcuts of $logs installation logs are where the runs put them"

# Installation scenarios (installer_scenario_unittest.cc), by sha256sum and find: an installed scenario holds each
# file of a package's list, byte for byte, in each version folder the scenario names (the current version's and,
# after an upgrade, the replaced one's) and nothing else there, no other version folder, and the current package's
# root files and launcher in the install folder; a failed or stopped one holds exactly the tree it had before the
# run ("before", copied by the test). No scenario leaves a file kept aside ("*.old").
listing() { (cd "$1" && find . -mindepth 1 -printf '%y %p\n' | LC_ALL=C sort && find . -type f -print0 | LC_ALL=C sort -z | xargs -0r sha256sum); }
# Each entry of a package's LIST is the same, byte for byte, in PACKAGE and in TARGET; their number goes to `listed`.
# Usage: same_as_package NAME LIST PACKAGE TARGET
same_as_package() {
  local entry path
  listed=0
  [ -e "$3/$2" ] || return 0
  while IFS= read -r entry; do
    entry=${entry%$'\r'}
    [ -n "$entry" ] || continue
    path=${entry//\\//}
    listed=$((listed + 1))
    [ "$(sha256sum < "$3/$path")" = "$(sha256sum < "$4/$path" 2>/dev/null)" ] ||
      fail "$1: $entry differs from the package's"
  done < "$3/$2"
}
scenarios=0
for scenario in "$D"/scenarios/*/ "$D"/registry/scenarios/*/; do
  [ -e "$scenario/expect" ] || continue
  read -r outcome _ < "$scenario/expect" || true
  install=$scenario/$(sed -n 2p "$scenario/expect")
  name=$(basename "$scenario")
  scenarios=$((scenarios + 1))
  [ -z "$(find "$install" -name '*.old')" ] || fail "$name: files kept aside remain"
  if [ "$outcome" = unchanged ]; then
    cmp -s <(listing "$scenario/before") <(listing "$install") || fail "$name: the install folder changed"
    continue
  fi
  current=''
  while read -r version package; do
    same_as_package "$name" files_list "$scenario/$package" "$install/$version"
    [ "$(find "$install/$version" -type f | wc -l)" = $listed ] || fail "$name: $version holds other files"
    [ -n "$current" ] || current=$scenario/$package
  done < <(sed -n '3,$p' "$scenario/expect")
  [ "$(find "$install" -mindepth 1 -maxdepth 1 -type d -name '[0-9]*' -printf '%f\n' | LC_ALL=C sort)" = \
    "$(sed -n '3,$p' "$scenario/expect" | cut -d' ' -f1 | LC_ALL=C sort)" ] ||
    fail "$name: the version folders are not the ones the scenario names"
  same_as_package "$name" root_files_list "$current" "$install"
  [ "$(sha256sum < "$current/launcher.exe")" = "$(sha256sum < "$install/launcher.exe" 2>/dev/null)" ] ||
    fail "$name: the installed launcher differs from the package's"
done
[ $scenarios -eq 0 ] || [ $status -ne 0 ] || echo "sha256sum, find: $scenarios installation scenarios hold what they must"

# What the finishing steps left in each scenario that says so ("finished.json"): the status log by xmllint (well
# formed, XPath) and od, the preferences and the recorded autoupdate task by Python's json, against the package's
# lists, the branding and the host's strings.
finished=0
for facts in "$D"/scenarios/*/finished.json; do
  [ -e "$facts" ] || continue
  scenario=$(dirname "$facts")
  log="$scenario/Zorvi/installation_status.xml"
  xmllint --noout "$log" || { fail "$scenario: xmllint rejects the status log"; continue; }
  case $(od -An -c -v "$log") in *'\r'*|*'\t'*) fail "$scenario: the status log holds a carriage return or a tab";; esac
  [ "$(tail -c1 "$log" | od -An -c | tr -d ' ')" = '\n' ] || fail "$scenario: the status log does not end with LF"
  read -r _ version _ < "$scenario/expect" || true
  xpath() { xmllint --xpath "$1" "$log"; }
  files=$(grep -c . "$(ls -d "$scenario"/download* | sort | tail -1)/files_list")
  old_logs=("$scenario"/Zorvi/old_status/installation_status.xml.*)
  old_app_id=''
  [ -e "${old_logs[0]}" ] && old_app_id=$(xmllint --xpath 'string(/install_log/@app_id)' "${old_logs[0]}")
  python3 "$HERE/testdata/finished_oracle.py" "$facts" "$scenario" "$HERE/../../../host/strings_en.rc" \
      "$(xpath 'string(/install_log/@version)')" "$(xpath 'string(/install_log/@app_id)')" \
      "$(xpath 'string(/install_log/@copy_only)')" "$(xpath 'string(/install_log/path/@subfolder)')" \
      "$(xpath 'count(/install_log/files/file)')" "$version" "$files" "${#old_logs[@]}" "$old_app_id" ||
    fail "$scenario: what the finishing steps left"
  finished=$((finished + 1))
done
[ $finished -eq 0 ] || echo "xmllint, od, json: $finished finished installations hold their status log, preferences and task"

# The scenarios' shortcut folders, by find and lnkinfo: they hold exactly the files the scenario expects ("made" by
# the run, or "kept" from before it), and each shortcut the run made leads to the install folder's launcher and
# starts in the install folder. A failed or stopped run leaves the shortcut folders as they were before it
# ("shortcuts_before", copied by the test).
# Every process of a scenario makes the (empty) shortcut folders as it starts, so only the files count.
file_digests() { (cd "$1" 2>/dev/null && find . -type f -print0 | LC_ALL=C sort -z | xargs -0r sha256sum); }
linked=0
for scenario in "$D"/scenarios/*/; do
  [ -e "$scenario/expect" ] || continue
  name=$(basename "$scenario")
  if [ ! -e "$scenario/shortcuts.expected" ]; then
    read -r outcome version < "$scenario/expect" || true
    [ "$outcome" != unchanged ] || cmp -s <(file_digests "$scenario/shortcuts_before") <(file_digests "$scenario/shortcuts") ||
      fail "$name: a failed run changed the shortcut folders"
    continue
  fi
  want=$(sed 's/^[a-z]* //; s/\\/\//g' "$scenario/shortcuts.expected" | LC_ALL=C sort)
  got=$(cd "$scenario/shortcuts" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  [ "$want" = "$got" ] || fail "$name: the shortcut folders hold '$got', not '$want'"
  folder=$(printf 'Z:%s\\Zorvi' "${scenario%/}" | tr / '\\')
  while read -r kind path; do
    [ "$kind" = made ] || continue
    info=$(lnkinfo "$scenario/shortcuts/${path//\\//}" | tr -d '\r') || { fail "$name: lnkinfo cannot read $path"; continue; }
    target=$(sed -n 's/^\tLocal path\t*: //p' <<<"$info")
    start=$(sed -n 's/^\tWorking directory\t*: //p' <<<"$info")
    [ "$target" = "$folder\\launcher.exe" ] || fail "$name: $path leads to '$target'"
    [ "$start" = "$folder" ] || fail "$name: $path starts in '$start'"
    linked=$((linked + 1))
  done < "$scenario/shortcuts.expected"
done
[ $linked -eq 0 ] || [ $status -ne 0 ] || echo "find, lnkinfo: $linked shortcuts lead to their installation's launcher"

# The last install folder each scenario left in the user's registry (`wine reg export`): a per-user install that
# succeeded records its folder, copy-only installs record none, and a failed or stopped run has none left. (The
# uninstall entry's rows are read from the registry files of the scenarios in a prefix of their own, above.)
# Other areas' tests may hold random bytes in string values under HKCU\Software while this runs; only the scenarios'
# own keys are read, so text that is no UTF-16 elsewhere in the export does not matter.
if compgen -G "$D/scenarios/*/expect" >/dev/null; then
  export_file=$D/scenarios/user_software.reg
  "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" reg export 'HKCU\Software' "$(printf 'Z:%s' "$export_file" | tr / '\\')" /y \
    </dev/null >/dev/null 2>&1 || fail "reg export of the user's software key failed"
  python3 "${BASH_SOURCE[0]%/*}/testdata_install_paths.py" "$export_file" "$D/scenarios" || fail "the last install paths in the registry"
fi
# The uninstallation again in a Russian locale, whose OEM code page (866) the clean-up batch is then written in: the
# same test in the shared prefix, its processes under ru_RU.UTF-8, its scenarios in a data folder of their own.
rm -rf "$D/ru_RU"; mkdir -p "$D/ru_RU"
ZORVI_WINE_LOCALE=ru_RU.UTF-8 ZORVI_TESTDATA=$D/ru_RU env -u DISPLAY "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" \
    "$BIN/desktop_launcher_installer_unittests.exe" \
    --gtest_filter='InstallerScenarioTest.UninstallLeavesOnlyThePreferences' </dev/null >"$D/ru_RU/run.txt" 2>&1 ||
  fail "ru_RU: $(tail -20 "$D/ru_RU/run.txt")"
# Uninstalled scenarios (InstallerScenarioTest.UninstallLeavesOnlyThePreferences): the clean-up batch the
# uninstallation wrote is, byte for byte, the text built here from the grammar, the process ids the test build
# recorded with the batch's start and the package's files_list (the backend's own installer and library, in list
# order, are the left-overs), in the OEM code page of the locale; after the batch ran only the preferences remain, as
# they were before the uninstallation (find, sha256sum); the recording scheduler saw the task the installation made
# deleted last and holds no task (Python's json).
for marker in "$D"/scenarios/*/uninstalled "$D"/ru_RU/scenarios/*/uninstalled; do
  [ -e "$marker" ] || continue
  scenario=$(dirname "$marker")
  name=$(basename "$scenario")
  page=cp437
  case $scenario in "$D"/ru_RU/*) page=cp866 name="$name (ru_RU)";; esac
  before=$status
  python3 "${BASH_SOURCE[0]%/*}/testdata_uninstall_batch.py" "$scenario" "$page" || fail "$name: the clean-up batch or the task calls"
  install=$scenario/$(sed -n 2p "$marker")
  # Wine's command processor expands percent signs again in the text that %0 stands for (Windows' does not), so
  # under wine "del %0" cannot name the batch in a folder whose name holds one.
  left=./installer_prefs.json
  case $install in *%*) left=$(printf './installer_prefs.json\n./k.bat');; esac
  [ "$(cd "$install" && find . -mindepth 1 | LC_ALL=C sort)" = "$left" ] ||
    fail "$name: the install folder holds more than the preferences after the batch"
  [ "$(sha256sum < "$install/installer_prefs.json")" = "$(sha256sum < "$scenario/installer_prefs.before")" ] ||
    fail "$name: the preferences changed"
  [ $status -ne $before ] ||
    echo "python, find, sha256sum: $name wrote the clean-up batch it must, which left only the preferences"
done

# Elevation where the machine keeps UAC on, in a prefix of its own whose policy `wine reg add` turns on (the
# template's EnableLUA is 0): a standard user's all-users install runs elevated through the runner. Its scenarios
# go to a data folder of their own, which the checks above do not read.
P=$D/uac_on_prefix
rm -rf "$D/uac_on"; "$ROOT/tools/copy-prefix-template" "$WINDEPS" "$P"; mkdir -p "$D/uac_on"
"$ROOT/tools/wine-run" "$WINDEPS" "$P" reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\System' \
    /v EnableLUA /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1 || fail "wine reg add: EnableLUA 1"
ZORVI_TESTDATA=$D/uac_on env -u DISPLAY "$ROOT/tools/wine-run" "$WINDEPS" "$P" "$BIN/desktop_launcher_installer_unittests.exe" \
    --gtest_filter='InstallerScenarioTest.RunsEndAsTheirRowsSay' \
    </dev/null >"$D/uac_on_run.txt" 2>&1 || fail "UAC on: $(tail -40 "$D/uac_on_run.txt")"
XVFB_PID='' RUN_PREFIX=$P zorvi_stop_wine
if grep -q 'PASSED.* 1 test' "$D/uac_on_run.txt"; then
  echo "UAC on (EnableLUA 1 by wine reg add): a standard user's all-users install ran elevated"
else
  fail "UAC on: the scenarios did not run and pass: $(tail -20 "$D/uac_on_run.txt")"
fi
zorvi_end_prefix "$P"
exit $status
