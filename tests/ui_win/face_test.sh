#!/usr/bin/env bash
# Runs ui_win_face_tests.exe under Wine on a display (wine-x-run), with modules simulated on COM
# ports by the module simulator of a native build (tests/support/wine_com_ports.sh): COM7 to COM16,
# of which COM13 reports a wrong byte count, COM14 answers nothing and COM15 refuses the first
# packet once.
#
#   face_test.sh WINE_X_RUN TESTS_EXE SIMULATOR WORK_FOLDER SCREENSHOTS PROGRAM NOTICE_SENDER
#
# Exit 77 (skipped) without a native simulator.
set -euo pipefail
wine_x_run=$1 tests=$2 simulator=$3 work=$4 shots=$5 program=$6 sender=$7
if [ ! -x "$simulator" ]; then
  echo "skipped: no native module simulator at '$simulator'"
  exit 77
fi
source "$(dirname "$0")/../support/wine_com_ports.sh"
start_simulated_modules "$simulator" "$work" 7 10 \
  --fault COM13:count-offset=-1 --fault COM14:silent --fault COM15:error-packet=1
QUILL_COM_STORE=$(windows_path "$work/store") QUILL_PROGRAM=$(windows_path "$program") \
  QUILL_NOTICE_SENDER=$(windows_path "$sender") \
  "$wine_x_run" --com-ports "$work/ports" --screenshots "$shots" "$tests"
