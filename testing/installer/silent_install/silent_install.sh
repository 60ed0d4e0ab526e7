# Shell functions (sourced) for unattended installer runs end to end on the Linux side: the sample package, the
# full installer made from it, a fresh wine prefix, the loopback update-service stand-in, the run under a hard
# time limit, and what the run left. Used by tools/main_job.sh and by the silent-run tests beside this file.
# Needs ROOT, WINDEPS and BUILD_DIR (tools/env.sh).

SERVER=$ROOT/testing/loopback_server/loopback_server.py

# The Windows name of a Linux path (wine maps / to Z:).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# make_sample_package LIBRARY OUT: a package as the update service's archive holds it: the installer and the
# library, a stand-in browser "<file_name_base>.exe" and launcher, data files in nested folders, empty folders, and
# "files_list" (CRLF) naming every file of the version folder.
make_sample_package() {
  local library=$1 out=$2 bin=$BUILD_DIR/bin base
  base=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["file_name_base"])' "$ROOT/host/branding.json")
  rm -rf "$out"
  mkdir -p "$out/data/nested/deeper" "$out/data/empty" "$out/locales/empty too"
  cp "$bin/installer.exe" "$out/installer.exe"
  cp "$library" "$out/zorvi.dll"
  cp "$bin/package_dummy_test_child.exe" "$out/$base.exe"
  cp "$bin/package_dummy_test_child.exe" "$out/launcher.exe"
  local files=(installer.exe zorvi.dll "$base.exe") name i=0
  for name in "data/read me.txt" "data/nested/table.bin" "data/nested/deeper/n$(printf '\xc3\xb8')rd.dat" \
              "locales/en.pak"; do
    i=$((i + 1))
    head -c $((1000 * i + 17)) /dev/zero | tr '\0' "$(printf "\\$(printf %o $((64 + i)))")" >"$out/$name"
    files+=("$name")
  done
  for name in "${files[@]}"; do printf '%s\r\n' "${name//\//\\}"; done >"$out/files_list"
}

# make_full_installer PACKAGE_DIR OUT [HOST]: the package packed with 7zz and appended to a copy of the host as
# "ZRV", the archive and its length (32-bit, little-endian).
make_full_installer() {
  local package=$1 out=$2 host=${3:-$BUILD_DIR/bin/installer.exe}
  rm -f "$out.7z"
  (cd "$package" && 7zz a -t7z -bd -bso0 -bsp0 "$out.7z" .)
  append_payload "$host" "$out" "$out.7z"
}

# append_payload HOST OUT PAYLOAD_FILE: HOST with the payload block appended, as OUT.
append_payload() {
  python3 - "$@" <<'PY'
import struct, sys
host, out, payload = sys.argv[1:4]
data = open(payload, "rb").read()
with open(out, "wb") as f:
    f.write(open(host, "rb").read() + b"ZRV" + data + struct.pack("<I", len(data)))
PY
}

# fresh_prefix DIR: a copy of the booted template, whose user folders are its own (not the Linux home), so that an
# installation's shortcuts stay in the prefix.
fresh_prefix() {
  "$ROOT/tools/copy-prefix-template" "$WINDEPS" "$1"
}

# begin_test NAME: a test of silent runs starts: D, its folder $BUILD_DIR/NAME, is made anew, and the runs get no
# display (they show no window; in prefixes of their own, any window they did show, a console, would take the input
# focus of the suite's display from the window tests). A run of the test that was killed outright left the programs
# of its prefixes (D/*/*/prefix) waiting on servers that are gone: they end first.
begin_test() {
  local prefix
  unset DISPLAY
  D=$BUILD_DIR/$1
  for prefix in "$D"/*/*/prefix; do [ ! -d "$prefix" ] || zorvi_kill_prefix_processes "$prefix"; done
  rm -rf "$D"
  mkdir -p "$D"
}

# user_profile DIR: the wine user's profile folder in the prefix DIR, named after whoever booted the template.
user_profile() { find "$1/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public -print -quit; }
# prefix_processes PREFIX TEXT: the Linux processes of the wine prefix PREFIX whose command line holds TEXT.
prefix_processes() {
  local pid
  for pid in $(zorvi_prefix_pids "$1"); do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$2" && echo "$pid"
  done
}

# stop_prefix DIR: ends its wine server (which writes the registry files) and whatever still runs there.
stop_prefix() {
  . "$WINDEPS/wine.env"
  TMPDIR="$1/.server-tmp" WINEPREFIX="$1" "$WINESERVER" -k 2>/dev/null || true
  TMPDIR="$1/.server-tmp" WINEPREFIX="$1" timeout 30 "$WINESERVER" -w 2>/dev/null || true
  # A program still starting when the server went (the clean-up batch's process listing) would wait for it for
  # good.
  zorvi_kill_prefix_processes "$1"
}

# start_server ROOT DIR [FAULTS]: the update-service stand-in on localhost:3000 (the local statistics server's
# port, under the machine-wide lock of the fixed ports) serving ROOT, taking the statistics posted to "/" with 200
# unless FAULTS (a fault table) says otherwise; its log and the posted bodies go to DIR. Sets SERVER_PID. Returns 75,
# saying so, when a program other than the stand-in holds the port.
start_server() {
  local root=$1 dir=$2 faults=${3:-} announcement
  mkdir -p "$dir/bodies"
  python3 - "$faults" "$dir/faults.json" <<'PY'
import json, sys
table = {"/": [{"times": "all", "status": 200, "body": "ok"}]}
if sys.argv[1]:
    table.update(json.load(open(sys.argv[1])))
json.dump(table, open(sys.argv[2], "w"))
PY
  exec {SERVER_FD}< <(exec python3 "$SERVER" --root "$root" --port 3000 --log "$dir/requests.jsonl" \
                      --bodies "$dir/bodies" --lifetime 900 --faults "$dir/faults.json")
  SERVER_PID=$!
  read -r -u "$SERVER_FD" announcement || { echo "the loopback server did not start" >&2; return 1; }
  case $announcement in *'"port_taken"'*) echo "$announcement" >&2; stop_server; SERVER_PID=; return 75 ;; esac
}

stop_server() {
  kill -TERM "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
  exec {SERVER_FD}<&-
}

# run_installer PREFIX SECONDS EXE ARGS...: runs EXE in PREFIX, ended with its whole prefix after SECONDS; its exit
# code (124 at the limit). Extra environment for the run comes from RUN_ENV (name=value words).
run_installer() {
  local prefix=$1 limit=$2 exe=$3 code=0
  shift 3
  env ${RUN_ENV:-} timeout -k 10 "$limit" "$ROOT/tools/wine-run" "$WINDEPS" "$prefix" "$(winpath "$exe")" "$@" \
    </dev/null || code=$?
  [ "$code" = 124 ] && echo "time limit of $limit s reached: the prefix's programs are ended" >&2
  [ "$code" = 124 ] && stop_prefix "$prefix"
  return "$code"
}

# The installer logs of a run in PREFIX, newest last.
installer_logs() { find "$1/drive_c" -name 'zorvi_installer_*.log' -printf '%T@ %p\n' | sort -n | cut -d' ' -f2-; }

# The statistics the stand-in took (DIR as start_server got it; posts it answered with a server error, which the
# sender retries, are left out), one JSON document each, in request order. Any program of the machine may post to
# the local statistics server's port: with MARKER, only documents whose recorded command line holds it count.
posted_statistics() {
  python3 - "$1" "${2:-}" <<'PY'
import json, os, sys
d, marker = sys.argv[1:3]
for line in open(os.path.join(d, "requests.jsonl")):
    r = json.loads(line)
    if r["method"] == "POST" and r["path"] == "/" and r["status"] < 500:
        stats = json.load(open(os.path.join(d, "bodies", r["body_sha256"])))
        if marker in stats.get("command_line_args", ""):
            print(json.dumps(stats, sort_keys=True))
PY
}
