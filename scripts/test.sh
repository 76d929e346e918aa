#!/usr/bin/env bash
# The one test command: installs what is missing, then configures, builds and runs every test under Wine,
# once for the development build (build/default) and once for the release build that ships (build/release).
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --workflow --preset default
cmake --workflow --preset release
