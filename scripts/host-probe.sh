#!/usr/bin/env bash
# How does this host run Wine's 32-bit loader, and so the 32-bit product? Prints one line and exits:
#   0  natively
#   3  under QEMU's user-mode emulator, in the private namespace of scripts/i386-run.sh (the line names the
#      emulator and its version)
#   1  not at all (the line gives the exact error, and what is missing)
# Some kernels run 64-bit user code only (IA-32 emulation off): there every 32-bit program fails with
# "Exec format error". Natively it takes well under a second; the emulated answer starts Wine's loader
# once under the emulator (a few seconds).
set -uo pipefail
scripts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$scripts_dir/i386-env.sh"

if [ ! -e "$i386_loader" ]; then
  echo "32-bit Wine: no: $i386_loader is not installed (the wine32:i386 package; scripts/install-deps.sh installs it)"
  exit 1
fi
if [ -n "${MARROWBANK_I386_NAMESPACE:-}" ] && i386_runs_natively; then
  echo "32-bit Wine: yes, emulated: inside the namespace of scripts/i386-run.sh, by $MARROWBANK_I386_NAMESPACE"
  exit 3
fi
if version=$("$i386_loader" --version 2>&1); then
  echo "32-bit Wine: yes, natively: $i386_loader --version: $version"
  exit 0
fi
native_error="this host cannot run 32-bit programs: ${version#*: line *: }"
if ! emulator=$(i386_emulator); then
  echo "32-bit Wine: no: $native_error; and no QEMU user-mode emulator (scripts/install-deps.sh fetches one" \
       "into $i386_emulator_cache)"
  exit 1
fi
emulator_version=$("$emulator" --version 2>/dev/null | head -n 1)
if version=$("$scripts_dir/i386-run.sh" "$i386_loader" --version 2>&1); then
  echo "32-bit Wine: yes, emulated: $native_error; scripts/i386-run.sh runs it under $emulator" \
       "($emulator_version): $version"
  exit 3
fi
echo "32-bit Wine: no: $native_error; under the emulator $emulator ($emulator_version) scripts/i386-run.sh" \
     "answered: $(echo "$version" | tail -n 1)"
exit 1
