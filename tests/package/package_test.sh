#!/usr/bin/env bash
# The stand-in MSI package under Wine's real installer and service manager, in a fresh prefix:
# a first installation that fails at its last step, install, a repair that fails at its last step, a
# simulated disk starting the desktop program, the switches on the installed service, upgrade to a
# higher version with an edited mode file, removal, a second removal; then a feature removal, a
# removal with the executable deleted, another package of the same version, a folder of one's own, the
# package's properties written into the mode file (and kept by an upgrade), and
# a removal before the restart that an upgrade with a file in use asked for (first without the removal's
# step for the restart's queue, which shows the fault, then with it).
#   package_test.sh RUN_DIR PACKAGE UPGRADE_PACKAGE UPGRADE_EXE UPGRADE_VERSION KEEPER_EXE PROCLIST_EXE
#                   DEFAULT_MODE_FILE SAME_VERSION_PACKAGE SIGNED_EXE THIRD_PACKAGE THIRD_EXE THIRD_VERSION
#                   SERVER_EXE STANDINS_DIR QUEUERENAME_EXE
# THIRD_PACKAGE is the chain's second upgrade; SERVER_EXE and STANDINS_DIR make a by-hand installation.
# SIGNED_EXE (made by the package_signing test; skipped when absent) must run: 87 for a lone /quiet.
# PACKAGE and UPGRADE_PACKAGE fail at their last deferred step when MARROWBANK_FAIL_AT_END=1 is given.
# Every step waits on a state or a file, never on the clock; CTest's timeout bounds the whole.
set -euo pipefail
run_dir=$1 package=$2 upgrade=$3 upgrade_exe=$4 upgrade_version=$5 keeper=$6 proclist=$7 default_mode_file=$8
same_version=$9 signed_exe=${10} third=${11} third_exe=${12} third_version=${13} server_exe=${14}
standins_dir=${15} queuerename=${16}

source "$(dirname "$0")/../../scripts/wine-env.sh"
wine_use_arch "${MARROWBANK_WINE_ARCH:-win32}"
export WINEPREFIX=$run_dir/prefix WINEDEBUG=-all LANG=zh_CN.UTF-8
unset DISPLAY  # nothing here shows a window: the stand-in desktop program runs without one
wine() { env LC_ALL=zh_CN.UTF-8 wine "$@" </dev/null; }
# What wineboot and msiexec print, kept beside the run (which is removed when the test passes).
log=$(dirname "$run_dir")/wine-logs/package.log

fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "--- $*"; }
# Runs a Windows command and checks its exit code (Wine reports it modulo 256).
expect_code() {
  local want=$1; shift
  local code=0
  echo "--- $*" >>"$log"
  wine "$@" >>"$log" 2>&1 || code=$?
  if [ "$code" -ne $((want % 256)) ]; then
    tail -n 20 "$log" | sed 's/^/  | /' >&2
    fail "$* exited $code, expected $want (modulo 256: $((want % 256))); its output above, all of it in $log"
  fi
}

cleanup() {
  local status=$?
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  [ $status -ne 0 ] || rm -rf "$run_dir"
  exit $status
}
trap cleanup EXIT

service='MarrowbankServer'
install_win='C:\Program Files\Marrowbank'
install_dir="$WINEPREFIX/drive_c/Program Files/Marrowbank"
exe_win="$install_win\\MarrowbankServer.exe"

state() { wine sc query "$service" 2>/dev/null | tr -d '\r' | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
registry() { wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" /v "$1" 2>/dev/null | tr -d '\r' |
             sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
# The service's event source in the Application log.
event_source() { wine reg query "HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\$service" /v "$1" 2>/dev/null |
                 tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
# Waits, without a bound of its own, until the command holds.
wait_until() { until "$@"; do sleep 0.1; done; }

step "fresh prefix"
wineserver -k 2>/dev/null || true
rm -rf "$run_dir"
mkdir -p "$run_dir" "$(dirname "$log")"
: >"$log"
logged "$log" wineboot -i
wineserver -w
wineserver -k 2>/dev/null || true  # a freshly booted prefix settles after one restart
wineserver -w
# Wine ends services once no ordinary process is left: an idle keeper for the whole test.
env LC_ALL=zh_CN.UTF-8 wine "$keeper" 600 </dev/null >/dev/null 2>&1 &
# A planted C:\Program.exe is what an unquoted image path would run instead of the service.
cp "$keeper" "$WINEPREFIX/drive_c/Program.exe"

# Nothing of the package is left: service, event source, remembered folder, files.
nothing_left() {
  [ -z "$(state)" ] || fail "$1: the service is still there: '$(state)' '$(registry ImagePath)'"
  [ -z "$(event_source EventMessageFile)" ] || fail "$1: the event source is still there: '$(event_source EventMessageFile)'"
  ! wine reg query 'HKLM\Software\Marrowbank\MarrowbankServer' >/dev/null 2>&1 || fail "$1: the remembered folder is still there"
  [ ! -e "${2:-$install_dir}" ] || fail "$1: left behind: $(cd "${2:-$install_dir}" && find . | tr '\n' ' ')"
}
# Wine's installer answers a failed installation with 1627; Windows with 1603.
failed=1627

if [ -f "$signed_exe" ]; then
  step "the signed executable runs (a lone /quiet: the usage, 87)"
  expect_code 87 "$signed_exe" /quiet
fi

step "a first installation that fails at its last step leaves the machine as it was"
expect_code $failed msiexec /i "$package" MARROWBANK_FAIL_AT_END=1 /qn
nothing_left "after the failed installation"

step "a failed first installation over a service installed by hand gives that service back"
hand_win='C:\ByHand'
hand_dir="$WINEPREFIX/drive_c/ByHand"
mkdir -p "$hand_dir"
cp "$server_exe" "$hand_dir/MarrowbankServer.exe"
cp "$standins_dir/t3FPDll.dll" "$standins_dir/JMUsbDll.dll" "$standins_dir/Marrowbank.exe" "$hand_dir/"
expect_code 0 "$hand_win\\MarrowbankServer.exe" /install /quiet
[ "$(state)" = RUNNING ] || fail "the by-hand service after /install: '$(state)'"
expect_code $failed msiexec /i "$package" MARROWBANK_FAIL_AT_END=1 /qn
[ "$(state)" = RUNNING ] || fail "the by-hand service after the failed installation: '$(state)', expected RUNNING"
[ "$(registry ImagePath)" = "\"$hand_win\\MarrowbankServer.exe\"" ] ||
  fail "image path after the failed installation '$(registry ImagePath)', expected the by-hand copy's"
[ "$(registry Start)" = 0x2 ] || fail "start type after the failed installation '$(registry Start)'"
[ "$(event_source EventMessageFile)" = "$hand_win\\MarrowbankServer.exe" ] ||
  fail "event message file after the failed installation '$(event_source EventMessageFile)'"
[ ! -e "$install_dir" ] || fail "left behind: $(cd "$install_dir" && find . | tr '\n' ' ')"
expect_code 0 "$hand_win\\MarrowbankServer.exe" /uninstall /quiet
rm -rf "$hand_dir"
nothing_left "after the by-hand service was removed"

step "msiexec /i $(basename "$package") /qn"
expect_code 0 msiexec /i "$package" /qn
[ "$(state)" = RUNNING ] || fail "service state after installation: '$(state)', expected RUNNING"
[ "$(registry ImagePath)" = "\"$exe_win\"" ] || fail "image path '$(registry ImagePath)'"
[ "$(registry Type)" = 0x110 ] || fail "type '$(registry Type)'"
[ "$(registry Start)" = 0x2 ] || fail "start type '$(registry Start)'"
[ "$(registry ErrorControl)" = 0x1 ] || fail "error control '$(registry ErrorControl)'"
[ "$(registry ObjectName)" = LocalSystem ] || fail "account '$(registry ObjectName)'"
[ "$(registry DisplayName)" = "$service" ] || fail "display name '$(registry DisplayName)'"
registry Description | grep -q KOLVA || fail "description '$(registry Description)'"
[ "$(event_source EventMessageFile)" = "$exe_win" ] || fail "event message file '$(event_source EventMessageFile)'"
installed_exe=$(sha256sum "$install_dir/MarrowbankServer.exe")

step "a repair that fails at its last step leaves the installation as it was"
expect_code $failed msiexec /i "$package" REINSTALL=ALL MARROWBANK_FAIL_AT_END=1 /qn
[ "$(state)" = RUNNING ] || fail "service state after the failed repair: '$(state)'"
[ "$(registry ImagePath)" = "\"$exe_win\"" ] || fail "image path after the failed repair '$(registry ImagePath)'"
[ "$(event_source EventMessageFile)" = "$exe_win" ] || fail "event source after the failed repair"
[ "$(sha256sum "$install_dir/MarrowbankServer.exe")" = "$installed_exe" ] || fail "the executable changed"
[ "$(event_source TypesSupported)" = 0x7 ] || fail "event types supported '$(event_source TypesSupported)'"
for f in MarrowbankServer.exe t3FPDll.dll JMUsbDll.dll Marrowbank.exe; do
  [ -f "$install_dir/$f" ] || fail "$f is not installed"
done
cmp -s "$install_dir/language/ModeConfig.ini" "$default_mode_file" || fail "language\\ModeConfig.ini is not the default"
running() { wine "$proclist" "$1" >/dev/null 2>&1; }
! running Program.exe || fail "the planted C:\\Program.exe runs"

step "an upgrade that fails at its last step leaves the older version running"
expect_code $failed msiexec /i "$upgrade" MARROWBANK_FAIL_AT_END=1 /qn
if [ ! -e "$install_dir/MarrowbankServer.exe" ]; then
  # Windows puts the older files back before the rollback actions run; Wine's installer takes the
  # files the older product shares with the newer one for the newer one's and removes them.
  echo "--- Wine's installer: the failed upgrade's rollback removed the older product's files; repaired"
  expect_code 0 msiexec /i "$package" REINSTALL=ALL REINSTALLMODE=omus /qn
fi
[ "$(state)" = RUNNING ] || fail "service state after the failed upgrade: '$(state)', expected RUNNING"
[ "$(registry ImagePath)" = "\"$exe_win\"" ] || fail "image path after the failed upgrade '$(registry ImagePath)'"
[ "$(sha256sum "$install_dir/MarrowbankServer.exe")" = "$installed_exe" ] ||
  fail "the failed upgrade left another executable in place"
[ "$(event_source EventMessageFile)" = "$exe_win" ] || fail "event source after the failed upgrade"

step "the switches on the installed service"
status=$(wine "$exe_win" /status 2>/dev/null | tr -d "\r" || true)
# The state and image path, then the settings in force as the installed mode file gives them.
expected_status="$service is RUNNING (4); image path \"$exe_win\"
  AutoBack = 1 (mode file)
  PollSeconds = 0 (mode file)
  LaunchAtLogon = 0 (default)
  LaunchAs = service (default)"
[ "$status" = "$expected_status" ] || fail "/status said '$status'"
expect_code 4 "$exe_win" /status /quiet
expect_code 0 "$exe_win" /stop /quiet
[ "$(state)" = STOPPED ] || fail "state after /stop: '$(state)'"
expect_code 1 "$exe_win" /status /quiet

step "an administrator turns polling on; a simulated disk of the family starts the desktop program"
printf '[Fields]\r\nAutoBack=1\r\nPollSeconds=1\r\n' > "$install_dir/language/ModeConfig.ini"
edited=$(cat "$install_dir/language/ModeConfig.ini")
cat > "$install_dir/t3fp-scenario.txt" <<'EOF'
position
  accessory 5
  record
    kind 2
    info \\?\info#marrowbank-package-test
    path \\?\usbstor#disk&ven_marrowba&prod_novra#0001
    base.model NOVRA
    base.vendor Marrowba
    value 1
    state 1
EOF
expect_code 0 "$exe_win" /start /quiet
[ "$(state)" = RUNNING ] || fail "state after /start: '$(state)'"
wait_until test -s "$install_dir/Marrowbank-starts.log"
grep -qF "cmdline=\"$install_win\\Marrowbank.exe\"" "$install_dir/Marrowbank-starts.log" ||
  fail "desktop program start: $(cat "$install_dir/Marrowbank-starts.log")"

step "msiexec /i $(basename "$upgrade") /qn (version $upgrade_version)"
expect_code 0 msiexec /i "$upgrade" /qn
[ "$(state)" = RUNNING ] || fail "service state after the upgrade: '$(state)', expected RUNNING"
[ "$(registry ImagePath)" = "\"$exe_win\"" ] || fail "image path after the upgrade '$(registry ImagePath)'"
cmp -s "$install_dir/MarrowbankServer.exe" "$upgrade_exe" || fail "the executable was not replaced"
strings -el "$install_dir/MarrowbankServer.exe" | grep -A1 -x FileVersion | grep -qx "$upgrade_version" ||
  fail "the installed executable's version resource does not say $upgrade_version"
[ "$(cat "$install_dir/language/ModeConfig.ini")" = "$edited" ] || fail "the edited ModeConfig.ini was not kept"
product=$(msiinfo export "$upgrade" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
old_product=$(msiinfo export "$package" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
expect_code 1605 msiexec /x "$old_product" /qn  # the old product is gone: unknown product

# Programs and Features' entries of the product.
entries() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    grep -c "DisplayName *REG_SZ *$service\$" || true
}
third_product=$(msiinfo export "$third" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')

step "msiexec /i $(basename "$third") /qn (version $third_version): a second upgrade in the chain"
expect_code 0 msiexec /i "$third" /qn
[ "$(state)" = RUNNING ] || fail "service state after the second upgrade: '$(state)', expected RUNNING"
cmp -s "$install_dir/MarrowbankServer.exe" "$third_exe" || fail "the second upgrade did not replace the executable"
[ "$(cat "$install_dir/language/ModeConfig.ini")" = "$edited" ] || fail "the second upgrade did not keep the edited ModeConfig.ini"
# Windows removes $upgrade_version here (one entry). Wine's installer emptied the upgrade code's
# registration at the first upgrade, so it finds no older product: both stay installed.
wine_kept_older=false
case "$(entries)" in
  1) ;;
  2) wine_kept_older=true
     echo "--- Wine's installer: the second upgrade left $upgrade_version installed beside $third_version" ;;
  *) fail "$(entries) entries in Programs and Features after the second upgrade" ;;
esac

step "a downgrade to $upgrade_version is refused"
code=0; wine msiexec /i "$upgrade" /qn >>"$log" 2>&1 || code=$?
if [ "$code" -eq $((1603 % 256)) ] || [ "$code" -eq $((failed % 256)) ]; then
  :
elif $wine_kept_older && [ "$code" -eq 0 ]; then
  # The older product is still installed under Wine, so this is a repair of it, not a downgrade.
  echo "--- Wine's installer: the downgrade ran as a repair of the $upgrade_version it kept"
else
  fail "the downgrade to $upgrade_version exited $code, expected a refusal (1603)"
fi
[ "$(state)" = RUNNING ] || fail "service state after the downgrade: '$(state)', expected RUNNING"
$wine_kept_older || cmp -s "$install_dir/MarrowbankServer.exe" "$third_exe" ||
  fail "the refused downgrade replaced the executable"

step "msiexec /x $(basename "$third") /qn"
# The stand-ins' own files (scenario, call and start logs) are no part of an installation, and the
# desktop program the service started is closed (the file of a running program cannot be removed).
expect_code 0 "$exe_win" /stop /quiet
wine taskkill /f /im Marrowbank.exe >/dev/null 2>&1
while running Marrowbank.exe; do sleep 0.1; done
rm -f "$install_dir/t3fp-scenario.txt" "$install_dir/t3fp-calls.log" "$install_dir/Marrowbank-starts.log"
expect_code 0 msiexec /x "$third" /qn
if $wine_kept_older; then
  # Under Wine the kept $upgrade_version still holds the shared components: its removal goes too.
  echo "--- Wine's installer: $upgrade_version removed after $third_version"
  wine "$exe_win" /stop /quiet >>"$log" 2>&1 || true
  rm -f "$install_dir/t3fp-calls.log"
  expect_code 0 msiexec /x "$product" /qn
  if [ -e "$install_dir" ]; then
    echo "--- Wine's installer: the kept $upgrade_version's removal left $(cd "$install_dir" && find . -type f | tr '\n' ' ')"
    rm -rf "$install_dir"
  fi
fi
[ -z "$(state)" ] || fail "the service is still there: '$(state)'"
[ -z "$(event_source EventMessageFile)" ] || fail "the event source is still there: '$(event_source EventMessageFile)'"
[ ! -e "$install_dir" ] || fail "left behind: $(cd "$install_dir" && find . | tr '\n' ' ')"

step "a second removal"
expect_code 1605 msiexec /x "$third_product" /qn

step "a feature removal (REMOVE=Complete) removes the service too"
expect_code 0 msiexec /i "$package" /qn
[ "$(state)" = RUNNING ] || fail "service state after installation: '$(state)'"
expect_code 0 msiexec /i "$package" REMOVE=Complete /qn
nothing_left "after the feature removal"
expect_code 0 msiexec /x "$package" /qn  # the product's entry, if Wine's installer kept it

step "a removal with the executable deleted by hand removes the service and its event source"
expect_code 0 msiexec /i "$package" /qn
expect_code 0 "$exe_win" /stop /quiet
rm "$install_dir/MarrowbankServer.exe"
expect_code 0 msiexec /x "$package" /qn
nothing_left "after the removal without the executable"

step "another package of the same version installs over the first, not beside it"
expect_code 0 msiexec /i "$package" /qn
# Windows refuses it (1638: another version of this product is installed); Wine's installer repairs.
code=0; wine msiexec /i "$same_version" /qn >>"$log" 2>&1 || code=$?
[ "$code" -eq 0 ] || [ "$code" -eq $((1638 % 256)) ] || fail "the same version's other package exited $code"
[ "$(entries)" -eq 1 ] || fail "$(entries) entries in Programs and Features, expected 1"
expect_code 0 msiexec /x "$package" /qn
nothing_left "after removing the product of that version"

step "a folder of one's own (INSTALLDIR) is remembered, so the removal finds it"
own_win='C:\Custom Place\Marrowbank\'
own_dir="$WINEPREFIX/drive_c/Custom Place/Marrowbank"
expect_code 0 msiexec /i "$package" "INSTALLDIR=$own_win" /qn
[ "$(state)" = RUNNING ] || fail "service state after installation into $own_win: '$(state)'"
[ "$(registry ImagePath)" = "\"${own_win}MarrowbankServer.exe\"" ] || fail "image path '$(registry ImagePath)'"
[ -f "$own_dir/MarrowbankServer.exe" ] || fail "nothing installed into $own_win"
expect_code 0 msiexec /x "$package" /qn
nothing_left "after removing the installation in $own_win" "$own_dir"

step "package properties write the mode file; an upgrade keeps those lines and writes a property it is given"
mode_file="$install_dir/language/ModeConfig.ini"
# KEY=VALUE...: each key's value in the mode file's section [Fields].
expect_mode() {
  local what=$1 pair key got; shift
  for pair in "$@"; do
    key=${pair%%=*}
    got=$(tr -d '\r' <"$mode_file" |
          awk -v k="$key" '/^\[/ { s = ($0 == "[Fields]") } s && index($0, k "=") == 1 { print substr($0, length(k) + 2) }')
    [ "$got" = "${pair#*=}" ] || fail "$what: $key='$got' in the mode file, expected '${pair#*=}':
$(cat "$mode_file")"
  done
  # Everything else of the shipped file (its section and comments) stays as it was.
  [ "$(tr -d '\r' <"$mode_file" | grep -v '^[A-Za-z]*=')" = "$(tr -d '\r' <"$default_mode_file" | grep -v '^[A-Za-z]*=')" ] ||
    fail "$what: the mode file's other lines changed:
$(cat "$mode_file")"
}
expect_code 0 msiexec /i "$package" AUTOBACK=0 POLLSECONDS=5 LAUNCHATLOGON=1 LAUNCHAS=user /qn
[ "$(state)" = RUNNING ] || fail "service state after the installation with properties: '$(state)'"
expect_mode "after the installation with properties" AutoBack=0 PollSeconds=5 LaunchAtLogon=1 LaunchAs=user
expect_code 0 msiexec /i "$upgrade" POLLSECONDS=7 /qn
[ "$(state)" = RUNNING ] || fail "service state after the upgrade given POLLSECONDS=7: '$(state)'"
expect_mode "after the upgrade given POLLSECONDS=7" AutoBack=0 PollSeconds=7 LaunchAtLogon=1 LaunchAs=user
# The polling service called the stand-in SDK, whose call log is no part of the installation.
expect_code 0 "$exe_win" /stop /quiet
rm -f "$install_dir/t3fp-calls.log"
expect_code 0 msiexec /x "$upgrade" /qn
nothing_left "after removing the installation with properties"

# The restart's queue, one string a line (reg shows the strings of a REG_MULTI_SZ joined by \0).
queue() { wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
            2>/dev/null | tr -d '\r' | sed -n 's/^ *PendingFileRenameOperations *REG_MULTI_SZ *//p' | sed 's/\\0/\n/g'; }

step "without the removal's step for the queue, the restart brings a queued file back into the removed folder"
without_step=$run_dir/without-queue-step.msi
cp "$same_version" "$without_step"
msibuild "$without_step" -q "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = 'CancelQueuedRenames'"
expect_code 0 msiexec /i "$without_step" /qn
cp "$standins_dir/Marrowbank.exe" "$install_dir/msi1A2B.tmp"
expect_code 0 "$queuerename" "$install_win\\msi1A2B.tmp" "$install_win\\Marrowbank.exe"
expect_code 0 msiexec /x "$without_step" /qn
logged "$log" wineboot -r
[ -f "$install_dir/Marrowbank.exe" ] || fail "the restart did not bring Marrowbank.exe back without the step: $(queue)"
rm -rf "$install_dir"

step "a removal before the restart cancels the file operations queued into its folder, and keeps the rest"
expect_code 0 msiexec /i "$package" /qn
[ "$(state)" = RUNNING ] || fail "service state after installation: '$(state)'"
# What an upgrade leaves when Marrowbank.exe is in use (3010): the new file written into the folder and
# its rename over the old one queued (MoveFileEx, as the installer does), here with a deletion of a file
# in the folder (which a removal wants) and a rename into a folder whose name only begins the same.
sibling_win='C:\Program Files\Marrowbank2'
sibling_dir="$WINEPREFIX/drive_c/Program Files/Marrowbank2"
mkdir -p "$sibling_dir"
echo sibling >"$sibling_dir/msi3C4D.tmp"
cp "$standins_dir/Marrowbank.exe" "$install_dir/msi1A2B.tmp"
expect_code 0 "$queuerename" "$sibling_win\\msi3C4D.tmp" "$sibling_win\\Marrowbank.exe"
expect_code 0 "$queuerename" "$install_win\\t3FPDll.dll"
kept=$(queue)
expect_code 0 "$queuerename" "$install_win\\msi1A2B.tmp" "$install_win\\Marrowbank.exe"
queue | grep -qixF "!\\??\\$install_win\\Marrowbank.exe" || fail "no rename into the folder queued: $(queue)"
expect_code 0 msiexec /x "$package" /qn
# The pair into the folder is dropped, the rest kept in order; what the removal set aside in the folder
# (the temporary file and the step's record, *.cancelled), and the folder itself, are queued for
# deletion after them. (Empty strings, the deletions' destinations, are left out of the comparison.)
expected=$(printf '%s\n' "$kept" "\\??\\$install_win\\msi1A2B.tmp.cancelled" \
             "\\??\\$install_win\\QueuedRenames.cancelled" "\\??\\$install_win" | grep -v '^$')
[ "$(queue | grep -v '^$')" = "$expected" ] || fail "the queue after the removal:
$(queue)
expected the rename into the folder dropped, the rest kept, and what was set aside queued for deletion:
$expected"
nothing_left "after the removal with operations queued" "$run_dir/no-such-folder"
if [ -e "$install_dir" ]; then
  left=$(cd "$install_dir" && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')
  [ "$left" = "./QueuedRenames.cancelled ./msi1A2B.tmp.cancelled " ] || fail "left behind: $left"
  # Windows Installer deletes them right after the step (the RemoveFile row *.cancelled); Wine's
  # installer leaves the files of that row in place.
  echo "--- Wine's installer: the RemoveFile row left what CancelQueuedRenames set aside ($left); it goes at the restart"
fi
# The restart of the prefix carries the queue out: the other folder's rename happens, nothing comes
# back into the removed one, and the folder goes.
logged "$log" wineboot -r
[ -f "$sibling_dir/Marrowbank.exe" ] || fail "the restart did not carry out the queue: $(queue)"
[ ! -e "$install_dir" ] || fail "after the restart: $(cd "$install_dir" && find . | tr '\n' ' ')"
[ -z "$(queue)" ] || fail "the queue after the restart: $(queue)"
rm -rf "$sibling_dir"
echo "--- Wine's installer: a failed removal's rollback, which queues the dropped pairs again, is not run here (Wine puts no removed file back)"
echo "package test passed"
