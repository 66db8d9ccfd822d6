#!/usr/bin/env bash
# The Windows runner under Wine against simulated modules: the module simulator of a native build
# serves pseudo-terminals, which the test's own Wine prefix maps to COM ports (HKLM\Software\Wine\
# Ports, read when the prefix's server starts). Then quillmark-run.exe updates them as on a bench.
#
#   windows_run_test.sh WINE_RUN RUNNER_EXE SIMULATOR WORK_FOLDER
#
# Exit 77 (skipped) without a native simulator.
set -euo pipefail
wine_run=$1 runner=$2 simulator=$3 work=$4
if [ ! -x "$simulator" ]; then
  echo "skipped: no native module simulator at '$simulator'"
  exit 77
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$work/prefix

failures=0 passes=0
check() {  # check WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}

simulator_pid=
cleanup() {
  [ -n "$simulator_pid" ] && kill "$simulator_pid" 2>/dev/null && wait "$simulator_pid" 2>/dev/null
  "$wineserver" -k 2>/dev/null || true
}
trap cleanup EXIT

# Polls for a condition, up to a generous deadline.
wait_for() {
  local deadline=$((SECONDS + 60))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

rm -rf "$work/ports" "$work/store" "$work/bench" "$work/bench2" "$work/first.out" "$work/run.out"
mkdir -p "$work/bench" "$work/bench2"
head -c 25000 /dev/urandom >"$work/update.bin"

# COM9 and COM10 answer as modules do; COM11 refuses to open its file system.
"$simulator" --ports "$work/ports" --store "$work/store" --first 9 --count 3 \
  --fault COM11:refuse=AT+CFSINIT >"$work/simulator.log" 2>&1 &
simulator_pid=$!
wait_for test -L "$work/ports/COM11" || { echo "the simulator made no ports"; exit 1; }

"$wine_run" reg delete 'HKLM\Software\Wine\Ports' /f >/dev/null 2>&1 || true
for n in 9 10 11; do
  "$wine_run" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ \
    /d "$(readlink "$work/ports/COM$n")" /f >/dev/null
done
# The ports are mapped when the server starts again. It is started here, apart from the runners'
# output, and kept until the end.
"$wineserver" -k || true
"$wineserver" -w || true
"$wineserver" -p </dev/null >/dev/null 2>&1

windows_path() {  # Wine's drive Z: is the root folder
  echo "Z:${1//\//\\}"
}
settings() {  # settings SLEEP_MS
  printf '[FilePath]\r\nPath=%s\r\nSleepTime=%s\r\n' "$(windows_path "$work/update.bin")" "$1"
  printf '[ATPort_First]\r\nnumber=9\r\n[ATPort_Second]\r\nnumber=10\r\n'
  printf '[ATPort_Third]\r\nnumber=11\r\n[ATPort_Fourth]\r\nnumber=8\r\n'
}
settings 0 >"$work/bench/ZEBL.ini"
settings 600000 >"$work/bench2/ZEBL.ini"

run() {  # run FOLDER ARGS...: the runner's output in $out, its exit code in $code
  local folder=$1
  shift
  code=0
  (cd "$folder" && timeout 240 "$wine_run" "$runner" "$@") >"$work/run.out" 2>&1 || code=$?
  out=$(tr -d '\r' <"$work/run.out")
  echo "$out"
}

# Two modules, one of them on a port number above 9: both pass, and both hold the file.
run "$work/bench" 1 2
check "exit code 0 for two passes" test "$code" = 0
check "Module1 passes" grep -q '^Module1 COM9 PASS$' <<<"$out"
check "Module2 passes" grep -q '^Module2 COM10 PASS$' <<<"$out"
check "COM9 holds the file" cmp -s "$work/update.bin" "$work/store/COM9/update.bin"
check "COM10 holds the file" cmp -s "$work/update.bin" "$work/store/COM10/update.bin"
check "both runs are recorded" test "$(grep -c ',0,,' "$work/bench/runs.csv")" = 2
check "the AT traffic is logged" grep -q 'AT+CFSTERM' "$work/bench/AtLog_1.ini"

# A module that refuses a step, and a port that does not exist: both fail with their causes.
run "$work/bench" 3 4
check "exit code 1 for failures" test "$code" = 1
check "Module3 fails at AT+CFSINIT" grep -q '^Module3 COM11 FAIL (errcode 11)' <<<"$out"
check "Module4's port is missing" grep -q '^Module4 COM8 FAIL: OpenATPort Failed! COM8' <<<"$out"

# While one runner waits out a long settling time, a second one is refused.
(cd "$work/bench2" && "$wine_run" "$runner" 1 >"$work/first.out" 2>&1) &
first=$!
wait_for grep -q 'Prepare to download' "$work/first.out" || echo "the first runner did not start"
run "$work/bench" 1
check "exit code 3 for a second instance" test "$code" = 3
check "the second instance is refused" grep -q '^Tool has been opened!' <<<"$out"
"$wineserver" -k || true
wait "$first" 2>/dev/null || true

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
