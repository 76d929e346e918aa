# Sourced by the scripts that need 32-bit programs to run (host-probe.sh, i386-run.sh, install-deps.sh).
#   i386_runs_natively      exit 0 when this host's kernel runs Wine's 32-bit loader itself
#   i386_loader_error       the loader's own error text when it does not run (bash's "Exec format error" line)
#   i386_emulator           prints the QEMU user-mode emulator to use, exit 1 when there is none
#   i386_emulator_cache     where install-deps.sh keeps the emulator it fetched
i386_loader=/usr/lib/wine/wine
i386_emulator_cache=/var/cache/marrowbank/qemu-user

i386_runs_natively() {
  # Run by bash itself: env and sh would take a binary they cannot execute for a shell script.
  "$i386_loader" --version >/dev/null 2>&1
}

i386_loader_error() {
  local text
  text=$("$i386_loader" --version 2>&1) && return 0
  # bash says "<script>: line N: <file>: cannot execute binary file: Exec format error": keep from the file on.
  echo "${text#*: line *: }"
}

i386_emulator() {
  local candidate
  for candidate in "${MARROWBANK_QEMU_I386:-}" "$i386_emulator_cache/qemu-i386" "$(command -v qemu-i386 || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}
