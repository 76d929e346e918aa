#!/usr/bin/env bash
# The one test command: installs what is missing, configures, builds and runs every test under Wine.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --workflow --preset default
