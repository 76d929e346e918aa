#!/usr/bin/env bash
# Test fixture for the build tree's Wine prefix and X display.
#   wine-prefix.sh setup BUILD_DIR     make the zh_CN.UTF-8 locale and the prefix of the tree's architecture
#                                      once (both reused later), start a persistent wineserver and an Xvfb
#                                      display for message boxes; the services' events go to
#                                      BUILD_DIR/wine-services.log, what Wine's tools print to
#                                      BUILD_DIR/wine-logs/ (its last lines shown when a step fails)
#   wine-prefix.sh teardown BUILD_DIR  stop the prefix's wineserver (and every Wine process in it) and Xvfb
set -euo pipefail
action=$1
build_dir=$(cd "$2" && pwd)
source "$(dirname "$0")/wine-env.sh"
arch=$(wine_arch_of "$build_dir")
wine_use_arch "$arch"
export WINEPREFIX="$build_dir/wineprefix" WINEDEBUG=-all
logs=$build_dir/wine-logs
export LANG=zh_CN.UTF-8
# Wine names files in the locale's character set: without the locale it cannot open a path holding
# anything but ASCII. Compiled into the build tree, so nothing on the system changes.
export LOCPATH="$build_dir/locale"
wine() { env LC_ALL=zh_CN.UTF-8 wine "$@"; }
xvfb_pid_file="$build_dir/xvfb.pid" xvfb_display_file="$build_dir/xvfb.display"

stop_xvfb() {
  if [ -s "$xvfb_pid_file" ]; then kill "$(cat "$xvfb_pid_file")" 2>/dev/null || true; fi
  rm -f "$xvfb_pid_file" "$xvfb_display_file"
}

case "$action" in
  setup)
    # Before any time is spent: a 32-bit prefix needs a host that runs 32-bit programs, natively or in
    # the emulating namespace of scripts/i386-run.sh (probe answer 3); outside it, say how to get in.
    if [ "$arch" = win32 ]; then
      probe=0; "$(dirname "$0")/host-probe.sh" || probe=$?
      case $probe in
        0) ;;
        3) if [ -z "${MARROWBANK_I386_NAMESPACE:-}" ]; then
             echo "run the 32-bit suites through scripts/i386-run.sh (for example: scripts/i386-run.sh ctest --preset release)"
             exit 1
           fi ;;
        *) exit 1 ;;
      esac
    fi
    # A step that fails leaves no server or display behind.
    setup_done=0
    trap '[ "$setup_done" = 1 ] || { wineserver -k 2>/dev/null || true; stop_xvfb; }' EXIT
    if [ ! -f "$LOCPATH/zh_CN.UTF-8/LC_CTYPE" ]; then
      mkdir -p "$LOCPATH"
      localedef -i zh_CN -f UTF-8 "$LOCPATH/zh_CN.UTF-8"
      echo "made locale $LOCPATH/zh_CN.UTF-8"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      rm -rf "$WINEPREFIX"
      logged "$logs/wineboot.log" wineboot -i
      wineserver -w
      # With no window manager on Xvfb, managed windows make Wine wait ~2 s at every close.
      logged "$logs/wineboot.log" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
      # A freshly booted prefix is still settling (two service managers may answer); restart it once.
      wineserver -k 2>/dev/null || true
      wineserver -w
      echo "made $arch prefix $WINEPREFIX"
    fi
    # A server left over from an interrupted run would keep its old display.
    wineserver -k 2>/dev/null || true
    wineserver -w
    stop_xvfb
    : > "$xvfb_display_file"
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$xvfb_display_file" \
      </dev/null >/dev/null 2>&1 &
    echo $! > "$xvfb_pid_file"
    for _ in $(seq 100); do [ -s "$xvfb_display_file" ] && break; sleep 0.05; done
    [ -s "$xvfb_display_file" ] || { echo "Xvfb did not start"; exit 1; }
    # Xvfb ends the number with a newline; keep the bare number.
    n=$(tr -dc 0-9 < "$xvfb_display_file"); echo "$n" > "$xvfb_display_file"
    echo "Xvfb on :$n"
    # The prefix's desktop process takes its display when it starts: start it after Xvfb.
    export DISPLAY=":$n"
    # Keep the server up for the whole run; its output must not hold the test runner's pipe open.
    wineserver -p </dev/null >/dev/null 2>&1
    # Start the prefix's system processes (service manager, explorer) here, detached from the test
    # runner's output: started by the first test instead, they would hold its pipe open. Services
    # inherit the service manager's environment and standard error: with Wine's event-log channel on,
    # every event a service writes lands in wine-services.log, one line per string.
    if ! env WINEDEBUG=-all,+eventlog LC_ALL=zh_CN.UTF-8 wine cmd /c exit 0 </dev/null >/dev/null \
           2>"$build_dir/wine-services.log"; then
      echo "the prefix's system processes did not start; the last lines of $build_dir/wine-services.log:"
      tail -n 20 "$build_dir/wine-services.log" | sed 's/^/  | /'
      exit 1
    fi
    setup_done=1
    ;;
  teardown)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    stop_xvfb
    ;;
  *) echo "usage: $0 setup|teardown BUILD_DIR" >&2; exit 2 ;;
esac
