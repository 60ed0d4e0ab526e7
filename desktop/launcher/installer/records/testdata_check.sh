#!/bin/bash
# Reads what the installation status log tests wrote with tools of their own: xmllint (well-formed, XPath),
# od (no carriage return, no tab, a final line feed), Python's xml.etree (the model each file must hold); and the
# preference pool's file with Python's json.
# A file is missing only when its test was filtered out of the run. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
HERE=$(cd "$(dirname "$0")" && pwd)
ORACLE="$HERE/testdata/install_log_oracle.py"
status=0
fail() { echo "$*" >&2; status=1; }

mapfile -d '' written < <(find "$D/written" "$D/non_ascii" -name '*.xml' -print0)
if [ ${#written[@]} -gt 0 ]; then
  xmllint --noout "${written[@]}" || fail "xmllint rejects a written file"
  # od reads all files as one stream: no carriage return and no tab anywhere. Each file's last byte a line feed.
  case $(od -An -c -v "${written[@]}") in *'\r'*|*'\t'*) fail "a written file holds a carriage return or a tab";; esac
  python3 -c 'import sys; bad = [f for f in sys.argv[1:] if open(f, "rb").read()[-1:] != b"\n"]
sys.exit("\n".join(bad) or None)' "${written[@]}" || fail "the files above do not end with LF"
  echo "xmllint, od: ${#written[@]} written files are well-formed, without CR or tab, ending with LF"
fi

# XPath facts of the two hand-laid logs against their models.
xpath() { xmllint --xpath "$1" "$2"; }
for name in full no_files; do
  file="$D/written/${name}_log.xml"
  [ -e "$file" ] || continue
  model="$D/${name}_model.json"
  # The oracle's answers, a line each: the number of files, the subfolder, the user keys' clean levels.
  mapfile -t want < <(python3 "$ORACLE" facts "$model")
  [ "$(xpath 'count(/install_log/files/file)' "$file")" = "${want[0]}" ] || fail "$name: files counted by xmllint"
  [ "$(xpath 'string(/install_log/path/@subfolder)' "$file")" = "${want[1]}" ] || fail "$name: subfolder by xmllint"
  got=$(xpath '/install_log/registry[@hive="HKCU"]/key/@clean' "$file" 2>/dev/null |
        sed 's/ *clean="\([^"]*\)"/\1 /g' | xargs || true)
  [ "$got" = "${want[2]}" ] || fail "$name: HKCU clean levels by xmllint '$got', the model's '${want[2]}'"
  python3 "$ORACLE" check "$model" "$file" || fail "$name: xml.etree"
  # A value whose name or data holds a tab or a line break: xmllint finds it by its exact name and reads its data.
  python3 - "$model" "$file" <<'PY' || fail "$name: xmllint reads other tabs or line breaks than the model's"
import json, subprocess, sys
for r in json.load(open(sys.argv[1], encoding="utf-8"))["records"]:
    if not any(c in r["name"] + r.get("text", "") for c in "\t\r\n"):
        continue
    query = 'string(/install_log/registry[@hive="%s"]/key[@path="%s"]/value[@name="%s"])' % (r["hive"], r["key"],
                                                                                          r["name"])
    got = subprocess.run(["xmllint", "--xpath", query, sys.argv[2]], capture_output=True, check=True).stdout
    if got.decode("utf-8")[:-1] != r["text"]:
        sys.exit("%r: xmllint reads %r, the model says %r" % (r["name"], got, r["text"]))
PY
  echo "$name log: xmllint's XPath and xml.etree agree with the model"
done

mapfile -t random_files < <(find "$D/written/random" -name '*.xml' | sort)
if [ ${#random_files[@]} -gt 0 ]; then
  python3 "$ORACLE" check "$D/random_models.json" "${random_files[@]}" || fail "random models: xml.etree"
fi

# Non-ASCII names: the folder exists under its UTF-8 name and xmllint prints the texts as UTF-8, whichever ANSI
# code page the writing process had.
for page in default cp932; do
  file="$D/non_ascii/$page/Zorvi ü 日本/installation_status.xml"
  [ -e "$D/non_ascii/$page.done" ] || continue
  [ -e "$file" ] || { fail "$page: no log in the folder named 'Zorvi ü 日本'"; continue; }
  case "$(xpath 'string(/install_log/path)' "$file")" in
    *'\Zorvi ü 日本') ;; *) fail "$page: installation path as xmllint reads it";;
  esac
  [ "$(xpath 'string(/install_log/path/@subfolder)' "$file")" = 'Versión ü 日本' ] || fail "$page: subfolder"
  case "$(xpath 'string(/install_log/files/file[2])' "$file")" in
    *'\Zorvi ü 日本\ü\日本\データ.pak') ;; *) fail "$page: second file as xmllint reads it";;
  esac
  [ "$(xpath 'string(/install_log/registry/key/value/@name)' "$file")" = '名前 ü' ] || fail "$page: value name"
  [ "$(xpath 'string(/install_log/registry/key/value)' "$file")" = 'データ ü 日本' ] || fail "$page: value data"
  echo "non-ASCII log written with the $page code page: xmllint reads the same UTF-8 text"
done

# Preference task pool: the write a child committed just before returning is on disk, as Python's json reads it.
written="$D/prefs_task_pool/written.json"
if [ -e "$written" ]; then
  python3 -c 'import json, sys; assert json.load(open(sys.argv[1])) == {"written": True}' "$written" ||
    fail "prefs_task_pool/written.json is not the committed dictionary"
  echo "json: the write committed before exit holds {\"written\": true}"
fi

exit $status
