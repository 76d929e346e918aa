#!/usr/bin/env bash
# Runs COMMAND where 32-bit (i386) programs run, and so Wine's 32-bit loader and the shipped product:
#   i386-run.sh COMMAND [ARGS...]
# On a host that runs them natively, COMMAND runs as it is. On a host that cannot (IA-32 emulation off), it
# runs in a private user and mount namespace with its own binfmt_misc instance, in which i386 programs are
# handed to QEMU's user-mode emulator (scripts/install-deps.sh puts it in the cache named below); COMMAND's
# whole process tree, Wine's servers included, runs there. Nothing outside the namespace changes: no
# registration, mount or service on the host. Exits with COMMAND's exit code.
#
# The emulator: MARROWBANK_QEMU_I386 when set, else the one install-deps.sh cached, else qemu-i386 on PATH.
set -euo pipefail
scripts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$scripts_dir/i386-env.sh"

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi
# Already inside such a namespace, or on a native host: nothing to add.
if [ -n "${MARROWBANK_I386_NAMESPACE:-}" ] || i386_runs_natively; then
  exec "$@"
fi
emulator=$(i386_emulator) || {
  echo "i386-run.sh: this host cannot run 32-bit programs and no emulator was found" \
       "(scripts/install-deps.sh fetches one into $i386_emulator_cache)" >&2
  exit 1
}
# The namespace's root is the calling user mapped to root, so Wine finds its prefixes owned by itself. A
# PID namespace of its own: when COMMAND ends, every process it left behind (a wineserver, a service, an X
# server) ends with it, so nothing outlives the run or holds its output. bash stays its first process, to
# reap the orphans Wine's processes leave while COMMAND runs.
exec unshare --user --map-root-user --mount --pid --fork --mount-proc -- \
  env MARROWBANK_I386_NAMESPACE="$emulator" bash -c '
    set -e
    emulator=$1; shift
    mnt=$(mktemp -d)
    mount -t binfmt_misc binfmt_misc "$mnt"
    # QEMU'"'"'s own i386 entry: ELF, 32-bit, little-endian, an executable or shared object for the 386.
    # F opens the emulator now, so that it is found whatever the namespace later sees.
    printf "%s" ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$emulator:F" \
      > "$mnt/register"
    status=0
    "$@" || status=$?
    exit $status
  ' i386-run "$emulator" "$@"
