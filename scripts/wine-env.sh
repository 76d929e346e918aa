# Sourced by every script that starts Wine. Picks the Wine of a build tree's architecture and keeps what
# Wine's tools print.
#   wine_arch_of BUILD_DIR        prints win32 or win64: what CMake wrote in BUILD_DIR/wine-arch
#   wine_use_arch win32|win64     exports WINEARCH; for win64, the 64-bit loader (WINELOADER, and a shim
#                                 first on PATH: Debian's wine and wine-stable pick the 32-bit loader
#                                 whenever wine32 is installed, even on a host that cannot run it)
#   logged LOG COMMAND...         runs COMMAND with its output appended to LOG; when it fails, prints
#                                 the command, its exit code and LOG's last lines on standard error
marrowbank_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine_arch_of() {
  local arch
  arch=$(cat "$1/wine-arch" 2>/dev/null || true)
  case "$arch" in
    win32|win64) echo "$arch" ;;
    *) echo "no wine-arch in $1: configure that build tree first (cmake --preset ...)" >&2; return 1 ;;
  esac
}

wine_use_arch() {
  case "$1" in
    win32) export WINEARCH=win32 ;;
    win64)
      export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
      case ":$PATH:" in *":$marrowbank_scripts/wine64:"*) ;; *) export PATH="$marrowbank_scripts/wine64:$PATH" ;; esac
      ;;
    *) echo "unknown Wine architecture '$1'" >&2; return 1 ;;
  esac
}

logged() {
  local log=$1 status=0; shift
  mkdir -p "$(dirname "$log")"
  echo "--- $(date -u +%FT%TZ) $*" >>"$log"
  "$@" >>"$log" 2>&1 || status=$?
  if [ $status -ne 0 ]; then
    {
      echo "$* failed with exit code $status; the last lines of $log:"
      tail -n 20 "$log" | sed 's/^/  | /'
    } >&2
  fi
  return $status
}
