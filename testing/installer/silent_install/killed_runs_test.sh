#!/bin/bash
# Silent runs killed after every step, as a power cut or a kill from the task list ends them: the package's backend
# is held after its N-th step by the test build's hold-at-step seam, which then writes its process id to a file;
# the backend is then killed outright (SIGKILL, which wine reports as exit code 0), and the same installer runs
# again in the same prefix. The killed run must not report success, the run after it must succeed, and the machine
# must then hold what a clean run leaves: the product's files with their contents, its registry keys and values and
# its shortcuts (product_snapshot.py), nothing of the killed run beside them. The same for an upgrade from 39 to
# 40, killed at each of its steps; and an uninstallation after each row must leave what one after a clean run
# leaves. Each row has a prefix of its own; rows run side by side, a few at a time. The runs fetch nothing and send
# no statistics: the installer runs inside its unpacked package, with the overrides feature off.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
. "$ROOT/tools/env.sh"
. "$ROOT/testing/installer/silent_install/silent_install.sh"
begin_test killed_runs
SNAPSHOT=$ROOT/testing/installer/silent_install/product_snapshot.py
mkdir "$D/rows"

# Rows side by side: half the processors, at least two.
PARALLEL=$(( $(nproc) / 2 ))
[ "$PARALLEL" -ge 2 ] || PARALLEL=2
# Steps of a run of the sample package: one report per step, one per file copied but the last, the last step's own.
FILES=7
INSTALL_STEPS=$((7 + FILES - 1 + 1))
UPGRADE_STEPS=$((11 + FILES - 1 + 1))

make_sample_package "$BUILD_DIR/bin/test_build/zorvi.dll" "$D/package"
[ "$(tr -d '\r' <"$D/package/files_list" | grep -c .)" = "$FILES" ] || { echo "the sample package changed"; exit 1; }
PRODUCT=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["product_name"])' "$ROOT/host/branding.json")
# The next major version: the same package, whose library the branding's "major_delta" moves on.
python3 -c 'import json,sys; b=json.load(open(sys.argv[1])); b["major_delta"]=1; json.dump(b, open(sys.argv[2], "w"))' \
  "$ROOT/host/branding.json" "$D/branding40.json"
# The browser is not started: it would keep its files in use.
SWITCHES=(--silent --v=1 --enable-installer-stats=0 --with-feature:installer-pref-default-overrides-support=off
          --launchzorvi=0)

# In a row (R: its folder): runs the package's installer; the exit code in CODE. VERSION is 39 or 40; SEAMS more test
# seams.
run() {  # TAG VERSION SEAMS ARGS...
  local tag=$1 version=$2 seams=$3
  shift 3
  [ "$version" = 40 ] && seams+="${seams:+;}branding-file=$(winpath "$D/branding40.json")"
  seams+="${seams:+;}detached-starts=$(winpath "$R/detached_starts.txt")"
  CODE=0
  RUN_ENV="ZORVI_TEST_SEAMS=$seams" run_installer "$R/prefix" 240 "$R/package/installer.exe" "${SWITCHES[@]}" "$@" \
    >"$R/$tag.stdout" 2>"$R/$tag.output" || CODE=$?
}

row_fail() { echo "FAIL [$ROW_NAME]: $*" >>"$R/failures"; }


# A run held after STEP, its backend killed outright once it holds; it must end without success.
killed_run() {  # VERSION STEP
  local version=$1 step=$2 pids runner
  rm -f "$R/held" "$R/killed.code"
  ( run killed "$version" "hold-at-step=$step;held-file=$(winpath "$R/held")"; echo "$CODE" >"$R/killed.code" ) &
  runner=$!
  # The seam writes the file while the backend holds, which it does until its controller ends: nothing moves.
  if timeout 120 bash -c 'until [ -s "$1" ]; do sleep 0.05; done' - "$R/held"; then
    pids=$(prefix_processes "$R/prefix" --backend)
    [ -n "$pids" ] || row_fail "no backend process to kill"
    kill -KILL $pids 2>/dev/null
  else
    row_fail "the backend never held after step $step"
  fi
  wait "$runner"
  [ "$(cat "$R/killed.code" 2>/dev/null)" != 0 ] || row_fail "the killed run reported success (exit code 0)"
  ! grep -q "Installer ended. Success is 1" "$R/killed.output" || row_fail "the killed run logged its success"
}

# One row: NAME, KIND (install or upgrade), STEP (0: no killed run; "twice": a whole run in its place).
row() {
  ROW_NAME=$1
  local kind=$2 step=$3 version=39
  R=$D/rows/$1
  mkdir -p "$R"
  : >"$R/failures"
  local start=$SECONDS
  fresh_prefix "$R/prefix"
  cp -a "$D/package" "$R/package"
  if [ "$kind" = upgrade ]; then
    run first 39 ''
    [ "$CODE" = 0 ] || row_fail "the install before the upgrade: exit code $CODE"
    version=40
  fi
  if [ "$step" = twice ]; then
    run first_again "$version" ''
    [ "$CODE" = 0 ] || row_fail "the first of two runs: exit code $CODE"
  elif [ "$step" != 0 ]; then
    killed_run "$version" "$step"
  fi
  run again "$version" ''
  [ "$CODE" = 0 ] || row_fail "the run after the killed one: exit code $CODE"
  stop_prefix "$R/prefix"
  python3 "$SNAPSHOT" "$R/prefix" "$PRODUCT" >"$R/after.json" || row_fail "no snapshot"
  # The uninstallation by the installer kept in the installed version's folder; its clean-up batch, whose start the
  # test build records, runs once the run has ended, as it would.
  local uninstaller
  uninstaller=$(find "$R/prefix/drive_c" -path "*$PRODUCT*" -name installer.exe -not -path '*/Temp/*' | head -n 1)
  if [ -n "$uninstaller" ]; then
    local seams="detached-starts=$(winpath "$R/detached_starts.txt")"
    [ "$version" = 39 ] || seams+=";branding-file=$(winpath "$D/branding40.json")"
    CODE=0
    RUN_ENV="ZORVI_TEST_SEAMS=$seams" run_installer "$R/prefix" 240 "$uninstaller" --silent --uninstall \
      --enable-installer-stats=0 >"$R/uninstall.stdout" 2>"$R/uninstall.output" || CODE=$?
    [ "$CODE" = 0 ] || row_fail "the uninstallation: exit code $CODE"
    local batch
    batch=$(find "$R/prefix/drive_c" -path "*$PRODUCT*" -name k.bat | head -n 1)
    [ -z "$batch" ] || timeout 120 "$ROOT/tools/wine-run" "$WINDEPS" "$R/prefix" cmd.exe /c "$(winpath "$batch")" \
      >/dev/null 2>&1 </dev/null || row_fail "the clean-up batch failed"
  else
    row_fail "no installed installer.exe to uninstall with"
  fi
  stop_prefix "$R/prefix"
  python3 "$SNAPSHOT" "$R/prefix" "$PRODUCT" >"$R/uninstalled.json" || row_fail "no snapshot"
  echo "[$ROW_NAME] $((SECONDS - start)) s"
  # A failed row keeps its prefix for diagnosis.
  [ -s "$R/failures" ] || rm -rf "$R/prefix"
}

# The clean rows first (the others are compared with them), then every killed row, a few side by side.
# A run killed after its last step has written its status log: the installation is complete on disk but for what
# the run does after its last report (the default browser, the autoupdate task, the browser's start), and the run
# after it is a reinstallation of that version, which moves it to a new version folder as a clean one does. Those
# rows are compared with two whole runs.
rows=("install_clean install 0" "upgrade_clean upgrade 0" "install_twice install twice" "upgrade_twice upgrade twice")
for ((step = 1; step <= INSTALL_STEPS; step++)); do rows+=("install_killed_$step install $step"); done
for ((step = 1; step <= UPGRADE_STEPS; step++)); do rows+=("upgrade_killed_$step upgrade $step"); done
reference() {  # KIND STEP: the row a killed row is compared with
  local last=$INSTALL_STEPS
  [ "$1" = upgrade ] && last=$UPGRADE_STEPS
  if [ "$2" = "$last" ]; then echo "${1}_twice"; else echo "${1}_clean"; fi
}
# A first argument picks the rows by name (an extended regular expression; the rows compared with always run).
if [ -n "${1:-}" ]; then
  mapfile -t rows < <(printf '%s\n' "${rows[@]}" | grep -E "^(install_clean|upgrade_clean|install_twice|upgrade_twice|$1) ")
fi
started=$SECONDS
for spec in "${rows[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$PARALLEL" ]; do wait -n; done
  # shellcheck disable=SC2086
  row $spec &
done
wait
echo "${#rows[@]} rows in $((SECONDS - started)) s, $PARALLEL side by side"

# Each killed row against its clean row: after the run again, and after the uninstallation.
for spec in "${rows[@]}"; do
  read -r name kind step <<<"$spec"
  R=$D/rows/$name
  ROW_NAME=$name
  case $step in 0 | twice) continue ;; esac
  ref=$(reference "$kind" "$step")
  for state in after uninstalled; do
    python3 - "$D/rows/$ref/$state.json" "$R/$state.json" <<'PY' >"$R/$state.diff" ||
import json, sys
clean, row = (json.load(open(p)) for p in sys.argv[1:3])
differ = False
for part in ("files", "registry"):
    for name in sorted(set(clean[part]) | set(row[part])):
        if clean[part].get(name) != row[part].get(name):
            differ = True
            print(f"{part}: {name}: clean {clean[part].get(name, 'absent')!r}, here {row[part].get(name, 'absent')!r}")
sys.exit(1 if differ else 0)
PY
      row_fail "$state: differs from $ref: $(head -c 3000 "$R/$state.diff")"
  done
done

# The clean rows themselves: an installation, and after the uninstallation nothing of it but the preferences.
python3 - "$D/rows/install_clean/after.json" "$D/rows/upgrade_clean/after.json" <<'PY' ||
import json, sys
for path in sys.argv[1:]:
    snapshot = json.load(open(path))
    assert any(name.endswith("/launcher.exe") for name in snapshot["files"]), path
    assert any("Uninstall" in key for key in snapshot["registry"]), path
PY
  echo "FAIL: a clean row did not install" >>"$D/rows/install_clean/failures"

failures=$(cat "$D"/rows/*/failures | grep -c .)
cat "$D"/rows/*/failures
echo "killed runs: $failures failure(s)"
[ "$failures" = 0 ]
