#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's prefix (32-bit, or 64-bit for the x64 test build).
#   wine-run.sh BUILD_DIR PROGRAM [ARGS...]
# The prefix and the locale are made by the wine_prefix test fixture (scripts/wine-prefix.sh); code
# page 936 so that the GBK texts and paths round-trip; the Xvfb display of the fixture, when one runs, for message boxes.
set -euo pipefail
build_dir=$(cd "$1" && pwd); shift
source "$(dirname "$0")/wine-env.sh"
wine_use_arch "$(wine_arch_of "$build_dir")"
export WINEPREFIX="$build_dir/wineprefix" WINEDEBUG=-all
export LANG=zh_CN.UTF-8
export LOCPATH="$build_dir/locale"  # the zh_CN.UTF-8 locale the fixture compiled
if [ -z "${DISPLAY:-}" ] && [ -s "$build_dir/xvfb.display" ]; then
  export DISPLAY=":$(cat "$build_dir/xvfb.display")"
fi
exec env LC_ALL=zh_CN.UTF-8 wine "$@"
