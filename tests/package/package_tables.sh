#!/usr/bin/env bash
# The built package's tables, read without Wine: the architecture it declares, where it installs, the
# components' bitness and the mode file's protection (the custom actions: package_rules.cmake).
#   package_tables.sh PACKAGE x86|x64
set -euo pipefail
package=$1 arch=$2
fail() { echo "FAILED: $*" >&2; exit 1; }
table() { msiinfo export "$package" "$1" | tr -d '\r' | tail -n +4; }
row() { table "$1" | awk -F'\t' -v k="$2" '$1 == k'; }

case "$arch" in
  x86) template='Intel;1033' program_files=ProgramFilesFolder bit64=0 ;;
  x64) template='x64;1033' program_files=ProgramFiles64Folder bit64=256 ;;
  *) fail "architecture '$arch'" ;;
esac
got=$(msiinfo suminfo "$package" | tr -d '\r' | sed -n 's/^Template: //p')
[ "$got" = "$template" ] || fail "summary template '$got', expected '$template'"
[ "$(row Directory INSTALLDIR)" = "$(printf 'INSTALLDIR\t%s\tMarrowbank' "$program_files")" ] ||
  fail "install folder row '$(row Directory INSTALLDIR)', expected under $program_files"
while IFS=$'\t' read -r component _ _ attributes _; do
  want=$bit64
  case "$component" in
    ModeConfig) want=$((bit64 + 128)) ;;  # never overwritten: an administrator's edit stays
    # A package property's line in the mode file: permanent and transitive (package_rules.cmake).
    ModeAutoBack|ModePollSeconds|ModeLaunchAtLogon|ModeLaunchAs) want=$((bit64 + 16 + 64)) ;;
  esac
  [ "$attributes" = "$want" ] || fail "component $component has attributes $attributes, expected $want"
done < <(table Component)
[ "$(table Component | wc -l)" -eq 9 ] || fail "$(table Component | wc -l) components, expected 9"
echo "package tables of $(basename "$package") are those of an $arch package"
