#!/usr/bin/env bash
# Runs one test program under Wine for CTest (the build's CMAKE_CROSSCOMPILING_EMULATOR):
#   wine-test.sh BUILD_DIR PROGRAM [ARGS...]
# The program's output goes to a file first and is then copied to standard output, and only the program's
# own process is waited for: a process it started (the desktop stand-in, a Wine helper) that keeps the
# output open can never hold CTest's pipe until its time-out.
# Under QEMU's user-mode emulator (scripts/i386-run.sh) a Wine process sometimes crashes on its way out
# ("qemu: uncaught target signal 11"). A GoogleTest program's own verdict is its XML report, written when its
# last test has run: a program whose report is complete with no failure passed, whatever its exit code says
# after a crash the emulator reported; a missing, incomplete or failing report fails as the exit code says.
# Natively the exit code alone decides.
set -uo pipefail
build_dir=$(cd "$1" && pwd); shift
program=$1
scripts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/wine-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
report=$work/report.xml
# GoogleTest reads GTEST_OUTPUT from the environment, which Wine passes on; other programs ignore it.
export GTEST_OUTPUT="xml:Z:${report//\//\\}"

"$scripts_dir/wine-run.sh" "$build_dir" "$@" </dev/null >"$work/output" 2>&1 &
program_pid=$!
# Copies the output as it grows, so that CTest's own output (and its time-out's) shows where a run stands.
tail -n +1 -f --pid="$program_pid" "$work/output" 2>/dev/null &
tail_pid=$!
status=0
wait "$program_pid" || status=$?
wait "$tail_pid" 2>/dev/null || true

if [ "$status" -ne 0 ] && [ -n "${MARROWBANK_I386_NAMESPACE:-}" ] \
   && grep -q '^qemu: uncaught target signal' "$work/output" && [ -s "$report" ]; then
  # The root element: <testsuites tests="N" failures="0" disabled="D" errors="0" ...>
  root=$(grep -m1 '<testsuites ' "$report")
  tests=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$root")
  failures=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$root")
  errors=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$root")
  if [ -n "$tests" ] && [ "$tests" -gt 0 ] && [ "$failures" = 0 ] && [ "$errors" = 0 ] \
     && grep -q '</testsuites>' "$report"; then
    echo "wine-test.sh: every check passed ($tests tests, no failure in the report); exit code $status comes" \
         "from a crash the emulator reported (qemu: uncaught target signal), not from a check"
    status=0
  fi
fi
exit "$status"
