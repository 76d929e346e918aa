#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root), only when something is missing:
# the i386 architecture, MinGW-w64 (i686 for what ships, x86_64 for the 64-bit test build; each with windmc
# for the event texts and objdump for the import checks), Wine with its 32-bit and 64-bit parts, Xvfb,
# CMake, GoogleTest's sources, the locale sources the tests compile zh_CN.UTF-8 from, msitools for the package and
# osslsigncode and openssl for signing it. On a host that cannot run 32-bit programs, also QEMU's user-mode
# emulator for i386, for scripts/i386-run.sh (below).
set -euo pipefail
source "$(dirname "$0")/i386-env.sh"

# The emulator comes from Debian 12's official bookworm-backports suite: its qemu-user 10 runs Wine's 32-bit
# loader about twenty times faster than bookworm's own 7.2. It is fetched with a private apt configuration
# (nothing is added to the host's sources, nothing is installed or registered host-wide) and only its
# statically linked qemu-i386 is unpacked into the cache; apt checks the archive's signatures as for any
# package. Only where the host needs it: after Wine is installed, when its 32-bit loader does not run.
fetch_i386_emulator() {
  i386_runs_natively && return 0
  [ -x "$i386_emulator_cache/qemu-i386" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "this host cannot run 32-bit programs and needs QEMU's emulator in $i386_emulator_cache;" \
         "run as root to fetch it" >&2
    return 1
  fi
  echo "fetching qemu-user from bookworm-backports for the 32-bit suites under emulation"
  local work; work=$(mktemp -d)
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts"
  echo "deb http://deb.debian.org/debian bookworm-backports main" > "$work/sources.list"
  local apt_private=(-o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts="$work/parts"
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root)
  apt-get -qq "${apt_private[@]}" update
  (cd "$work" && apt-get -qq "${apt_private[@]}" download qemu-user)
  mkdir -p "$work/unpacked" "$i386_emulator_cache"
  dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -x -C "$work/unpacked" ./usr/bin/qemu-i386
  install -m 755 "$work/unpacked/usr/bin/qemu-i386" "$i386_emulator_cache/qemu-i386.new"
  mv "$i386_emulator_cache/qemu-i386.new" "$i386_emulator_cache/qemu-i386"
  "$i386_emulator_cache/qemu-i386" --version | head -n 1
  rm -rf "$work"
}

missing=()
command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686)
command -v i686-w64-mingw32-windmc >/dev/null || missing+=(binutils-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
command -v x86_64-w64-mingw32-windmc >/dev/null || missing+=(binutils-mingw-w64-x86-64)
command -v wine >/dev/null && [ -x /usr/lib/wine/wine64 ] || missing+=(wine wine64)
installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }
installed wine32:i386 || missing+=(wine32:i386)
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v cmake >/dev/null || missing+=(cmake)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
[ -f /usr/share/i18n/locales/zh_CN ] || missing+=(locales)
command -v wixl >/dev/null && command -v msibuild >/dev/null || missing+=(wixl msitools)  # the MSI package
command -v gnuplot >/dev/null || missing+=(gnuplot-nox)  # the benchmark's chart
command -v python3 >/dev/null || missing+=(python3)      # reads the benchmark's figures for the chart
command -v osslsigncode >/dev/null && command -v openssl >/dev/null || missing+=(osslsigncode openssl)  # signing

if [ ${#missing[@]} -eq 0 ]; then
  fetch_i386_emulator
  exit 0
fi
echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 \
  binutils-mingw-w64-x86-64 wine wine32:i386 wine64 \
  xvfb cmake googletest locales >/dev/null
apt-get install -y -qq --no-install-recommends wixl msitools >/dev/null  # the MSI package's wixl and msibuild
apt-get install -y -qq --no-install-recommends gnuplot-nox python3 >/dev/null  # the benchmark's chart
apt-get install -y -qq --no-install-recommends osslsigncode openssl >/dev/null  # Authenticode signing and its test
fetch_i386_emulator
