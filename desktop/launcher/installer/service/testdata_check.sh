#!/bin/bash
# Checks from the Linux side what the scheduler tests left (the recording scheduler's file, with Python's json),
# then drives the system's schedulers in a prefix of their own, since registered tasks are the machine's: the
# 2.0 task files that wine writes, by xmllint and XPath, and the 1.0 job files, by their binary layout.
# Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../../../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
. "$WINDEPS/wine.env"
HERE=$(cd "$(dirname "$0")" && pwd)
status=0
fail() { echo "$*" >&2; status=1; }

if [ -e "$D/recorded_tasks.json" ]; then
  python3 "${BASH_SOURCE[0]%/*}/testdata_recorded_tasks.py" "$D" "$ROOT/host" || status=1
fi

# The system's schedulers, in a prefix of their own without a display.
P=$D/own_prefix
# It goes with its programs however the script ends.
trap 'zorvi_end_prefix "$P"' EXIT
"$ROOT/tools/copy-prefix-template" "$WINDEPS" "$P"
TASKS=$P/drive_c/windows/system32/tasks
JOBS=$P/drive_c/windows/tasks
child() { env -u DISPLAY "$ROOT/tools/wine-run" "$WINDEPS" "$P" "$CHILD_DIR/$CHILD" --product=Zorvi "$@" </dev/null 2>&1 | tr -d '\r'; }
answer() { grep -a "^$1=" <<<"$2" | cut -d= -f2-; }
expect() {  # expect NAME WANT OUTPUT WHAT
  [ "$(answer "$1" "$3")" = "$2" ] || fail "$4: $1 is '$(answer "$1" "$3")', want $2 ($(tr '\n' ' ' <<<"$3"))"
}
xpath() { xmllint --xpath "string(/*[local-name()='Task']/*[local-name()='$1']/*[local-name()='$2'])" "$3" || true; }
user=$(whoami)
description='Keeps Zorvi up to date æøå'
create=(--create '--program=C:\Zorvi\launcher.exe' "--description=$description" --network)

# 2.0: a task without triggers, as a standard user (the highest run level is not asked for).
CHILD=task_scheduler_test_child.exe CHILD_DIR=$BIN
out=$(child --v2 --standard-user "--suffix=Autoupdate real" "${create[@]}" --kind=2 --limit=3600 --state --last-run)
expect create 1 "$out" "2.0 create"
expect state 3 "$out" "2.0 state"
expect last_run_null 1 "$out" "2.0 last run of a task that never ran"
F=$TASKS/$(answer task_name "$out")
if xmllint --noout "$F"; then
  for check in "RegistrationInfo Description $description" "RegistrationInfo Author ${user}" \
               "Settings ExecutionTimeLimit PT3600S" "Settings MultipleInstancesPolicy IgnoreNew" \
               "Settings RunOnlyIfNetworkAvailable true" "Settings StartWhenAvailable true" \
               "Settings DisallowStartIfOnBatteries false" "Settings StopIfGoingOnBatteries false"; do
    read -r parent element value <<<"$check"
    got=$(xpath "$parent" "$element" "$F")
    case $element in
      Author) [[ $got == *"\\$value" ]] || fail "task XML: Author '$got' is not DOMAIN\\$value";;
      *) [ "$got" = "$value" ] || fail "task XML: $parent/$element is '$got', want '$value'";;
    esac
  done
else
  fail "xmllint: $F is not well-formed"
fi
before=$(sha256sum < "$F")
# A definition wine refuses (trigger ids; the run level of an administrator) must not cost the registered task.
for variant in "--standard-user --kind=1 --logon" "--kind=2"; do
  # shellcheck disable=SC2086
  out=$(child --v2 $variant "--suffix=Autoupdate real" "${create[@]}" --limit=60 --state)
  expect create 0 "$out" "2.0 create with $variant"
  expect state 3 "$out" "2.0 state after a refused create with $variant"
  [ "$(sha256sum < "$F")" = "$before" ] || fail "sha256sum: a refused create ($variant) changed the task file"
done
out=$(child --v2 "--suffix=Autoupdate real" --delete --state)
expect state 0 "$out" "2.0 state after delete"
[ ! -e "$F" ] || fail "the task file is left after delete"
# No limit, for all users: "PT0S", registered as the system account; wine refuses the access list, which is logged.
out=$(child --v2 --standard-user "--suffix=Autoupdate all" "${create[@]}" --all-users --kind=2 --limit=0 --state)
expect create 1 "$out" "2.0 create for all users"
grep -qaE '^\[[0-9/]+:ERROR:task_scheduler_v2\.cc\([0-9]+\)\] Failed setting SDDL: -?[0-9]+$' <<<"$out" ||
  fail "no 'Failed setting SDDL' error line: $out"
F=$TASKS/$(answer task_name "$out")
[ "$(xpath Settings ExecutionTimeLimit "$F")" = PT0S ] || fail "task XML: no limit is not PT0S"
out=$(child --v2 "--suffix=Autoupdate all" --delete --state)
expect state 0 "$out" "2.0 delete for all users"
[ $status -ne 0 ] || echo "xmllint, sha256sum: the 2.0 task as registered, kept through refused definitions, deleted"

# 1.0 under a program that wine presents as XP (per-program version, as testing/version_child.h sets it).
# The copy lives in this check's own folder: other checks scan bin/ and must never see it come and go.
CHILD=task_scheduler_xp_$$.exe
cp "$BIN/task_scheduler_test_child.exe" "$D/$CHILD"
CHILD_DIR=$D
env -u DISPLAY "$ROOT/tools/wine-run" "$WINDEPS" "$P" reg add "HKCU\\Software\\Wine\\AppDefaults\\$CHILD" \
  /v Version /d winxp /f </dev/null >/dev/null
# job NAME CONDITION: the condition, a Python expression over the job file `j` (and `description`, `user`,
# `today`), holds; else the failure names the job.
job() {
  DESCRIPTION=$description USER_NAME=$user python3 - "$JOBS/$1.job" "$2" "$HERE/testdata" <<'PY' ||
import datetime, os, sys
sys.path.insert(0, sys.argv[3])
from job_file import parse
j = parse(open(sys.argv[1], 'rb').read())
description, user = os.environ['DESCRIPTION'], os.environ['USER_NAME']
today = [list(d.timetuple()[:3]) for d in (datetime.date.today(), datetime.date.today() - datetime.timedelta(1))]
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
    fail "job file $1: not $2: $(python3 "$HERE/testdata/job_file.py" "$JOBS/$1.job")"
}
out=$(child "--suffix=Autoupdate one" "${create[@]}" --kind=1 --logon --limit=0 --state --last-run)
expect scheduler v1 "$out" "the XP program's scheduler"
expect create 1 "$out" "1.0 create"
expect state 3 "$out" "1.0 state"
expect last_run_null 1 "$out" "1.0 last run of a task that never ran"
N=$(answer task_name "$out")
job "$N" "j['application'] == 'C:\\\\Zorvi\\\\launcher.exe' and j['parameters'] == '--scheduledautoupdate \$(Arg0)'"
job "$N" "j['comment'] == description and j['author'].endswith('\\\\' + user)"
job "$N" "j['flags'] == 0x2000 and j['max_run_time'] == 0xffffffff"  # run only if logged on; no limit
job "$N" "[(t['type'], t['days_interval']) for t in j['triggers']] == [(1, 1), (7, 0)]"  # daily, at logon
job "$N" "all(t['begin'] in today for t in j['triggers'])"
child "--suffix=Autoupdate one" --enable=0 --daily=3 >/dev/null
job "$N" "j['flags'] == 0x2004 and j['triggers'][0]['days_interval'] == 3"
# The sweep: only enabled tasks of this product whose program is gone.
child --product=Other "--suffix=Autoupdate one" "${create[@]}" --kind=1 >/dev/null
child "--suffix=Autoupdate kept" --create '--program=C:\windows\notepad.exe' --kind=1 >/dev/null
child --remove-stale >/dev/null
for task in "Zorvi scheduled Autoupdate one" "Other scheduled Autoupdate one" "Zorvi scheduled Autoupdate kept"; do
  [ -e "$JOBS/$task.job" ] || fail "the sweep removed '$task' (disabled, another product's or with its program)"
done
child "--suffix=Autoupdate one" --enable=1 >/dev/null
out=$(child --remove-stale "--suffix=Autoupdate one" --state)
expect state 0 "$out" "1.0 sweep of an enabled task whose program is gone"
out=$(child "--suffix=Autoupdate kept" --delete --state)
expect state 0 "$out" "1.0 delete"
[ ! -e "$JOBS/Zorvi scheduled Autoupdate kept.job" ] || fail "the job file is left after delete"
[ $status -ne 0 ] || echo "job files: the 1.0 task as created, changed, swept by product name and deleted"

XVFB_PID='' RUN_PREFIX=$P zorvi_stop_wine
zorvi_end_prefix "$P"
exit $status
