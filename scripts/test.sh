#!/usr/bin/env bash
# The one test command: installs what is missing, then configures, builds and runs every test under Wine.
# Which builds run depends on how the host runs 32-bit programs (scripts/host-probe.sh, asked after the
# install so that it sees Wine):
#   natively        the development build (build/default), the release build that ships (build/release) and
#                   the 64-bit test build (build/x64), each with its whole suite;
#   under emulation the 64-bit test build's whole suite, then the release build's whole suite inside the
#                   namespace of scripts/i386-run.sh, where the 32-bit product runs under QEMU's user-mode
#                   emulator: what ships is what is proven;
#   not at all      the 64-bit test build's whole suite and the release build's checks that need no Wine.
# The last line says which road ran. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
probe=0
probe_line=$(scripts/host-probe.sh) || probe=$?
echo "$probe_line"
case $probe in
  0)
    cmake --workflow --preset default
    cmake --workflow --preset release
    cmake --workflow --preset x64
    echo "Ran natively: the default and release builds' suites under 32-bit Wine, and the x64 suite."
    ;;
  3)
    cmake --workflow --preset x64
    scripts/i386-run.sh cmake --workflow --preset release
    echo "Ran under emulation: the x64 suite natively, then the release build's whole suite (what ships) under" \
         "32-bit Wine in QEMU's user-mode emulator; the default (debug) 32-bit suite runs only on a host that runs" \
         "32-bit programs natively."
    ;;
  *)
    cmake --workflow --preset x64
    cmake --preset release
    cmake --build --preset release
    ctest --preset release-no-wine
    echo "Not run on this host: the 32-bit suites under Wine (the default and release builds' tests that start" \
         "Wine), since it cannot run 32-bit programs, natively or emulated (above); the x64 suite ran the same" \
         "code and tests as 64-bit."
    ;;
esac
