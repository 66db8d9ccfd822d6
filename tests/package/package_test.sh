#!/usr/bin/env bash
# The Debian packages, built by scripts/package and tried unpacked (never installed):
#   package_test.sh build|contents|update <work folder> <source folder> <version>
# build makes the packages in <work>/build (the fixture of the other two); contents checks what
# the packages hold; update has the unpacked runner write a file into two unpacked simulated
# modules. Exit 77 (skipped) when lintian or dpkg-deb is missing.
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

case $step in
  build) build_packages ;;
  contents) check_contents ;;
  update) update_two_modules ;;
  *) fail "unknown step $step" ;;
esac
echo "PASSED: $step"
