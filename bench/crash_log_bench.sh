#!/bin/bash
# The crash log benchmark on two cores (taskset -c 0,1), as a loaded user machine gives the reporter: the text log
# of 499 threads must be written within 5 s there.
set -euo pipefail
taskset -c 0,1 $WINE_RUN "$BIN/crash_log_bench.exe" | tr -d '\r'
