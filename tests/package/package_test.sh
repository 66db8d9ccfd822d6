#!/usr/bin/env bash
# The Debian packages, built by scripts/package and tried unpacked (never installed):
#   package_test.sh build|contents|update|menu <work folder> <source folder> <version>
# build makes the packages in <work>/build (the fixture of the others); contents checks what the
# packages hold; update has the unpacked runner write a file into two unpacked simulated modules;
# menu starts the unpacked window as the desktop entry says, as a normal user in a fresh home under
# Xvfb, and runs two simulated modules from it: the bench's files are made in ~/quillmark and
# nowhere else. Exit 77 (skipped) when a tool a step needs is missing.
set -euo pipefail
step=$1 work=$2 source_dir=$3 version=$4
build=$work/build

for tool in lintian dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is missing (scripts/setup installs it)"
    exit 77
  fi
done

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Unpacks both packages into a fresh folder of this step's own.
unpack() {
  root=$work/$step/root
  rm -rf "${work:?}/$step"
  mkdir -p "$root"
  for deb in "$build/quillmark_${version}_"*.deb "$build/quillmark-sim_${version}_"*.deb; do
    [ -f "$deb" ] || fail "no package $deb: the build step failed"
    dpkg-deb -x "$deb" "$root"
  done
}

build_packages() {
  # scripts/package fails on lintian's errors; lintian.txt keeps the report.
  "$source_dir/scripts/package" "$build"
  ! grep '^E:' "$build/lintian.txt" || fail "lintian reports errors"
}

# The files a package holds, one a line, sorted.
files_of() {
  dpkg-deb -c "$1" | awk '{print $6}' | grep -v '/$' | cut -c3- | sort
}

check_contents() {
  unpack
  local window=(
    usr/bin/quillmark usr/bin/quillmark-run usr/bin/quillmark-ports usr/bin/quillmark-log
    usr/share/applications/quillmark.desktop
    usr/share/metainfo/org.quillmark.quillmark.metainfo.xml
    usr/share/doc/quillmark/copyright usr/share/doc/quillmark/changelog.gz
    usr/share/doc/quillmark/70-quillmark.rules.example
  )
  for size in 16 24 32 48 64 128 256; do
    window+=("usr/share/icons/hicolor/${size}x${size}/apps/quillmark.png")
  done
  for program in quillmark quillmark-run quillmark-ports quillmark-log; do
    window+=("usr/share/man/man1/$program.1.gz")
  done
  local simulator=(
    usr/bin/quillmark-sim usr/share/man/man1/quillmark-sim.1.gz
    usr/share/doc/quillmark-sim/copyright usr/share/doc/quillmark-sim/changelog.gz
  )
  diff <(printf '%s\n' "${window[@]}" | sort) <(files_of "$build/quillmark_${version}_"*.deb) ||
    fail "package quillmark holds other files than expected (< expected, > found)"
  diff <(printf '%s\n' "${simulator[@]}" | sort) <(files_of "$build/quillmark-sim_${version}_"*.deb) ||
    fail "package quillmark-sim holds other files than expected (< expected, > found)"

  for program in quillmark quillmark-run quillmark-ports quillmark-log quillmark-sim; do
    local binary=$root/usr/bin/$program
    [ "$("$binary" --version)" = "$program $version" ] || fail "$program --version"
    ! readelf -d "$binary" | grep -E 'RPATH|RUNPATH' || fail "$program keeps a library path"
    ! grep -F -l -e "$source_dir" -e "$build" "$binary" || fail "$program holds a path of this build"
  done
  for size in 16 24 32 48 64 128 256; do
    file "$root/usr/share/icons/hicolor/${size}x${size}/apps/quillmark.png" |
      grep -q "PNG image data, $size x $size" || fail "the ${size}x${size} icon has another size"
  done
  for page in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/doc/*/changelog.gz; do
    gzip -t "$page" || fail "$page is not a gzip file"
  done
  zcat "$root/usr/share/doc/quillmark/changelog.gz" | head -1 | grep -qF "quillmark ($version)" ||
    fail "the changelog's newest entry is not version $version"

  desktop-file-validate "$root/usr/share/applications/quillmark.desktop" ||
    fail "desktop-file-validate (package desktop-file-utils)"
  appstreamcli validate --no-net "$root/usr/share/metainfo/org.quillmark.quillmark.metainfo.xml" ||
    fail "appstreamcli validate (package appstream)"

  # Dependencies read from the programs, and the display plugins Qt loads at run time.
  local depends
  depends=$(dpkg-deb -f "$build/quillmark_${version}_"*.deb Depends)
  for package in qt6-qpa-plugins libqt6widgets6 libudev1 libc6; do
    [[ ", $depends," == *", $package"[\ ,]* ]] || fail "quillmark does not depend on $package"
  done
}

update_two_modules() {
  unpack
  local bench=$work/$step/bench runtime=$work/$step/runtime
  mkdir -p "$bench" "$runtime"
  chmod 700 "$runtime"
  # Two packets of data, the second one short, in a pattern that shows shifted or lost bytes.
  for ((i = 0; i < 2600; ++i)); do printf '%04d ' "$i"; done >"$bench/update.bin"
  cat >"$bench/ZEBL.ini" <<EOF
[FilePath]
Path=$bench/update.bin
SleepTime=0
[ATPort_First]
number=1
[ATPort_Second]
number=2
EOF

  cd "$bench"
  export XDG_RUNTIME_DIR=$runtime
  "$root/usr/bin/quillmark-sim" --ports "$bench/ports" --store "$bench/store" --count 2 \
    >"$bench/sim.txt" 2>&1 &
  local sim=$!
  trap 'kill $sim 2>/dev/null || true' EXIT
  # The simulator says "ready" once both modules are there (a generous deadline, not a timing).
  for ((tries = 0; tries < 1200; ++tries)); do
    grep -qx ready "$bench/sim.txt" && break
    kill -0 $sim 2>/dev/null || break
    sleep 0.1
  done
  grep -qx ready "$bench/sim.txt" || fail "the simulator did not get ready: $(cat "$bench/sim.txt")"

  local status=0
  "$root/usr/bin/quillmark-run" >"$bench/run.txt" 2>&1 || status=$?
  cat "$bench/run.txt"
  [ $status -eq 0 ] || fail "quillmark-run ended with $status"
  for com in COM1 COM2; do
    cmp "$bench/update.bin" "$bench/store/$com/update.bin" || fail "$com stored another file"
  done

  kill -TERM $sim
  status=0
  wait $sim || status=$?
  trap - EXIT
  [ $status -eq 0 ] || fail "the simulator ended with $status"
  if [ -L "$bench/ports/COM1" ] || [ -L "$bench/ports/COM2" ]; then
    fail "the simulator left its ports behind"
  fi
}

# The command of the desktop entry, with the unpacked program in place of the installed one.
menu_command() {
  local exec
  exec=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/quillmark.desktop")
  [[ $exec != *%* ]] || fail "the desktop entry passes field codes: $exec"
  read -ra command <<<"$exec"
  [ -x "$root/usr/bin/${command[0]}" ] || fail "the desktop entry starts ${command[0]}"
  command[0]=$root/usr/bin/${command[0]}
}

# The menu's start of the window as the user of the session: its working folder is the home, as a
# desktop's launcher leaves it. Ends once the main dialog is shown; its window id is in $window.
start_from_menu() {
  (cd "$HOME" && exec "${command[@]}") >>"$session/window.txt" 2>&1 &
  window_pid=$!
  window=
  for ((tries = 0; tries < 1200; ++tries)); do
    window=$(xdotool search --onlyvisible --pid $window_pid --name '^VX4410 Quillmark' 2>/dev/null |
      head -1) && [ -n "$window" ] && return
    kill -0 $window_pid 2>/dev/null || break
    sleep 0.1
  done
  fail "the window did not show its dialog: $(cat "$session/window.txt")"
}

# Escape is a close request; one that meets a module still finishing is refused with a box, which
# Escape acknowledges (never Enter: a stray one would be ALL START), and the request is repeated.
# The window must end with 0.
close_window() {
  local status=0 box
  for ((tries = 0; tries < 600; ++tries)); do
    kill -0 $window_pid 2>/dev/null || break
    box=$(xdotool search --onlyvisible --pid $window_pid --name '^warning$' 2>/dev/null | head -1) ||
      true
    xdotool windowfocus --sync "${box:-$window}" key Escape 2>/dev/null || true
    sleep 0.1
  done
  kill -0 $window_pid 2>/dev/null && kill -KILL $window_pid
  wait $window_pid || status=$?
  [ $status -eq 0 ] || fail "the window ended with $status: $(cat "$session/window.txt")"
}

# The passes recorded in the default bench's runs.csv (result code 0, the eleventh column).
passes() {
  awk -F, 'NR > 1 && $11 == "0"' "$HOME/quillmark/runs.csv" 2>/dev/null | wc -l
}

# As the session's user (see menu_start): two starts from the menu, the second one runs two
# simulated modules with ALL START.
menu_session() {
  session=$work/menu root=$work/menu/root window_pid= sim=
  menu_command
  exec 3>"$session/display"
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
  local xvfb=$!
  trap 'kill $window_pid $sim $xvfb 2>/dev/null || true' EXIT
  exec 3>&-
  for ((tries = 0; tries < 600; ++tries)); do
    [ -s "$session/display" ] && break
    sleep 0.1
  done
  export DISPLAY=:$(head -1 "$session/display")
  [ "$DISPLAY" != : ] || fail "Xvfb did not start"

  # The first start makes the default bench.
  start_from_menu
  [ -d "$HOME/quillmark" ] || fail "the first start made no ~/quillmark"
  close_window

  # The bench engineer's part: simulated modules in that bench, and its settings.
  "$root/usr/bin/quillmark-sim" -C "$HOME/quillmark" --store store --count 2 >"$session/sim.txt" \
    2>&1 &
  sim=$!
  for ((tries = 0; tries < 1200; ++tries)); do
    grep -qx ready "$session/sim.txt" && break
    kill -0 $sim 2>/dev/null || break
    sleep 0.1
  done
  grep -qx ready "$session/sim.txt" || fail "the simulator did not get ready: $(cat "$session/sim.txt")"
  local coms
  mapfile -t coms < <(sed -n 's/^COM\([0-9]*\) .*/\1/p' "$session/sim.txt")
  for ((i = 0; i < 2600; ++i)); do printf '%04d ' "$i"; done >"$HOME/quillmark/update.bin"
  printf '[FilePath]\r\nPath=update.bin\r\nSleepTime=0\r\n[ATPort_First]\r\nnumber=%s\r\n[ATPort_Second]\r\nnumber=%s\r\n' \
    "${coms[0]}" "${coms[1]}" >"$HOME/quillmark/ZEBL.ini"

  # The operator's part: the window from the menu, Enter (ALL START), both modules written.
  start_from_menu
  xdotool windowfocus --sync "$window" key Return || fail "xdotool could not press Enter"
  for ((tries = 0; tries < 1200; ++tries)); do
    [ "$(passes)" = 2 ] && break
    sleep 0.1
  done
  close_window
  kill -TERM $sim
  wait $sim || fail "the simulator ended with an error: $(cat "$session/sim.txt")"
  kill $xvfb 2>/dev/null || true
  trap - EXIT

  for com in "${coms[@]}"; do
    cmp "$HOME/quillmark/update.bin" "$HOME/quillmark/store/COM$com/update.bin" ||
      fail "COM$com stored another file"
  done
  [ "$(passes)" = 2 ] || fail "runs.csv: $(cat "$HOME/quillmark/runs.csv")"
  for file in ZEBL.ini ZEBL.lock ports/numbers AtLog_1.ini AtLog_2.ini runs.csv; do
    [ -e "$HOME/quillmark/$file" ] || fail "~/quillmark/$file is missing"
  done
  local stray
  stray=$(find "$HOME" -path "$HOME/quillmark" -prune -o \( -name 'ZEBL.*' -o -name ports -o \
    -name 'AtLog_*' -o -name runs.csv -o -name store \) -print)
  [ -z "$stray" ] || fail "bench files outside ~/quillmark: $stray"
}

# A fresh home for a normal user in group dialout: as root, a user id of its own; otherwise the
# user running the test. The session runs with the environment a desktop gives a program.
menu_start() {
  for tool in Xvfb xdotool setpriv; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIPPED: $tool is missing"
      exit 77
    fi
  done
  unpack
  local home=$work/$step/home runtime=$work/$step/runtime
  mkdir -p "$home" "$runtime"
  chmod 700 "$home" "$runtime"
  local as_user=()
  if [ "$(id -u)" = 0 ]; then
    local uid=47113
    chown "$uid:$uid" "$home" "$runtime"
    chmod 777 "$work/$step"
    as_user=(setpriv --reuid="$uid" --regid="$uid" --groups="$(getent group dialout | cut -d: -f3)"
      --inh-caps=-all)
  fi
  "${as_user[@]}" env -i HOME="$home" XDG_RUNTIME_DIR="$runtime" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    bash "$0" menu-session "$work" "$source_dir" "$version"
}

case $step in
  build) build_packages ;;
  contents) check_contents ;;
  update) update_two_modules ;;
  menu) menu_start ;;
  menu-session) menu_session ;;
  *) fail "unknown step $step" ;;
esac
echo "PASSED: $step"
