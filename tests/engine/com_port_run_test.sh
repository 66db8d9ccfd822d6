#!/usr/bin/env bash
# Runs com_port_run_tests.exe under Wine on COM ports served by the module simulator of a native
# build (see tests/support/wine_com_ports.sh).
#
#   com_port_run_test.sh WINE_RUN TESTS_EXE SIMULATOR WORK_FOLDER
#
# Exit 77 (skipped) without a native simulator.
set -euo pipefail
wine_run=$1 tests=$2 simulator=$3 work=$4
if [ ! -x "$simulator" ]; then
  echo "skipped: no native module simulator at '$simulator'"
  exit 77
fi
source "$(dirname "$0")/../support/wine_com_ports.sh"
serve_com_ports "$wine_run" "$simulator" "$work" 9 9 \
  --fault COM11:error-packet=1 --fault COM12:count-offset=-1 --fault COM13:pull-after=1500 \
  --fault COM14:stall-after=1500 --fault COM15:stall-after=1500 --fault COM16:deaf \
  --fault COM17:deaf
QUILL_COM_STORE=$(windows_path "$work/store") "$wine_run" "$tests"
