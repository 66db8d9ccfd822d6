#!/usr/bin/env bash
# The Windows runner under Wine against simulated modules: the module simulator of a native build
# serves pseudo-terminals, which the test's own Wine prefix maps to COM ports (HKLM\Software\Wine\
# Ports, read when the prefix's server starts). Then quillmark-run.exe updates them as on a bench.
#
#   windows_run_test.sh WINE_RUN RUNNER_EXE SIMULATOR WORK_FOLDER
#
# Exit 77 (skipped) without a native simulator.
set -euo pipefail
trap 'echo "windows_run_test.sh: line $LINENO failed (exit $?): $BASH_COMMAND" >&2' ERR
wine_run=$1 runner=$2 simulator=$3 work=$4
if [ ! -x "$simulator" ]; then
  echo "skipped: no native module simulator at '$simulator'"
  exit 77
fi
source "$(dirname "$0")/../support/wine_com_ports.sh"

failures=0 passes=0
check() {  # check WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    echo "FAILED: $what (the runner's exit code was ${code:-none})"
    failures=$((failures + 1))
  fi
}

rm -rf "$work/bench" "$work/bench2" "$work/first.out" "$work/run.out"
mkdir -p "$work/bench" "$work/bench2"
head -c 25000 /dev/urandom >"$work/update.bin"

# COM9 and COM10 answer as modules do; COM11 refuses to open its file system.
serve_com_ports "$wine_run" "$simulator" "$work" 9 3 --fault COM11:refuse=AT+CFSINIT

settings() {  # settings SLEEP_MS
  printf '[FilePath]\r\nPath=%s\r\nSleepTime=%s\r\n' "$(windows_path "$work/update.bin")" "$1"
  printf '[ATPort_First]\r\nnumber=9\r\n[ATPort_Second]\r\nnumber=10\r\n'
  printf '[ATPort_Third]\r\nnumber=11\r\n[ATPort_Fourth]\r\nnumber=8\r\n'
}
# The bench names a line database, which this build cannot use: said once, and the runs go on.
{ settings 0 && printf '[Station]\r\nDatabase=host=records dbname=line\r\n'; } >"$work/bench/ZEBL.ini"
settings 600000 >"$work/bench2/ZEBL.ini"

run() {  # run FOLDER ARGS...: the runner's output in $out, its exit code in $code
  local folder=$1
  shift
  code=0
  (cd "$folder" && timeout 240 "$wine_run" "$runner" "$@") >"$work/run.out" 2>&1 || code=$?
  out=$(tr -d '\r' <"$work/run.out")
  echo "$out"
}

# Two modules, one of them on a port number above 9, started from the folder above the bench and
# told it with -C: both pass, both hold the file, and everything of the bench is in the bench.
run "$work" -C bench 1 2
check "exit code 0 for two passes" test "$code" = 0
check "Module1 passes" grep -q '^Module1 COM9 PASS$' <<<"$out"
check "Module2 passes" grep -q '^Module2 COM10 PASS$' <<<"$out"
check "the unused database is said once" test "$(grep -c \
  '^quillmark-run: \[Station\] Database= is not used: this Windows build has no PostgreSQL' \
  <<<"$out")" = 1
check "COM9 holds the file" cmp -s "$work/update.bin" "$work/store/COM9/update.bin"
check "COM10 holds the file" cmp -s "$work/update.bin" "$work/store/COM10/update.bin"
check "both runs are recorded" test "$(grep -c ',0,,' "$work/bench/runs.csv")" = 2
check "the AT traffic is logged" grep -q 'AT+CFSTERM' "$work/bench/AtLog_1.ini"
check "nothing of the bench is where the runner was started" \
  test ! -e "$work/AtLog_1.ini" -a ! -e "$work/runs.csv" -a ! -e "$work/ZEBL.lock"

# A bench that is not there is refused, never the folder the runner was started in.
run "$work" --bench missing 1
check "exit code 2 for a missing bench" test "$code" = 2
check "the missing bench is named" grep -q '^quillmark-run: bench folder missing: ' <<<"$out"

# A module that refuses a step, and a port that does not exist: both fail with their causes.
run "$work/bench" 3 4
check "exit code 1 for failures" test "$code" = 1
check "Module3 fails at AT+CFSINIT" grep -q '^Module3 COM11 FAIL (errcode 11)' <<<"$out"
check "Module4's port is missing" grep -q '^Module4 COM8 FAIL: OpenATPort Failed!: COM8' <<<"$out"
check "the missing port is recorded without a result" \
  grep -q ',,OpenATPort Failed!: COM8[^,]*,0,' "$work/bench/runs.csv"
check "and counted as neither pass nor failure" grep -q ', 1 other$' <<<"$out"

# A bench folder, an update file and a debug file named in Chinese: the runner finds its settings
# (with a UTF-8 mark) there, the module stores the file under its UTF-8 name, the record and the log
# are the folder's.
cn=$work/测试台
rm -rf "$cn" && mkdir -p "$cn" && head -c 20000 /dev/urandom >"$cn/升级包.bin"
cn_settings() {  # cn_settings FILE: ZEBL.ini for Module1 on COM9
  printf '[FilePath]\r\nPath=%s\r\nSleepTime=0\r\n[ATPort_First]\r\nnumber=9\r\n' \
    "$(windows_path "$cn/$1")"
}
{ printf '\xEF\xBB\xBF' && cn_settings 升级包.bin; } >"$cn/ZEBL.ini"
run "$cn" --debug 调试.log
check "Module1 passes in the Chinese bench" grep -q '^Module1 COM9 PASS$' <<<"$out"
check "the module holds the file under its UTF-8 name" \
  cmp -s "$cn/升级包.bin" "$work/store/COM9/升级包.bin"
check "the record names the file in UTF-8" \
  grep -qF ",$(windows_path "$cn/升级包.bin"),20000," "$cn/runs.csv"
check "the AT traffic is logged there" grep -qF 'AT+CFSWFILE=0,"升级包.bin",1,' "$cn/AtLog_1.ini"
check "the debug file is there" grep -qF 'read_cfgini_file()' "$cn/调试.log"

# The same from settings that an older tool wrote in code page 936, as on a Chinese system: the
# module gets the name in UTF-8. 誠's second byte in 936 is a backslash, which must not cut it.
cp "$cn/升级包.bin" "$cn/升级包_誠.bin"
cn_settings 升级包_誠.bin | iconv -f UTF-8 -t GBK >"$cn/ZEBL.ini"
QUILL_WINE_LOCALE=zh_CN.UTF-8 run "$cn" --json
check "the report names the file in UTF-8" grep -qF '\\升级包_誠.bin",' <<<"$out"
check "the report gives the file's size" grep -qF '"size": 20000,' <<<"$out"
check "the module holds the 936 path's file under its UTF-8 name" \
  cmp -s "$cn/升级包_誠.bin" "$work/store/COM9/升级包_誠.bin"
check "the record names the 936 path in UTF-8" \
  grep -qF ",$(windows_path "$cn/升级包_誠.bin"),20000," "$cn/runs.csv"

# While one runner waits out a long settling time, a second one is refused.
(cd "$work/bench2" && exec "$wine_run" "$runner" 1 >"$work/first.out" 2>&1) &
first=$!
wait_for grep -q 'Prepare to download' "$work/first.out" || echo "the first runner did not start"
run "$work/bench" 1
check "exit code 3 for a second instance" test "$code" = 3
check "the second instance is refused" grep -q '^Tool has been opened!' <<<"$out"
# On the same bench it is told which process holds the bench.
run "$work/bench2" 1
check "exit code 3 on the same bench" test "$code" = 3
check "the holder is named" grep -Eq '^Tool has been opened! \(process [0-9]+ quillmark-run\.exe\)$' <<<"$out"

# Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event) stops the first one.
kill -INT "$first"
code=0
wait "$first" || code=$?
out=$(tr -d '\r' <"$work/first.out")
echo "$out"
check "exit code 130 after Ctrl-C" test "$code" = 130
check "the stopped module fails" grep -q '^Module1 COM9 FAIL (errcode 15): Download Pause!$' <<<"$out"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
