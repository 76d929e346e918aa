#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root), only when something is missing:
# the i386 architecture, MinGW-w64 (i686 for what ships, x86_64 for the 64-bit test build; each with windmc
# for the event texts and objdump for the import checks), Wine with its 32-bit and 64-bit parts, Xvfb,
# CMake, GoogleTest's sources, the locale sources the tests compile zh_CN.UTF-8 from, msitools for the package and
# osslsigncode and openssl for signing it.
set -euo pipefail

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
