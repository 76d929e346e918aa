#!/usr/bin/env bash
# The demonstration: the real MarrowbankServer.exe installed as a service under Wine's service manager, a
# simulated fingerprint disk plugged in, the desktop program started in the console session, the service
# stopped and removed again. Prints a timeline; exits non-zero at the first step that does not happen.
#
#   scripts/demo.sh [--no-build] [--keep] [--unbounded] [--scenario FILE] [--build-dir DIR] [--out DIR]
#
#   --no-build       use the build as it is (it must be there); default: install what is missing and build
#   --keep           leave the prefix, its service manager, the X display and the keeper running afterwards,
#                    for poking around (the script prints how to reach them and how to end them)
#   --unbounded      never give up waiting for a step (say so once at its usual bound instead): the test's
#                    own time-out ends a run that is stuck, so a slow machine never fails a step that happens
#   --scenario FILE  the simulated device (format: standins/t3fp_sim/README.md); default demo/fingerprint-disk.txt
#   --build-dir DIR  the build tree to take the programs from; default build/default where the host runs 32-bit
#                    programs natively, build/release (what ships) where it runs them under QEMU's user-mode
#                    emulator (the demonstration then runs inside scripts/i386-run.sh's namespace), and
#                    build/x64 (the 64-bit test build, in a 64-bit prefix) only where neither works
#   --out DIR        where the fresh prefix, the logs and the screenshot go; default build/demo
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

all_args=("$@")
build=1 keep=0 unbounded=0
scenario=$root/demo/fingerprint-disk.txt
build_dir=""
out_dir=$root/build/demo
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0 ;;
    --keep) keep=1 ;;
    --unbounded) unbounded=1 ;;
    --scenario) scenario=$(realpath "$2"); shift ;;
    --build-dir) build_dir=$(realpath -m "$2"); shift ;;
    --out) out_dir=$(realpath -m "$2"); shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
[ -f "$scenario" ] || { echo "demo: no scenario file $scenario" >&2; exit 2; }
source "$root/scripts/wine-env.sh"

# ---- timeline ------------------------------------------------------------------------------------------
# Carried into the emulating namespace, so that the timeline goes on where it was.
start_ns=${MARROWBANK_DEMO_START_NS:-$(date +%s%N)}
export MARROWBANK_DEMO_START_NS=$start_ns
# Under QEMU's emulator every step takes several times longer: the bounds grow with it (see wait_for).
bound_scale=1
[ -z "${MARROWBANK_I386_NAMESPACE:-}" ] || bound_scale=4
stamp() { local ms=$(( ($(date +%s%N) - start_ns) / 1000000 )); printf '[%3d.%01ds]' $((ms / 1000)) $((ms % 1000 / 100)); }
step() { printf '%s %s\n' "$(stamp)" "$*"; }
show() { sed 's/\r$//; s/^/            | /'; }
fail() {
  printf '%s FAILED: %s\n' "$(stamp)" "$1" >&2
  printf '            expected: %s\n' "$2" >&2
  printf '            seen:     %s\n' "$3" >&2
  exit 1
}
# wait_for SECONDS COMMAND...: polls every 0.2 s until COMMAND succeeds (SECONDS times bound_scale); status 1
# when time runs out, or
# with --unbounded one line on standard error at that point and the wait goes on.
wait_for() {
  local seconds=$(( $1 * bound_scale )) told=0; shift
  local deadline=$(( $(date +%s%N) + seconds * 1000000000 ))
  until "$@"; do
    if [ "$(date +%s%N)" -ge "$deadline" ]; then
      [ "$unbounded" = 1 ] || return 1
      [ "$told" = 1 ] || printf '%s still waiting after %s s: %s\n' "$(stamp)" "$seconds" "$*" >&2
      told=1
    fi
    sleep 0.2
  done
}

# ---- which architecture --------------------------------------------------------------------------------
# The shipped 32-bit build wherever it runs, natively or under emulation; the 64-bit test build of the same
# code only where neither works. The host is asked after the install, so that a fresh machine finds Wine.
preset=""
if [ -z "$build_dir" ]; then
  if [ "$build" = 1 ]; then
    step "Installing what is missing"
    "$root/scripts/install-deps.sh"
  fi
  probe_status=0
  probe=$("$root/scripts/host-probe.sh") || probe_status=$?
  step "$probe"
  case $probe_status in
    0) preset=default ;;
    3) preset=release ;;
    *) preset=x64 ;;
  esac
  build_dir=$root/build/$preset
fi

# ---- build ---------------------------------------------------------------------------------------------
if [ "$build" = 1 ]; then
  [ -n "$preset" ] || { echo "demo: --build-dir needs --no-build (build that tree first)" >&2; exit 2; }
  step "Building (cmake --preset $preset)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
fi
arch=$(wine_arch_of "$build_dir") || fail "a configured build tree" "$build_dir/wine-arch" "none"
# A 32-bit tree on a host that runs 32-bit programs only under emulation: the rest runs inside the namespace
# of scripts/i386-run.sh (the same options; a later --build-dir wins over an earlier one).
source "$root/scripts/i386-env.sh"
if [ "$arch" = win32 ] && [ -z "${MARROWBANK_I386_NAMESPACE:-}" ] && ! i386_runs_natively; then
  step "Going on inside scripts/i386-run.sh's namespace, where 32-bit programs run under QEMU's emulator"
  exec "$root/scripts/i386-run.sh" "$0" "${all_args[@]}" --no-build --build-dir "$build_dir"
fi
wine_use_arch "$arch"
if [ "$arch" = win64 ]; then
  bits=64
  step "Architecture: x86_64, the 64-bit test build in $build_dir (never shipped; it proves the same code)"
else
  bits=32
  if [ -n "${MARROWBANK_I386_NAMESPACE:-}" ]; then
    step "Architecture: i686, the shipped 32-bit build in $build_dir, emulated by $MARROWBANK_I386_NAMESPACE" \
         "(the behaviour is the binary's own; its timings are the emulator's)"
  else
    step "Architecture: i686, the shipped 32-bit build in $build_dir, run natively"
  fi
fi
product=$build_dir/service/MarrowbankServer.exe
for f in "$product" "$build_dir/standins/t3fp_sim/t3FPDll.dll" "$build_dir/standins/jmusb_stub/complete/JMUsbDll.dll" \
         "$build_dir/standins/desktop_app/Marrowbank.exe" "$build_dir/standins/keeper/keeper.exe" \
         "$build_dir/tools/dbwin.exe" "$build_dir/tools/screenshot.exe" "$build_dir/tools/proclist.exe"; do
  [ -f "$f" ] || fail "the build is not there" "$f" "no such file (build first: run without --no-build)"
done

# ---- a fresh prefix with an X display of its own ---------------------------------------------------------
export WINEPREFIX=$out_dir/prefix WINEDEBUG=-all LANG=zh_CN.UTF-8
wine() { env LC_ALL=zh_CN.UTF-8 wine "$@"; }
pids=()
cleanup() {
  local status=$?
  if [ "$keep" = 0 ] || [ $status -ne 0 ]; then
    wineserver -k 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX" "$out_dir/xvfb.display" "$out_dir/debug-output.txt" "$out_dir/desktop-program.png" \
       "$out_dir/wine-logs"
mkdir -p "$out_dir"
step "Creating a fresh $bits-bit Wine prefix in $WINEPREFIX (wineboot, about 10 s)..."
logged "$out_dir/wine-logs/wineboot.log" wineboot -i ||
  fail "a fresh prefix" "wineboot -i succeeds" "it failed (its output above and in $out_dir/wine-logs/wineboot.log)"
wineserver -w
# Without a window manager on the X display, windows would show no title bar: run the prefix's programs
# in a Wine virtual desktop, which draws the frames itself.
logged "$out_dir/wine-logs/wineboot.log" wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
logged "$out_dir/wine-logs/wineboot.log" wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
wineserver -k 2>/dev/null || true  # let a freshly booted prefix settle: restart it once
wineserver -w

: > "$out_dir/xvfb.display"
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$out_dir/xvfb.display" </dev/null >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -s "$out_dir/xvfb.display" || fail "an X display for the prefix" "Xvfb prints its display number" "nothing"
export DISPLAY=":$(tr -dc 0-9 < "$out_dir/xvfb.display")"
wineserver -p </dev/null >/dev/null 2>&1
wine "$build_dir/standins/keeper/keeper.exe" </dev/null >/dev/null 2>&1 &
pids+=($!)
step "X display $DISPLAY (Xvfb) and an idle keeper process are up (Wine ends services once no ordinary process is left)"

# ---- the installation, as a user would have it ----------------------------------------------------------
install_win='C:\Program Files\Marrowbank'
install_dir=$WINEPREFIX/drive_c/Program\ Files/Marrowbank
mkdir -p "$install_dir/language"
cp "$product" "$build_dir/standins/t3fp_sim/t3FPDll.dll" "$build_dir/standins/jmusb_stub/complete/JMUsbDll.dll" \
   "$build_dir/standins/desktop_app/Marrowbank.exe" "$install_dir/"
cp "$root/demo/ModeConfig.ini" "$install_dir/language/ModeConfig.ini"
step "Installed in $install_win:"
(cd "$install_dir" && ls -1 MarrowbankServer.exe t3FPDll.dll JMUsbDll.dll Marrowbank.exe language/ModeConfig.ini) | show
step "language\\ModeConfig.ini turns on polling: under Wine the device-arrival notification never reaches a"
step "service, so this demonstration shows the polling road (the worker's timer) instead"
sed '/^;/d' "$install_dir/language/ModeConfig.ini" | show

# Debug output of every process, as debugging tools read it.
wine "$build_dir/tools/dbwin.exe" --seconds 600 </dev/null >"$out_dir/debug-output.txt" 2>&1 &
pids+=($!)

# ---- run by hand ----------------------------------------------------------------------------------------
service_state() { wine sc query MarrowbankServer 2>/dev/null | tr -d '\r' | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
state_is() { [ "$(service_state)" = "$1" ]; }

step "Running \"$install_win\\MarrowbankServer.exe\" by hand, as an administrator would (service not installed yet);"
step "waiting (up to $((20 * bound_scale)) s) for it to install and start its service..."
set +e; wine "$install_win\\MarrowbankServer.exe" </dev/null >/dev/null 2>&1; rc=$?; set -e
[ $rc -eq 0 ] || fail "the installer run ends with exit code 0" "exit code 0" "exit code $rc"
wait_for 20 state_is RUNNING || fail "the service installed and started" "STATE RUNNING" "$(service_state)"
step "The service is installed and RUNNING:"
wine sc query MarrowbankServer 2>/dev/null | grep -E 'SERVICE_NAME|TYPE|STATE' | show
step "Its registered configuration:"
wine reg query 'HKLM\System\CurrentControlSet\Services\MarrowbankServer' 2>/dev/null \
  | grep -E 'ImagePath|Type|Start|ErrorControl|ObjectName|Description' | iconv -f GBK -t UTF-8 2>/dev/null | show
service_pid=$(wine "$build_dir/tools/proclist.exe" MarrowbankServer.exe 2>/dev/null | tr -d '\r' | awk 'NR==1{print $1}')
step "Service process: pid $service_pid"

# ---- plug a simulated device ----------------------------------------------------------------------------
step "Plugging a simulated fingerprint disk (scenario $(basename "$scenario") -> t3fp-scenario.txt beside the SDK):"
grep -v '^#' "$scenario" | sed '/^\s*$/d' | show
cp "$scenario" "$install_dir/t3fp-scenario.txt"
starts=$install_dir/Marrowbank-starts.log
step "Waiting (up to $((20 * bound_scale)) s) for the service to start the desktop program..."
wait_for 20 test -s "$starts" || fail "the desktop program started" "a line in Marrowbank-starts.log" "no start in $((20 * bound_scale)) s"
step "The desktop program started:"
show < "$starts"
app_line=$(tr -d '\r' < "$starts" | head -n1)
case "$app_line" in
  *"session=1"*) ;;
  *) fail "the program runs in the console session" "session=1" "$app_line" ;;
esac
case "$app_line" in
  *"cmdline=\"$install_win\\Marrowbank.exe\""*) ;;
  *) fail "the quoted full path as its command line" "cmdline=\"$install_win\\Marrowbank.exe\"" "$app_line" ;;
esac
debug_seen() { grep -q 'CreateProcessAsUser OK!' "$out_dir/debug-output.txt"; }
wait_for 5 debug_seen || fail "the launcher's debug line" "CreateProcessAsUser OK!\\r\\n" "$(tail -n3 "$out_dir/debug-output.txt")"
step "Debug output (read through the DBWIN buffer):"
grep 'CreateProcessAsUser' "$out_dir/debug-output.txt" | show
step "The SDK calls the service made (last polling pass, from t3fp-calls.log):"
tr -d '\r' < "$install_dir/t3fp-calls.log" | awk '/^vsRefreshDeviceList/{block=""} {block=block $0 "\n"} END{printf "%s", block}' | show
wine "$build_dir/tools/proclist.exe" Marrowbank.exe 2>/dev/null | sed 's/^/pid parent session name: /' | show

shot=$out_dir/desktop-program.png
# Taken once the program's window is shown and painted: screenshot.exe waits for nothing, it answers 2
# until a visible window of the stand-in's class has taken a message after its first paint.
shot_of_window() { wine "$build_dir/tools/screenshot.exe" "Z:${shot//\//\\}" MarrowbankStandIn </dev/null >/dev/null 2>&1; }
wait_for 20 shot_of_window \
  || fail "a screenshot of the program's window" "the window shown, then a PNG of the X display" "none in $((20 * bound_scale)) s"
step "Screenshot of the X display with the program's window: $shot"

# ---- not twice ------------------------------------------------------------------------------------------
# Each timer check lists the devices (one vsRefreshDeviceList line in t3fp-calls.log) before it decides.
# Once four more listings are logged, three whole checks have decided after the start; a second start
# would show as a second "CreateProcessAsUser OK!" (written before the service goes on) and as a
# second line of the program's own start log.
listings() { tr -d '\r' < "$install_dir/t3fp-calls.log" | grep -c '^vsRefreshDeviceList' || true; }
listings_from=$(listings)
four_more_listings() { [ "$(listings)" -ge $((listings_from + 4)) ]; }
step "Waiting for three more timer checks (PollSeconds=1): the program must not be started a second time..."
wait_for 20 four_more_listings || fail "three more timer checks" "4 more vsRefreshDeviceList lines" "$(( $(listings) - listings_from ))"
launches=$(grep -c 'CreateProcessAsUser OK!' "$out_dir/debug-output.txt" || true)
[ "$launches" -eq 1 ] || fail "one start only" "1 CreateProcessAsUser OK! in the debug output" "$launches"
count=$(grep -c . "$starts")
[ "$count" -eq 1 ] || fail "one start only" "1 line in Marrowbank-starts.log" "$count lines"
step "Still one start after $(( $(listings) - listings_from )) more timer checks."

# ---- unplug, stop, remove -------------------------------------------------------------------------------
rm -f "$install_dir/t3fp-scenario.txt"
step "Unplugged the simulated disk (removed t3fp-scenario.txt)"
step "Stopping the service (sc stop) and waiting for STOPPED..."
wine sc stop MarrowbankServer </dev/null >/dev/null 2>&1 || true
wait_for 15 state_is STOPPED || fail "the service stopped" "STATE STOPPED" "$(service_state)"
gone() { ! wine "$build_dir/tools/proclist.exe" MarrowbankServer.exe >/dev/null 2>&1; }
wait_for 10 gone || fail "the service process gone" "no MarrowbankServer.exe" "it still runs"
step "STOPPED, and the service process is gone."
wine sc delete MarrowbankServer </dev/null >/dev/null 2>&1 || fail "the service removed" "sc delete succeeds" "it failed"
step "Service removed (sc delete)."

if [ "$keep" = 1 ]; then
  step "Kept: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY (end it all with: WINEPREFIX=$WINEPREFIX wineserver -k; kill ${pids[*]})"
else
  step "Shutting the prefix down (wineserver -k) and ending everything the demonstration started."
fi
step "Done."
