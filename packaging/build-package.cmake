# Builds the MSI package; run by the build (packaging/CMakeLists.txt) as
#   cmake -DWIXL=... -DMSIBUILD=... -DOBJDUMP=... -DVERSION=x.y.z -DEXECUTABLE=.../MarrowbankServer.exe
#         -DMAKER_DIR=<folder with t3FPDll.dll, JMUsbDll.dll, Marrowbank.exe> -DOUTPUT=.../x.msi
#         -DRENAMES_TOOL=.../CancelQueuedRenames.exe
#         [-DARCH=x86|x64] [-DOSSLSIGNCODE=... -DSIGN_PFX=<file.pfx> [-DSIGN_PASSWORD=...]
#         [-DSIGN_TIMESTAMP_URL=...]]
#         [-DFAIL_ACTION=ON] -P build-package.cmake
# A maker file that is missing, or that imports a DLL that is neither a Windows system DLL nor one of
# the package's files, stops the build with a message that names it.
#
# With SIGN_PFX the executable is signed (Authenticode, SHA-256) before it is packaged, then the
# package; the password comes from SIGN_PASSWORD or the environment's MARROWBANK_SIGN_PASSWORD. The
# signing time is SOURCE_DATE_EPOCH when set, so that a signed build can be repeated byte for byte.
# FAIL_ACTION (test packages only) adds a deferred action at the end of the installation script that
# fails when the property MARROWBANK_FAIL_AT_END is set, so that a test can make an installation, an
# upgrade or a removal roll back at its last step.
cmake_minimum_required(VERSION 3.25)

if(NOT ARCH)
  set(ARCH x86)
endif()

# Windows Installer compares product versions by their first three fields only, each of which it
# stores in a limited width (major and minor up to 255, build up to 65535): a fourth field is ignored
# (1.0.0.1 over 1.0.0.0 would install a second product beside the first), and a wider field is not a
# valid version. Checked first, before anything is built.
set(version_rule "major.minor.build, major and minor 0 to 255, build 0 to 65535, an optional fourth field only if 0")
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)(\\.0+)?$")
  message(FATAL_ERROR "MSI package: version '${VERSION}' is not one Windows Installer honours (${version_rule})")
endif()
if(CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
  message(FATAL_ERROR "MSI package: version '${VERSION}' is not one Windows Installer honours (${version_rule})")
endif()
# x.y.z.0 is x.y.z: one product, one product code.
set(VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")

# INSTALLDIR's access list (SDDL): protected from inheritance (P), SYSTEM (SY) and Administrators (BA)
# full control, Users (BU) read and execute, each inherited by the files and folders inside (OICI).
set(install_dir_sddl "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)")
set(installed_names MarrowbankServer.exe t3FPDll.dll JMUsbDll.dll Marrowbank.exe)
set(maker_names t3FPDll.dll JMUsbDll.dll Marrowbank.exe)

foreach(name ${maker_names})
  if(NOT EXISTS "${MAKER_DIR}/${name}")
    message(FATAL_ERROR "MSI package: ${name} is missing from the maker's folder ${MAKER_DIR} "
                        "(MARROWBANK_MAKER_DIR must hold t3FPDll.dll, JMUsbDll.dll and Marrowbank.exe)")
  endif()
endforeach()
if(NOT EXISTS "${EXECUTABLE}")
  message(FATAL_ERROR "MSI package: the executable ${EXECUTABLE} is missing")
endif()

# x86 is what ships; x64 packages the 64-bit test build, which installs into the 64-bit Program Files.
if(ARCH STREQUAL "x86")
  set(program_files ProgramFilesFolder)
  set(win64 no)
  set(component_64bit 0)
elseif(ARCH STREQUAL "x64")
  set(program_files ProgramFiles64Folder)
  set(win64 yes)
  set(component_64bit 256)  # msidbComponentAttributes64bit
else()
  message(FATAL_ERROR "MSI package: ARCH must be x86 or x64, not '${ARCH}'")
endif()

# DLLs that every supported Windows (7 and later) carries in its system folder. A maker's file that
# needs anything else (a compiler's runtime, say) would fail to load on a machine that lacks it.
set(system_dlls
  advapi32.dll bcrypt.dll cfgmgr32.dll comctl32.dll comdlg32.dll crypt32.dll d3d9.dll dbghelp.dll dnsapi.dll
  dwmapi.dll gdi32.dll gdiplus.dll glu32.dll hid.dll imm32.dll iphlpapi.dll kernel32.dll mfc42.dll mpr.dll
  msi.dll msimg32.dll msvcp60.dll msvcrt.dll mswsock.dll ncrypt.dll netapi32.dll newdev.dll ntdll.dll
  odbc32.dll ole32.dll oleacc.dll oleaut32.dll opengl32.dll powrprof.dll psapi.dll rpcrt4.dll secur32.dll
  setupapi.dll shell32.dll shlwapi.dll urlmon.dll user32.dll userenv.dll usp10.dll uxtheme.dll version.dll
  winhttp.dll wininet.dll winmm.dll winspool.drv wintrust.dll winusb.dll ws2_32.dll wsock32.dll wtsapi32.dll)
string(TOLOWER "${installed_names}" installed_lower)
foreach(name ${maker_names})
  execute_process(COMMAND "${OBJDUMP}" -p "${MAKER_DIR}/${name}" OUTPUT_VARIABLE dump RESULT_VARIABLE result
                  ERROR_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "MSI package: ${name} in ${MAKER_DIR} is not a Windows program or DLL (objdump failed)")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
  foreach(line ${lines})
    string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" lower)
    if(NOT lower IN_LIST system_dlls AND NOT lower IN_LIST installed_lower AND NOT lower MATCHES "^(api|ext)-ms-win-")
      message(FATAL_ERROR "MSI package: ${name} imports ${dll}, which is neither a Windows system DLL nor a file "
                          "of the package: put it in the maker's folder and the package, or ask the maker for a "
                          "build without it")
    endif()
  endforeach()
endforeach()

if(NOT EXISTS "${RENAMES_TOOL}")
  message(FATAL_ERROR "MSI package: the removal's tool RENAMES_TOOL '${RENAMES_TOOL}' is missing")
endif()

# The file version in a PE file's version resource (VS_FIXEDFILEINFO) as "a.b.c.d"; "" without one.
function(pe_file_version file out)
  file(READ "${file}" hex HEX)
  set(version "")
  set(from 0)
  while(TRUE)
    string(SUBSTRING "${hex}" ${from} -1 rest)
    # The signature 0xFEEF04BD and the structure version 1.0, little-endian.
    string(FIND "${rest}" "bd04effe00000100" at)
    if(at EQUAL -1)
      break()
    endif()
    math(EXPR at "${from} + ${at}")
    math(EXPR odd "${at} % 2")
    if(odd EQUAL 0)
      math(EXPR ms_at "${at} + 16")
      math(EXPR ls_at "${at} + 24")
      set(words "")
      foreach(dword_at ${ms_at} ${ls_at})
        string(SUBSTRING "${hex}" ${dword_at} 8 dword)
        string(SUBSTRING "${dword}" 0 2 b0)
        string(SUBSTRING "${dword}" 2 2 b1)
        string(SUBSTRING "${dword}" 4 2 b2)
        string(SUBSTRING "${dword}" 6 2 b3)
        math(EXPR high "0x${b3}${b2}")
        math(EXPR low "0x${b1}${b0}")
        list(APPEND words ${high} ${low})
      endforeach()
      string(JOIN "." version ${words})
      break()
    endif()
    math(EXPR from "${at} + 1")
  endwhile()
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

get_filename_component(here "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
# wixl takes sources relative to where it runs: stage the five files under their installed names.
set(stage "${OUTPUT}.stage")
set(partial "${OUTPUT}.partial")
file(REMOVE_RECURSE "${stage}")
file(REMOVE "${partial}" "${OUTPUT}")
file(MAKE_DIRECTORY "${stage}")
file(COPY_FILE "${EXECUTABLE}" "${stage}/MarrowbankServer.exe")
foreach(name ${maker_names})
  file(COPY_FILE "${MAKER_DIR}/${name}" "${stage}/${name}")
endforeach()
file(COPY_FILE "${here}/ModeConfig.ini" "${stage}/ModeConfig.ini")
# Not installed: the removal runs it from the package's Binary table.
file(COPY_FILE "${RENAMES_TOOL}" "${stage}/CancelQueuedRenames.exe")

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  string(TIMESTAMP epoch "%s" UTC)
endif()
if(NOT SIGN_PASSWORD AND DEFINED ENV{MARROWBANK_SIGN_PASSWORD})
  set(SIGN_PASSWORD "$ENV{MARROWBANK_SIGN_PASSWORD}")
endif()
# Authenticode, SHA-256, with the certificate's chain. A time stamp only with SIGN_TIMESTAMP_URL (an
# RFC 3161 server), which the build machine must reach; without one the signature is valid only as
# long as the certificate is.
function(sign file)
  set(timestamp "")
  if(SIGN_TIMESTAMP_URL)
    set(timestamp -ts "${SIGN_TIMESTAMP_URL}")
  endif()
  execute_process(COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${SIGN_PFX}" -pass "${SIGN_PASSWORD}" -h sha256
                          -n MarrowbankServer -time ${epoch} ${timestamp} -in "${file}" -out "${file}.signed"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "MSI package: signing ${file} failed:\n${output}")
  endif()
  file(RENAME "${file}.signed" "${file}")
endfunction()
if(SIGN_PFX)
  sign("${stage}/MarrowbankServer.exe")
endif()

# Everything that depends only on the version and the staged files is derived from them: the same
# inputs give the same codes.
set(namespace ACB2AD23-EE6F-4CC5-A952-9ED6F133063F)  # the upgrade code
string(UUID product_code NAMESPACE ${namespace} NAME "MarrowbankServer ${VERSION} ${ARCH}" TYPE SHA1 UPPER)
set(inputs "${VERSION} ${ARCH} ${FAIL_ACTION}")
foreach(name ${installed_names} ModeConfig.ini CancelQueuedRenames.exe)
  file(SHA256 "${stage}/${name}" hash)
  string(APPEND inputs " ${hash}")
endforeach()
file(SHA256 "${here}/MarrowbankServer.wxs" hash)
string(APPEND inputs " ${hash}")
string(UUID package_code NAMESPACE ${namespace} NAME "${inputs}" TYPE SHA1 UPPER)
# The cabinet stores each file's modification time.
execute_process(COMMAND touch -d @${epoch} ${installed_names} ModeConfig.ini CancelQueuedRenames.exe WORKING_DIRECTORY "${stage}")

execute_process(
  COMMAND "${WIXL}" -a ${ARCH} -D "Version=${VERSION}" -D "ProductCode=${product_code}"
          -D "ProgramFiles=${program_files}" -D "Win64=${win64}" -o "${partial}" "${here}/MarrowbankServer.wxs"
  WORKING_DIRECTORY "${stage}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "MSI package: wixl failed (${result})")
endif()

# What wixl cannot write, set afterwards with SQL.
math(EXPR mode_attributes "128 + ${component_64bit}")
set(queries
  # NeverOverwrite (0x80) on the mode file's component, so that an administrator's edit survives.
  "UPDATE `Component` SET `Attributes` = ${mode_attributes} WHERE `Component` = 'ModeConfig'"
  # The event source's key, removed with the service's component (a name of "-" deletes the key with
  # its values when the component is removed), whether or not the executable is still there.
  "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('EventSource', 2, 'SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer', '-', 'Service')")
# Rollback actions: wixl writes Execute="rollback" as immediate. 3410 = an executable from the File
# table (18), continue on failure (64), in the script (1024), rollback (256), not impersonated (2048).
foreach(action RestartServiceOnRollback ReregisterServiceOnRollback)
  list(APPEND queries "UPDATE `CustomAction` SET `Type` = 3410 WHERE `Action` = '${action}'")
endforeach()
# RegisterService's rollback actions, right before it (order and why: packaging/MarrowbankServer.wxs).
# The system's own tools by name: 3426 = a command line run in a directory (34), continue on failure
# (64), rollback (256), in the script (1024), not impersonated (2048). SystemFolder is the 32-bit
# system folder on 64-bit Windows; the 64-bit package takes the 64-bit one.
set(system_folder SystemFolder)
if(ARCH STREQUAL "x64")
  set(system_folder System64Folder)
endif()
set(first_installation "$Service=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED")
set(sequence 4002)
foreach(action
    "RestorePreviousServiceOnRollback|${first_installation} AND PREVIOUSSERVICEEXE|\"[PREVIOUSSERVICEEXE]\" /install /quiet"
    "RemoveEventSourceOnRollback|${first_installation} AND NOT SERVICEREGISTERED|\"[${system_folder}]reg.exe\" delete \"HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer\" /f"
    "DeleteServiceOnRollback|${first_installation} AND NOT SERVICEREGISTERED|\"[${system_folder}]sc.exe\" delete MarrowbankServer"
    "StopServiceOnRollback|$Service=3 AND (Installed OR WIX_UPGRADE_DETECTED OR NOT PREVIOUSSERVICEEXE)|\"[${system_folder}]net.exe\" stop MarrowbankServer")
  string(REPLACE "|" ";" action "${action}")
  list(GET action 0 name)
  list(GET action 1 condition)
  list(GET action 2 command)
  list(APPEND queries
    "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${name}', 3426, 'TARGETDIR', '${command}')"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('${name}', '${condition}', ${sequence})")
  math(EXPR sequence "${sequence} + 1")
endforeach()
# The removal's step for the restart's queue and its rollback partner, right before RemoveFiles (why:
# packaging/MarrowbankServer.wxs): an executable from the Binary table (2), continue on failure (64), in
# the script (1024), not impersonated (2048), the partner also rollback (256). INSTALLDIR ends with a
# backslash: doubled before the closing quote, so that the command line does not read it as a quote.
set(removal "$Service=2 AND NOT UPGRADINGPRODUCTCODE")
list(APPEND queries
  "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RestoreQueuedRenamesOnRollback', 3394, 'CancelQueuedRenamesExe', '/restore \"[INSTALLDIR]\\\"')"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestoreQueuedRenamesOnRollback', '${removal}', 3498)"
  "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('CancelQueuedRenames', 3138, 'CancelQueuedRenamesExe', '/cancel \"[INSTALLDIR]\\\"')"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('CancelQueuedRenames', '${removal}', 3499)"
  # What the step set aside (*.cancelled in the folder), deleted with the folder's files on removal (2)
  # (wixl writes the table, empty, but not its RemoveFile element).
  "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('CancelledRenames', 'Service', '*.cancelled', 'INSTALLDIR', 2)")
# The package's properties, written into the mode file (why and how: packaging/MarrowbankServer.wxs):
# one IniFile row each (addLine, 0: creates the key or replaces its value) in a component installed
# only when the property is given, permanent (16) and transitive (64). RemoveIniValues and
# WriteIniValues at their standard places, WriteIniValues moved to right after InstallFiles, before
# the service is registered and started.
math(EXPR mode_property_attributes "16 + 64 + ${component_64bit}")
list(APPEND queries
  "CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `DirProperty` CHAR(72), `Section` CHAR(96) NOT NULL LOCALIZABLE, `Key` CHAR(128) NOT NULL LOCALIZABLE, `Value` CHAR(255) NOT NULL LOCALIZABLE, `Action` INT NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `IniFile`)"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveIniValues', 3100)"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 4001)")
foreach(pair AutoBack|AUTOBACK PollSeconds|POLLSECONDS LaunchAtLogon|LAUNCHATLOGON LaunchAs|LAUNCHAS)
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 key)
  list(GET pair 1 property)
  list(APPEND queries
    "INSERT INTO `IniFile` (`IniFile`, `FileName`, `DirProperty`, `Section`, `Key`, `Value`, `Action`, `Component_`) VALUES ('Mode${key}', 'ModeConfig.ini', 'LANGUAGEDIR', 'Fields', '${key}', '[${property}]', 0, 'Mode${key}')"
    "UPDATE `Component` SET `Condition` = '${property} <> \"\"', `Attributes` = ${mode_property_attributes} WHERE `Component` = 'Mode${key}'")
endforeach()
# PREVIOUSSERVICEEXE: the registered image path read as a file's path (msidbLocatorTypeFileName, 1),
# set when that file, MarrowbankServer.exe, exists.
list(APPEND queries
  "INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('PreviousServiceExe', 'MarrowbankServer.exe')"
  "INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('PreviousServiceExe', 2, 'SYSTEM\\CurrentControlSet\\Services\\MarrowbankServer', 'ImagePath', 1)"
  "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('PREVIOUSSERVICEEXE', 'PreviousServiceExe')")
# INSTALLDIR's access list: a table of its own (MsiLockPermissionsEx), its row written below, apart
# from this list, since the SDDL's semicolons would split it. The folder is the service component's
# CreateFolder row.
list(APPEND queries
  "CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDLText` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)")
if(ARCH STREQUAL "x64")
  # The searches read the 64-bit registry (msidbLocatorType64bit), where the 64-bit components write.
  list(APPEND queries "UPDATE `RegLocator` SET `Type` = 18 WHERE `Type` = 2"
                      "UPDATE `RegLocator` SET `Type` = 17 WHERE `Type` = 1")
endif()
if(FAIL_ACTION)
  # 3106 = a command line run in a directory (34), in the script (1024), not impersonated (2048); the
  # command interpreter's "exit 1" fails the installation at its last deferred step.
  list(APPEND queries
    "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('FailAtEnd', 3106, 'TARGETDIR', '\"[%COMSPEC]\" /c exit 1')"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('FailAtEnd', 'MARROWBANK_FAIL_AT_END', 6598)")
endif()
# Windows Installer's file versioning compares a file's version on disk with the File table's: a
# file with a version resource is listed with its version (and no hash), so that a newer one replaces
# an older one in an upgrade. Files without one keep the hash wixl wrote.
foreach(name ${installed_names})
  pe_file_version("${stage}/${name}" file_version)
  if(file_version)
    list(APPEND queries "UPDATE `File` SET `Version` = '${file_version}' WHERE `File` = '${name}'"
                        "DELETE FROM `MsiFileHash` WHERE `File_` = '${name}'")
  endif()
endforeach()
foreach(query ${queries})
  execute_process(COMMAND "${MSIBUILD}" "${partial}" -q "${query}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "MSI package: msibuild failed (${result}) on: ${query}")
  endif()
endforeach()
execute_process(COMMAND "${MSIBUILD}" "${partial}" -q "INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDLText`) VALUES ('InstallDirAccess', 'INSTALLDIR', 'CreateFolder', '${install_dir_sddl}')"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "MSI package: msibuild failed (${result}) writing INSTALLDIR's access list")
endif()
# The properties pass from the client to the installation's server side also in an installation a
# user who is not an administrator runs elevated (wixl writes the upgrade's two; the semicolons would
# split the list above).
execute_process(COMMAND "${MSIBUILD}" "${partial}" -q "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;AUTOBACK;POLLSECONDS;LAUNCHATLOGON;LAUNCHAS' WHERE `Property` = 'SecureCustomProperties'"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "MSI package: msibuild failed (${result}) writing SecureCustomProperties")
endif()
if(ARCH STREQUAL "x64")
  set(template "x64;1033")
else()
  set(template "Intel;1033")
endif()
execute_process(COMMAND "${MSIBUILD}" "${partial}" -s "MarrowbankServer ${VERSION}" Marrowbank "${template}"
                        "{${package_code}}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "MSI package: msibuild failed (${result}) setting the package code")
endif()
if(SIGN_PFX)
  sign("${partial}")
endif()
file(RENAME "${partial}" "${OUTPUT}")
file(REMOVE_RECURSE "${stage}")
