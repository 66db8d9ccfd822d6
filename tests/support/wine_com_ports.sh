# Simulated modules on COM ports under Wine, for the tests of Windows programs (sourced by bash).
# The module simulator of a native build serves pseudo-terminals; a Wine prefix of the test's own
# maps them to COM ports (HKLM\Software\Wine\Ports, read when the prefix's server starts).
#
#   serve_com_ports WINE_RUN SIMULATOR WORK FIRST COUNT [--fault COM<n>:<fault>]...
#
# Serves COM<FIRST>..COM<FIRST+COUNT-1> with the store in WORK/store, in the prefix WORK/prefix
# (exported as WINEPREFIX). The server and the simulator end when the calling script exits.
#
#   start_simulated_modules SIMULATOR WORK FIRST COUNT [--fault COM<n>:<fault>]...
#
# Only the modules: their links COM<n> in WORK/ports, for a program that maps them itself (the
# window tests' wine-x-run --com-ports WORK/ports). The simulator ends when the calling script exits.

wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
simulator_pid=

stop_simulated_modules() {
  if [ -n "$simulator_pid" ]; then
    kill "$simulator_pid" 2>/dev/null && wait "$simulator_pid" 2>/dev/null
  fi
  simulator_pid=
}

stop_com_ports() {
  stop_simulated_modules
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
}

# Polls for a condition, up to a generous deadline.
wait_for() {
  local deadline=$((SECONDS + 60))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

start_simulated_modules() {
  local simulator=$1 work=$2 first=$3 count=$4
  shift 4
  trap stop_simulated_modules EXIT
  rm -rf "$work/ports" "$work/store"
  mkdir -p "$work"
  "$simulator" --ports "$work/ports" --store "$work/store" --first "$first" --count "$count" "$@" \
    >"$work/simulator.log" 2>&1 &
  simulator_pid=$!
  local last=$((first + count - 1))
  wait_for test -L "$work/ports/COM$last" || {
    echo "the simulator made no ports:"
    cat "$work/simulator.log"
    return 1
  }
}

serve_com_ports() {
  local wine_run=$1 simulator=$2 work=$3 first=$4 count=$5
  shift 5
  export WINEPREFIX=$work/prefix
  start_simulated_modules "$simulator" "$work" "$first" "$count" "$@" || return 1
  trap stop_com_ports EXIT
  local last=$((first + count - 1))
  "$wine_run" reg delete 'HKLM\Software\Wine\Ports' /f >/dev/null 2>&1 || true
  local n
  for n in $(seq "$first" "$last"); do
    "$wine_run" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ \
      /d "$(readlink "$work/ports/COM$n")" /f >/dev/null
  done
  # The ports are mapped when the server starts again. It is started apart from the tests' output
  # and kept until the end; so are the prefix's own processes, which would otherwise keep the
  # output of the first program that started them open.
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w || true
  "$wineserver" -p </dev/null >/dev/null 2>&1
  "$wine_run" cmd /c exit </dev/null >/dev/null 2>&1
}

# A path of this machine as Windows programs under Wine see it (drive Z: is the root folder).
windows_path() {
  echo "Z:${1//\//\\}"
}
