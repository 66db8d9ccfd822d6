#!/usr/bin/env bash
# The Windows installer and portable zip, made by scripts/package-windows from this build:
#
#   package_windows_test.sh STEP WORK SOURCE BUILD VERSION WINE_RUN SIMULATOR
#
#   build     makes the packages of this version and of a newer one in WORK/packages (the fixture
#             of the others)
#   tables    the MSI's tables, the zip's files and the programs' version resources
#   signed    packages signed with a throw-away certificate, and their signatures verified
#   install   under Wine: msiexec installs, the installed runner updates simulated modules in a
#             bench folder outside Program Files, the installed log reader reads that bench's log,
#             a newer version replaces the installed one, an older one is refused, and msiexec
#             removes every installed file
#   portable  under Wine: the zip unpacked into a bench folder with a ZEBL.ini, its runner works
#             there
#
# Exit 77 (skipped) when a tool is missing, or without a native module simulator for the Wine steps.
set -euo pipefail
step=$1 work=$2 source_dir=$3 build=$4 version=$5 wine_run=$6 simulator=$7
trap 'echo "package_windows_test.sh: line $LINENO failed (exit $?): $BASH_COMMAND" >&2' ERR

for tool in wixl msiinfo msiextract zip unzip osslsigncode openssl script perl; do
  command -v "$tool" >/dev/null || {
    echo "SKIPPED: $tool is missing (scripts/setup windows installs it)"
    exit 77
  }
done

# The product versions: this one (1.18 is 1.18.0) and a newer one.
IFS=. read -r major minor patch <<<"$version"
product=$major.$minor.${patch:-0}
newer=$major.$minor.$((${patch:-0} + 1))
name=quillmark-$major.$minor
[ -z "$patch" ] || [ "$patch" = 0 ] || name=quillmark-$product
packages=$work/packages
msi=$packages/$name-x64.msi
newer_msi=$packages/newer/quillmark-$newer-x64.msi
zip=$packages/$name-x64-portable.zip
programs=(quillmark.exe quillmark-run.exe quillmark-log.exe)

failures=0 passes=0
check() {  # check WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
not() {
  ! "$@"
}
finish() {
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}

# A table of the MSI, without its three header lines.
table() {
  msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'
}

build_packages() {
  rm -rf "$packages"
  "$source_dir/scripts/package-windows" --built --out "$packages" "$build"
  "$source_dir/scripts/package-windows" --built --out "$packages/newer" \
    --product-version "$newer" "$build"
  for file in "$msi" "$zip" "$newer_msi"; do
    [ -f "$file" ] || { echo "FAILED: no $file"; exit 1; }
  done
}

check_tables() {
  # A 64-bit package for all users, of the project's version, with the fixed upgrade code.
  check "a 64-bit package" grep -qx 'Template: x64;1033' <(msiinfo suminfo "$msi")
  local properties
  properties=$(table "$msi" Property)
  check "per machine" grep -qx $'ALLUSERS\t1' <<<"$properties"
  check "the project's version" grep -qx $'ProductVersion\t'"$product" <<<"$properties"
  check "the newer package's version" \
    grep -qx $'ProductVersion\t'"$newer" <(table "$newer_msi" Property)
  local upgrade_code
  upgrade_code=$(sed -n 's/^UpgradeCode\t//p' <<<"$properties")
  check "an upgrade code" test -n "$upgrade_code"
  check "the same upgrade code in both versions" \
    grep -qx $'UpgradeCode\t'"$upgrade_code" <(table "$newer_msi" Property)
  check "a product code of each package's own" test \
    "$(sed -n 's/^ProductCode\t//p' <<<"$properties")" != \
    "$(table "$newer_msi" Property | sed -n 's/^ProductCode\t//p')"
  check "older versions are upgraded, newer ones detected" \
    test "$(table "$msi" Upgrade | grep -c "^$upgrade_code")" = 2
  check "an older package is refused" grep -q '^NOT WIX_DOWNGRADE_DETECTED' <(table "$msi" LaunchCondition)
  check "the uninstall entry has the icon" grep -qx $'ARPPRODUCTICON\tquillmark.ico' <<<"$properties"

  # Program Files (the 64-bit one)\quillmark, each file a 64-bit component.
  local directories
  directories=$(table "$msi" Directory)
  check "installed into ProgramFiles64Folder\\quillmark" \
    grep -qx $'INSTALLDIR\tProgramFiles64Folder\tquillmark' <<<"$directories"
  check "the file table holds the programs and the user guide" \
    diff <(printf '%s\n' "${programs[@]}" "User guide.txt" | sort) \
    <(table "$msi" File | cut -f3 | sort)
  check "64-bit components" test "$(table "$msi" Component | cut -f4 | sort -u)" = 256

  # The Start menu shortcut names the window and starts it on the default bench, with the icon.
  local shortcut
  shortcut=$(table "$msi" Shortcut)
  check "one shortcut" test "$(wc -l <<<"$shortcut")" = 1
  field() { cut -f "$1" <<<"$shortcut"; }
  local folder shortcut_name component arguments icon
  folder=$(field 2) shortcut_name=$(field 3) component=$(field 4) arguments=$(field 6) icon=$(field 9)
  check "in the Start menu" test "$folder" = ProgramMenuFolder
  check "named quillmark" test "$shortcut_name" = quillmark
  check "of the window's component" test \
    "$(table "$msi" Component | awk -F'\t' -v c="$component" '$1 == c {print $6}')" = quillmark.exe
  check "started on the default bench" test "$arguments" = --default-bench
  check "with the application icon" test "$icon" = quillmark.ico

  # The zip: the folder quillmark with the same files, the same bytes as in the MSI.
  check "the zip holds the folder quillmark with the same files" diff \
    <(printf 'quillmark/%s\n' "${programs[@]}" "User guide.txt" | sort) \
    <(unzip -Z1 "$zip" | grep -v '/$' | sort)
  local unpacked=$work/tables
  rm -rf "$unpacked"
  mkdir -p "$unpacked/zip" "$unpacked/msi"
  unzip -q "$zip" -d "$unpacked/zip"
  msiextract -C "$unpacked/msi" "$msi" >/dev/null
  for file in "${programs[@]}" "User guide.txt"; do
    check "$file is the same in the MSI and the zip" \
      cmp -s "$unpacked/zip/quillmark/$file" "$(find "$unpacked/msi" -name "$file" | head -1)"
  done
  check "the user guide has Windows' line ends" \
    test "$(grep -c $'\r$' "$unpacked/zip/quillmark/User guide.txt")" = \
    "$(wc -l <"$unpacked/zip/quillmark/User guide.txt")"
  local -A built=([quillmark.exe]=ui_win [quillmark-run.exe]=tools/runner
    [quillmark-log.exe]=tools/log_reader)
  for program in "${programs[@]}"; do
    local file=$unpacked/zip/quillmark/$program
    check "$program is stripped" \
      test "$(stat -c %s "$file")" -lt "$(stat -c %s "$build/${built[$program]}/$program")"
    check "$program names its version" grep -qx "$major.$minor.${patch:-0}.0" <(strings -el "$file")
    check "$program names itself" grep -qx "$program" <(strings -el "$file")
    check "$program holds no path of this build" not grep -q -F -e "$build" "$file"
  done
  finish
}

check_signed() {
  local keys=$work/signed
  rm -rf "$keys"
  mkdir -p "$keys"
  # A throw-away code-signing certificate and its key, in a PKCS#12 file with a password.
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=quillmark test signer' \
    -addext 'extendedKeyUsage=codeSigning' -addext 'keyUsage=digitalSignature' \
    -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -passout pass:throw-away \
    -out "$keys/signer.pfx"
  QUILL_SIGNING_CERTIFICATE=$keys/signer.pfx QUILL_SIGNING_PASSWORD=throw-away \
    "$source_dir/scripts/package-windows" --built --out "$keys/packages" "$build"

  local signed_msi=$keys/packages/$name-x64.msi signed_zip=$keys/packages/$name-x64-portable.zip
  verify() {
    osslsigncode verify -CAfile "$keys/cert.pem" -in "$1" >"$keys/verify.txt" 2>&1 &&
      grep -q 'Signature verification: ok' "$keys/verify.txt"
  }
  check "the MSI is signed" verify "$signed_msi"
  check "the unsigned MSI is not" not verify "$msi"
  unzip -q "$signed_zip" -d "$keys/zip"
  msiextract -C "$keys/msi" "$signed_msi" >/dev/null
  for program in "${programs[@]}"; do
    check "$program in the zip is signed" verify "$keys/zip/quillmark/$program"
    check "$program in the MSI is signed" verify "$(find "$keys/msi" -name "$program" | head -1)"
    check "the signer is the test's" grep -q 'quillmark test signer' "$keys/verify.txt"
  done
  # A signature that no longer matches the bytes is found out.
  cp "$keys/zip/quillmark/quillmark-log.exe" "$keys/changed.exe"
  printf 'X' | dd of="$keys/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
  check "a changed program fails the verification" not verify "$keys/changed.exe"
  # No certificate file: the script stops before it makes anything.
  check "a missing certificate stops the script" not env QUILL_SIGNING_CERTIFICATE="$keys/none.pfx" \
    "$source_dir/scripts/package-windows" --built --out "$keys/none" "$build"
  check "and makes nothing" test ! -e "$keys/none/$name-x64.msi"
  finish
}

[ "$step" = build ] && { build_packages; exit; }
[ "$step" = tables ] && { check_tables; exit; }
[ "$step" = signed ] && { check_signed; exit; }

# The Wine steps: simulated modules on COM ports of a prefix of this step's own.
if [ ! -x "$simulator" ]; then
  echo "SKIPPED: no native module simulator at '$simulator'"
  exit 77
fi
source "$source_dir/tests/support/wine_com_ports.sh"
# Wine makes no menu entries of the host's desktop for the prefix's shortcuts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$work/$step"
work=$work/$step
# The installation starts from a fresh prefix, whatever an earlier run left installed in it.
[ "$step" != install ] || rm -rf "$work/prefix"
rm -rf "$work/bench"
mkdir -p "$work/bench"
for ((i = 0; i < 3000; ++i)); do printf '%04d ' "$i"; done >"$work/update.bin"
serve_com_ports "$wine_run" "$simulator" "$work" 7 2
printf '[FilePath]\r\nPath=%s\r\nSleepTime=0\r\n[ATPort_First]\r\nnumber=7\r\n[ATPort_Second]\r\nnumber=8\r\n' \
  "$(windows_path "$work/update.bin")" >"$work/bench/ZEBL.ini"

run() {  # run FOLDER PROGRAM ARGS...: the output in $out (without CRs), the exit code in $code
  local folder=$1
  shift
  code=0
  (cd "$folder" && timeout 240 "$wine_run" "$@") >"$work/out.txt" 2>"$work/err.txt" || code=$?
  out=$(tr -d '\r' <"$work/out.txt")
  err=$(tr -d '\r' <"$work/err.txt")
  printf '%s\n' "$out" "$err" | sed '/^$/d'
}

# The runner updates both modules of the bench, and the log reader reads what went to module 1.
check_bench_run() {  # check_bench_run BENCH PROGRAM_FOLDER (a Windows path)
  local bench=$1 folder=$2
  rm -rf "$work/store"/COM*/update.bin "$bench"/AtLog_*.ini "$bench/runs.csv"
  run "$bench" "$folder\\quillmark-run.exe"
  check "the runner passes both modules" test "$code" = 0
  check "Module1 passes" grep -qx 'Module1 COM7 PASS' <<<"$out"
  check "Module2 passes" grep -qx 'Module2 COM8 PASS' <<<"$out"
  for com in COM7 COM8; do
    check "$com stored the update file" cmp -s "$work/update.bin" "$work/store/$com/update.bin"
  done
  check "the runs are recorded in the bench" test "$(grep -c ',0,,' "$bench/runs.csv")" = 2
  run "$bench" "$folder\\quillmark-log.exe" --module 1 --tail 2
  check "the log reader reads the bench's log" test "$code" = 0
  check "the last blocks are AT+CBAPPS and its answer" test "$out" = \
    "$(printf '%s\n' "$(sed -n '1p' <<<"$out" | cut -c1-21)sent      AT+CBAPPS\\r\\n" \
      "$(sed -n '2p' <<<"$out" | cut -c1-21)received  \\r\\nOK\\r\\n")"
  run "$work" "$folder\\quillmark-log.exe" --dir "$(windows_path "$bench")" --module 2 --tail 1
  check "the log reader reads a bench named with --dir" grep -q 'received  \\r\\nOK\\r\\n$' <<<"$out"
}

# Runs a program in a pseudo-terminal, which Wine turns into the program's console: what the
# console showed, without the terminal's control sequences, in $out, the exit code in $code.
console_run() {  # console_run FOLDER PROGRAM ARGS...
  local folder=$1
  shift
  code=0
  (cd "$folder" && script -qec "stty cols 200; $(printf '%q ' timeout 240 "$wine_run" "$@")" \
    "$work/console.txt" </dev/null >/dev/null) || code=$?
  # Wine draws a run of spaces as "erase to the end of the line, move right".
  out=$(perl -pe 's/\e\[K\e\[(\d+)C/" " x $1/ge; s/\e\[[0-9;?]*[A-Za-z]//g; s/\r//g' \
    "$work/console.txt")
}

# The files of the prefix's drive C:, with the temporary ones left out.
files_of_drive_c() {
  (cd "$WINEPREFIX/drive_c" && find . -type f ! -path '*/Temp/*' ! -path './windows/temp/*' | sort)
}

uninstall_entries() {
  "$wine_run" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r'
}

check_install() {
  local program_files='C:\Program Files\quillmark'
  local installed=$WINEPREFIX/drive_c/Program\ Files/quillmark
  files_of_drive_c >"$work/files-before.txt"

  run "$work" msiexec /i "$(windows_path "$msi")" /qn
  check "msiexec installs the package" test "$code" = 0
  for file in "${programs[@]}" "User guide.txt"; do
    check "$file is installed" cmp -s "$packages/stage/quillmark/$file" "$installed/$file"
  done
  # Wine puts the per-machine shortcut in the user's Start menu; Windows in every user's.
  local shortcut
  shortcut=$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/quillmark.lnk' | head -1)
  check "a Start menu shortcut" test -n "$shortcut"
  check "the shortcut starts the installed window" grep -q -F 'C:\Program Files\quillmark\quillmark.exe' \
    <(strings "${shortcut:-/dev/null}")
  check "the shortcut starts it on the default bench" grep -qx -e '--default-bench' \
    <(strings -el "${shortcut:-/dev/null}")
  local entries
  entries=$(uninstall_entries)
  check "an uninstall entry" grep -q 'DisplayName    REG_SZ    quillmark$' <<<"$entries"
  check "of this version" grep -q "DisplayVersion    REG_SZ    $product\$" <<<"$entries"
  check "that tells where it is installed" \
    grep -q -F 'InstallLocation    REG_SZ    C:\Program Files\quillmark\' <<<"$entries"

  # The installed programs answer as on Linux, on the standard output and error.
  run "$work" "$program_files\\quillmark-run.exe" --version
  check "the runner's version" test "$code/$out" = "0/quillmark-run $version"
  run "$work" "$program_files\\quillmark-log.exe" --help
  check "the log reader's help" test "$code/$(head -1 <<<"$out")" = \
    "0/Usage: quillmark-log [-C BENCH] [--module N] [--tail K] [--raw]"
  run "$work" "$program_files\\quillmark.exe" --version
  check "the window's version" test "$code/$out" = "0/quillmark $version"
  run "$work" "$program_files\\quillmark-run.exe" --frobnicate
  check "a bad option is an error on the standard error" test \
    "$code/$out/$(head -1 <<<"$err")" = "2//quillmark-run: unknown option '--frobnicate'"
  run "$work" "$program_files\\quillmark-log.exe" --module 9
  check "the log reader's bad argument" test "$code/$out" = "2/"
  run "$work/bench" "$program_files\\quillmark-log.exe"
  check "the log reader finds no log in a new bench" test "$code" = 1

  # The installed programs work in a bench folder outside Program Files, and write nothing there.
  check_bench_run "$work/bench" "$program_files"
  check "the program folder is unchanged" diff <(cd "$installed" && ls -A | sort) \
    <(printf '%s\n' "${programs[@]}" "User guide.txt" | sort)

  # A newer version replaces this one; this one is then refused.
  run "$work" msiexec /i "$(windows_path "$newer_msi")" /qn
  check "the newer version installs over this one" test "$code" = 0
  entries=$(uninstall_entries)
  check "one uninstall entry remains" test "$(grep -c 'DisplayName    REG_SZ    quillmark$' <<<"$entries")" = 1
  check "of the newer version" grep -q "DisplayVersion    REG_SZ    $newer\$" <<<"$entries"
  run "$work" msiexec /i "$(windows_path "$msi")" /qn
  check "the older version is refused" test "$code" != 0
  check "and the newer one stays" grep -q "DisplayVersion    REG_SZ    $newer\$" <(uninstall_entries)
  check "with its files" test -f "$installed/quillmark-run.exe"
  check_bench_run "$work/bench" "$program_files"

  # Removing it leaves the prefix's files as they were before the first installation.
  run "$work" msiexec /x "$(windows_path "$newer_msi")" /qn
  check "msiexec removes the package" test "$code" = 0
  check "every installed file is removed" diff "$work/files-before.txt" <(files_of_drive_c)
  check "the program folder is removed" test ! -e "$installed"
  check "the uninstall entry is removed" not grep -q 'REG_SZ    quillmark$' <(uninstall_entries)
  check "the bench keeps its files" test -f "$work/bench/runs.csv" -a -f "$work/bench/AtLog_1.ini"
  finish
}

check_portable() {
  # Unpacked into a folder that holds a bench's ZEBL.ini already: the folder is the bench.
  unzip -q -o "$zip" -d "$work/portable"
  local folder=$work/portable/quillmark
  cp "$work/bench/ZEBL.ini" "$folder/ZEBL.ini"
  check_bench_run "$folder" "$(windows_path "$folder")"
  check "the run is recorded beside the programs" test -f "$folder/runs.csv" -a -f "$folder/AtLog_2.ini"
  # A newer zip unpacked over it replaces the programs and keeps the bench's files.
  cp "$folder/ZEBL.ini" "$work/settings.ini"
  unzip -q -o "$zip" -d "$work/portable"
  check "the settings survive a new unpacking" cmp -s "$work/settings.ini" "$folder/ZEBL.ini"
  check "so does the record of runs" test "$(grep -c ',0,,' "$folder/runs.csv")" = 2

  # Started in a console (Wine makes one of a pseudo-terminal) the runner shows its results there,
  # and so do the log reader's help and errors, with the same exit codes.
  rm -f "$work/store/COM7/update.bin"
  console_run "$folder" "$(windows_path "$folder")\\quillmark-run.exe" 1
  check "the runner ran in Wine's console" grep -q $'\e\\[?25l' "$work/console.txt"
  check "the runner passes in a console" test "$code" = 0
  check "its result row is on the console" grep -qx 'Module1 COM7 PASS' <<<"$out"
  check "its store has the update file" cmp -s "$work/update.bin" "$work/store/COM7/update.bin"
  console_run "$folder" "$(windows_path "$folder")\\quillmark-log.exe" --help
  check "the log reader's help on the console" test "$code/$(grep -m1 '^Usage' <<<"$out")" = \
    "0/Usage: quillmark-log [-C BENCH] [--module N] [--tail K] [--raw]"
  console_run "$folder" "$(windows_path "$folder")\\quillmark-log.exe" --module 3
  check "a missing log is told on the console" test "$code/$(grep -c 'AtLog_3.ini' <<<"$out")" = 1/1
  finish
}

case $step in
  install) check_install ;;
  portable) check_portable ;;
  *) echo "unknown step $step" >&2; exit 2 ;;
esac
