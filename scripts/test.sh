#!/usr/bin/env bash
# The one test command: installs what is missing, then configures, builds and runs every test under Wine.
# On a host that runs 32-bit programs: the development build (build/default), the release build that ships
# (build/release) and the 64-bit test build (build/x64), each with its whole suite. On a host that cannot
# (IA-32 emulation off): the 64-bit test build's whole suite, and the release build with every check that
# needs no Wine; then one line naming what could not run. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if scripts/host-probe.sh; then
  cmake --workflow --preset default
  cmake --workflow --preset release
  cmake --workflow --preset x64
else
  cmake --workflow --preset x64
  cmake --preset release
  cmake --build --preset release
  ctest --preset release-no-wine
  echo "Not run on this host: the 32-bit suites under Wine (the default and release builds' tests that start" \
       "Wine), since it cannot run 32-bit programs; the x64 suite above ran the same code and tests as 64-bit."
fi
