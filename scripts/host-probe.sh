#!/usr/bin/env bash
# Can this host run Wine's 32-bit loader (and so the 32-bit product)? Prints one line saying what it
# found, with the exact error when the answer is no; exits 0 for yes, 1 for no. Takes well under a second.
# Some kernels run 64-bit user code only (IA-32 emulation off): there every 32-bit program fails with
# "Exec format error", and the suite runs the 64-bit test build instead (see the README).
loader=/usr/lib/wine/wine
if [ ! -e "$loader" ]; then
  echo "32-bit Wine: no: $loader is not installed (the wine32:i386 package; scripts/install-deps.sh installs it)"
  exit 1
fi
# Run by bash itself: env and sh would take a binary they cannot execute for a shell script.
if version=$("$loader" --version 2>&1); then
  echo "32-bit Wine: yes: $loader --version: $version"
  exit 0
fi
# bash says "<script>: line N: <file>: cannot execute binary file: Exec format error": keep from the file on.
echo "32-bit Wine: no: this host cannot run 32-bit programs: ${version#*: line *: }"
exit 1
