# Shared settings of the project's scripts (sourced). Caches live outside the clone:
#   ZORVI_CACHE (default ~/.cache/zorvi)/windeps-<recipe hash>  dependencies and the wine prefix template
#   ZORVI_CACHE/ccache                                           compiler output
ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
ZORVI_CACHE=${ZORVI_CACHE:-$HOME/.cache/zorvi}
# The dependency cache is keyed by the recipe: a changed recipe or toolchain file builds a new one.
WINDEPS=$ZORVI_CACHE/windeps-$(cat "$ROOT/third_party/windeps.sh" "$ROOT/tools/mingw-w64-x86_64.cmake" | sha256sum | cut -c1-12)
BUILD_DIR=${BUILD_DIR:-$ROOT/out}
RUN_PREFIX=$BUILD_DIR/wineprefix
JOBS=${JOBS:-$(nproc)}
export WINDEPS
# Wine turns Windows file names into Unix ones in the locale's character set: without a UTF-8 locale (a bare
# root shell has none) no non-ASCII name can be created. The Linux-side oracles read those names too. A UTF-8
# locale the caller chose is kept, so that its language and formats reach wine and the tests.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

# Configures and builds the given targets, or everything. Usage: zorvi_configure_and_build [TARGET...]
zorvi_configure_and_build() {
  export CCACHE_DIR=$ZORVI_CACHE/ccache CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-8G}
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/tools/mingw-w64-x86_64.cmake" \
        -DWINDEPS="$WINDEPS" -DWINE_RUN_PREFIX="$RUN_PREFIX" \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
  cmake --build "$BUILD_DIR" -j "$JOBS" ${1:+--target "$@"}
}

# The Linux processes of a wine prefix, one process id a line: those whose environment names it, read through
# their threads. Usage: zorvi_prefix_pids PREFIX
zorvi_prefix_pids() {
  grep -lzx "WINEPREFIX=$1" /proc/[0-9]*/task/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | uniq
}

# Ends every process still running in a prefix: the programs of a wine server that died wait for it for good. One
# of them may be starting another meanwhile (a batch's next command), which the pass after sees: passes go on until
# one finds no process it has not ended yet.
zorvi_kill_prefix_processes() {
  local pid ended=" " more=1
  while [ -n "$more" ]; do
    more=
    for pid in $(zorvi_prefix_pids "$1"); do
      case $ended in *" $pid "*) continue ;; esac
      ended+="$pid "
      more=1
      [ "$pid" = $$ ] || kill -9 "$pid" 2>/dev/null || true
    done
  done
}

# Ends a prefix that a script made for itself: its wine server (persistent, see tools/wine-run: it would outlive the
# prefix), whatever still runs there, then the prefix. Usage: zorvi_end_prefix PREFIX
zorvi_end_prefix() {
  . "$WINDEPS/wine.env"
  if [ -d "$1" ]; then
    TMPDIR="$1/.server-tmp" WINEPREFIX="$1" "$WINESERVER" -k 2>/dev/null || true
    TMPDIR="$1/.server-tmp" WINEPREFIX="$1" timeout 30 "$WINESERVER" -w 2>/dev/null || true
  fi
  zorvi_kill_prefix_processes "$1"
  rm -rf "$1"
}

# What still runs of the run that a report of tools/wine-stacks names, one command line a line.
zorvi_left_of_report() {
  local run environ
  run=$(sed -n 's/^==== wine-stacks: .* of run \(.*\)$/\1/p' <<<"$1")
  [ -n "$run" ] || { echo "(the report names no run)"; return; }
  for environ in $(grep -lzx "ZORVI_WINE_RUN=$run" /proc/[0-9]*/environ 2>/dev/null); do
    tr '\0' ' ' <"${environ%/environ}/cmdline"
    echo
  done
}

zorvi_stop_wine() {
  local prefix
  . "$WINDEPS/wine.env"
  # With the prefixes of single tests (see tools/wine-run) that an interrupted run left.
  for prefix in "$RUN_PREFIX" "$RUN_PREFIX".own-*; do
    if [ -d "$prefix" ]; then
      # The server's socket folder is inside the prefix (see tools/wine-run).
      TMPDIR="$prefix/.server-tmp" WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true
      TMPDIR="$prefix/.server-tmp" WINEPREFIX="$prefix" timeout 30 "$WINESERVER" -w 2>/dev/null || true
    fi
    zorvi_kill_prefix_processes "$prefix"
  done
  rm -rf "$RUN_PREFIX".own-*
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}

# A fresh copy of the booted template for this run, so nothing an earlier run wrote is seen, and an X server
# for the tests that show windows.
zorvi_fresh_prefix() {
  zorvi_stop_wine
  # The copy is made beside the prefix and moved into place, so nothing ever sees half a prefix.
  rm -rf "$RUN_PREFIX" "$RUN_PREFIX.new"
  "$ROOT/tools/copy-prefix-template" "$WINDEPS" "$RUN_PREFIX.new"
  mv "$RUN_PREFIX.new" "$RUN_PREFIX"
  zorvi_start_display
}

# An X server of this run's own, as DISPLAY, its process as XVFB_PID (zorvi_stop_wine ends it). Xvfb picks a free
# display itself and names it once it accepts connections, so runs side by side never share one (a run that ended
# would take the other's display down with it, and one run's windows would take the other's input focus).
zorvi_start_display() {
  local fifo display
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/zorvi-xvfb.XXXXXX")
  mkfifo "$fifo"
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  read -r display <"$fifo" || echo "Xvfb did not start: tests that show windows will fail" >&2
  rm -f "$fifo"
  export DISPLAY=":$display"
}

# Maps the first free one of LETTERS (or the one already mapped there) in the run's prefix to a folder on tmpfs,
# another file system than the build's, for moves across volumes. The letter goes to DATA_DIR/second_drive and
# the folder to DATA_DIR/second_volume. Usage: zorvi_map_second_drive DATA_DIR NAME LETTER...
zorvi_map_second_drive() {
  local data=$1 name=$2 volume letter= l link
  shift 2
  volume=/dev/shm/zorvi-$name-$(echo "$RUN_PREFIX" | sha256sum | cut -c1-12)
  rm -rf "$volume"; mkdir -p "$volume"
  [ "$(stat -f -c %T "$volume")" != "$(stat -f -c %T "$data")" ] || { echo "$volume is on the data's file system" >&2; return 1; }
  for l in "$@"; do
    link=$RUN_PREFIX/dosdevices/$l:
    if [ ! -e "$link" ] && [ ! -L "$link" ]; then letter=$l; break; fi
    if [ "$(readlink "$link")" = "$volume" ]; then letter=$l; break; fi
  done
  [ -n "$letter" ] || { echo "no free drive letter" >&2; return 1; }
  ln -sfn "$volume" "$RUN_PREFIX/dosdevices/$letter:"
  printf '%s' "${letter^^}" > "$data/second_drive"
  printf '%s' "$volume" > "$data/second_volume"
}

# Undoes zorvi_map_second_drive. Usage: zorvi_unmap_second_drive DATA_DIR
zorvi_unmap_second_drive() {
  rm -f "$RUN_PREFIX/dosdevices/$(tr A-Z a-z < "$1/second_drive"):"
  rm -rf "$(cat "$1/second_volume")"
}
