# Reads the stand-in packages' tables (msiinfo export) and checks what Windows Installer acts on but
# Wine's installer does not enforce: file versions, the rollback actions and their order, the service's
# removal by name, files in use, the remembered folder, and the codes derived from the version.
#   cmake -DMSIINFO=... -DPACKAGE=<x.y.z, with the failing last step> -DPLAIN_PACKAGE=<x.y.z, without it>
#         -DUPGRADE=<x.y.(z+1), with it> -DVERSION=x.y.z -DNEXT_VERSION=x.y.(z+1) -DARCH=x86|x64 -P package_rules.cmake
cmake_minimum_required(VERSION 3.25)
set(failures "")
# Records a failure when the value of the variable `actual` is not `expected`.
function(expect actual expected what)
  if(NOT "${${actual}}" STREQUAL "${expected}")
    list(APPEND failures "${what}:\n  ${${actual}}\nexpected\n  ${expected}")
    set(failures "${failures}" PARENT_SCOPE)
  endif()
endfunction()

# The rows of a table, columns joined by "|", sorted; the three header lines dropped.
function(rows package table out)
  execute_process(COMMAND "${MSIINFO}" export "${package}" ${table} OUTPUT_VARIABLE text RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msiinfo export ${package} ${table} failed")
  endif()
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE ";" "\\;" text "${text}")
  string(REPLACE "\t" "|" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  list(SUBLIST lines 3 -1 lines)
  list(FILTER lines EXCLUDE REGEX "^$")
  list(SORT lines)
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# The rows whose first column is `key`, without that column.
function(row_of package table key out)
  rows("${package}" ${table} all)
  list(FILTER all INCLUDE REGEX "^${key}\\|")
  list(TRANSFORM all REPLACE "^${key}\\|(.*)$" "\\1")
  set(${out} "${all}" PARENT_SCOPE)
endfunction()

function(revision package out)
  execute_process(COMMAND "${MSIINFO}" suminfo "${package}" OUTPUT_VARIABLE text)
  string(REGEX MATCH "Revision number \\(UUID\\): ({[0-9A-F-]+})" _ "${text}")
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

set(version4 "${VERSION}.0")
set(bit64 0)  # msidbComponentAttributes64bit, on the 64-bit package's components
if(ARCH STREQUAL "x64")
  set(bit64 256)
endif()
set(next_version4 "${NEXT_VERSION}.0")

foreach(case "${PACKAGE}|${version4}" "${PLAIN_PACKAGE}|${version4}" "${UPGRADE}|${next_version4}")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 package)
  list(GET case 1 exe_version)
  get_filename_component(name "${package}" NAME)

  # 1. Versioned files carry their version and no hash; unversioned ones a hash. The stand-in desktop
  #    program has a version resource (3.1.4.1), the two stand-in DLLs have none.
  rows("${package}" File files)
  list(TRANSFORM files REPLACE "^([^|]*)\\|[^|]*\\|[^|]*\\|[^|]*\\|([^|]*)\\|.*$" "\\1=\\2")
  set(expected "JMUsbDll.dll=" "Marrowbank.exe=3.1.4.1" "MarrowbankServer.exe=${exe_version}" "ModeConfig.ini="
               "t3FPDll.dll=")
  expect(files "${expected}" "${name}: File versions")
  rows("${package}" MsiFileHash hashes)
  list(TRANSFORM hashes REPLACE "\\|.*$" "")
  set(expected JMUsbDll.dll ModeConfig.ini t3FPDll.dll)
  expect(hashes "${expected}" "${name}: MsiFileHash rows")

  # 3. No restart nobody asked for: Restart Manager closes no application, and a file in use is
  #    replaced at the next restart the administrator chooses (3010), never one the package starts.
  foreach(property "MSIRESTARTMANAGERCONTROL=Disable" "REBOOT=ReallySuppress")
    string(REPLACE "=" ";" property "${property}")
    list(GET property 0 key)
    list(GET property 1 value)
    row_of("${package}" Property ${key} got)
    expect(got "${value}" "${name}: property ${key}")
  endforeach()

  # 4. The install folder gets an access list of its own, not its parent's: protected, SYSTEM and
  #    Administrators full control, Users read and execute, inherited by all it holds.
  # (Read whole: the SDDL's semicolons would split a list; compared with them as commas.)
  execute_process(COMMAND "${MSIINFO}" export "${package}" MsiLockPermissionsEx OUTPUT_VARIABLE locks)
  string(REGEX REPLACE "^[^\n]*\n[^\n]*\n[^\n]*\n" "" locks "${locks}")
  string(REGEX REPLACE "[\r\n]+$" "" locks "${locks}")
  string(REPLACE ";" "," locks "${locks}")
  string(REPLACE "\t" "|" locks "${locks}")
  expect(locks "InstallDirAccess|INSTALLDIR|CreateFolder|D:PAI(A,OICI,FA,,,SY)(A,OICI,FA,,,BA)(A,OICI,FRFX,,,BU)|"
         "${name}: MsiLockPermissionsEx")
  rows("${package}" CreateFolder folders)
  expect(folders "INSTALLDIR|Service" "${name}: CreateFolder")
  execute_process(COMMAND "${MSIINFO}" tables "${package}" OUTPUT_VARIABLE tables)
  if(tables MATCHES "(^|\n)LockPermissions\r?\n")
    list(APPEND failures "${name}: a LockPermissions table beside MsiLockPermissionsEx (Windows Installer refuses both, 1941)")
  endif()

  # 2. Each change has its rollback action before it; the rollback actions' type is 3410 (file, continue,
  #    in script, rollback, no impersonation), the deferred ones 3090 (check) or 3154 (continue).
  rows("${package}" CustomAction actions)
  # The rollback of a first installation's registration runs the system's tools by name (3426: a
  # command line, continue, rollback, in script, no impersonation), from the folder of the package's
  # architecture.
  set(system_folder SystemFolder)
  if(ARCH STREQUAL "x64")
    set(system_folder System64Folder)
  endif()
  set(expected
    "DeleteServiceOnRollback|3426|TARGETDIR|\"[${system_folder}]sc.exe\" delete MarrowbankServer|"
    "RegisterService|3090|MarrowbankServer.exe|/install /quiet|"
    "RemoveEventSourceOnRollback|3426|TARGETDIR|\"[${system_folder}]reg.exe\" delete \"HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer\" /f|"
    "ReregisterServiceOnRollback|3410|MarrowbankServer.exe|/install /quiet|"
    "RestartServiceOnRollback|3410|MarrowbankServer.exe|/start /quiet|"
    "RestorePreviousServiceOnRollback|3426|TARGETDIR|\"[PREVIOUSSERVICEEXE]\" /install /quiet|"
    "StopServiceOnRollback|3426|TARGETDIR|\"[${system_folder}]net.exe\" stop MarrowbankServer|"
    "StopServiceProcess|3154|MarrowbankServer.exe|/stop /quiet|"
    # The removal's step for the restart's queue, from the Binary table (2), and its rollback partner.
    "CancelQueuedRenames|3138|CancelQueuedRenamesExe|/cancel \"[INSTALLDIR]\\\"|"
    "RestoreQueuedRenamesOnRollback|3394|CancelQueuedRenamesExe|/restore \"[INSTALLDIR]\\\"|")
  if(NOT package STREQUAL PLAIN_PACKAGE)
    list(APPEND expected "FailAtEnd|3106|TARGETDIR|\"[%COMSPEC]\" /c exit 1|")
  endif()
  list(SORT expected)
  expect(actions "${expected}" "${name}: CustomAction rows")
  set(first "$Service=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED")
  rows("${package}" InstallExecuteSequence sequence)
  list(FILTER sequence INCLUDE REGEX
       "^(RestartServiceOnRollback|ReregisterServiceOnRollback|StopServiceProcess|StopServices|DeleteServices|RemoveRegistryValues|RemoveFiles|InstallFiles|RemoveIniValues|WriteIniValues|RestorePreviousServiceOnRollback|StopServiceOnRollback|DeleteServiceOnRollback|RemoveEventSourceOnRollback|RegisterService|FailAtEnd|InstallFinalize|RemoveExistingProducts|AppSearch|CancelQueuedRenames|RestoreQueuedRenamesOnRollback)\\|")
  set(expected
    "AppSearch||50"
    "DeleteServices|VersionNT|2000"
    "InstallFiles||4000"
    "InstallFinalize||6600"
    "RegisterService|$Service=3|4006"
    "RemoveExistingProducts||6601"
    "RemoveFiles||3500"
    "RemoveRegistryValues||2600"
    "RemoveIniValues||3100"
    "WriteIniValues||4001"
    "ReregisterServiceOnRollback|$Service=2 AND NOT UPGRADINGPRODUCTCODE|1999"
    "RestartServiceOnRollback|$Service=3 AND (Installed OR WIX_UPGRADE_DETECTED)|1894"
    "StopServiceProcess|(Installed OR WIX_UPGRADE_DETECTED) AND NOT UPGRADINGPRODUCTCODE AND ($Service=2 OR $Service=3)|1895"
    "StopServices|VersionNT|1900"
    "RestorePreviousServiceOnRollback|${first} AND PREVIOUSSERVICEEXE|4002"
    "RemoveEventSourceOnRollback|${first} AND NOT SERVICEREGISTERED|4003"
    "DeleteServiceOnRollback|${first} AND NOT SERVICEREGISTERED|4004"
    "StopServiceOnRollback|$Service=3 AND (Installed OR WIX_UPGRADE_DETECTED OR NOT PREVIOUSSERVICEEXE)|4005"
    "RestoreQueuedRenamesOnRollback|$Service=2 AND NOT UPGRADINGPRODUCTCODE|3498"
    "CancelQueuedRenames|$Service=2 AND NOT UPGRADINGPRODUCTCODE|3499")
  if(NOT package STREQUAL PLAIN_PACKAGE)
    list(APPEND expected "FailAtEnd|MARROWBANK_FAIL_AT_END|6598")
  endif()
  list(SORT expected)
  expect(sequence "${expected}" "${name}: InstallExecuteSequence")

  # 2. Each rollback action comes right before the step it undoes, with nothing of the whole
  #    sequence between them: a rollback runs as soon as everything after its step is undone (the
  #    new service stops before its files are put back, the older one starts after).
  rows("${package}" InstallExecuteSequence all_steps)
  list(TRANSFORM all_steps REPLACE "^([^|]*)\\|.*\\|([0-9]+)$" "\\2 \\1")
  list(SORT all_steps COMPARE NATURAL)
  list(TRANSFORM all_steps REPLACE "^[0-9]+ " "")
  foreach(pair
      "RestartServiceOnRollback>StopServiceProcess"
      "ReregisterServiceOnRollback>DeleteServices"
      "RestorePreviousServiceOnRollback,RemoveEventSourceOnRollback,DeleteServiceOnRollback,StopServiceOnRollback>RegisterService"
      # The package properties' lines are in the mode file before the service starts.
      "InstallFiles,WriteIniValues>RestorePreviousServiceOnRollback"
      # The queue is edited right before the files go, so that what it set aside goes with them.
      "RestoreQueuedRenamesOnRollback,CancelQueuedRenames>RemoveFiles")
    string(REPLACE ">" ";" pair "${pair}")
    list(GET pair 0 before)
    list(GET pair 1 partner)
    string(REPLACE "," ";" before "${before}")
    list(LENGTH before count)
    list(FIND all_steps ${partner} at)
    math(EXPR from "${at} - ${count}")
    if(from LESS 0)
      set(from 0)
    endif()
    list(SUBLIST all_steps ${from} ${count} got)
    expect(got "${before}" "${name}: the steps right before ${partner}")
  endforeach()

  # 7. The service is stopped on installation and removal and deleted by name on removal (0x2 | 0x20
  #    | 0x80), waiting; the event source's key goes with the component; the folder is remembered.
  rows("${package}" ServiceControl control)
  expect(control "MarrowbankServer|MarrowbankServer|162||1|Service" "${name}: ServiceControl")
  rows("${package}" Registry registry)
  list(TRANSFORM registry REPLACE "^[^|]*\\|(.*)$" "\\1")
  list(SORT registry)
  set(expected
    "2|SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer|-||Service"
    "2|SOFTWARE\\Marrowbank\\MarrowbankServer|InstallDir|[INSTALLDIR]|Service")
  string(TOUPPER "${registry}" registry_upper)
  string(TOUPPER "${expected}" expected_upper)
  expect(registry_upper "${expected_upper}" "${name}: Registry (letter case aside)")
  # The package's properties: each one's line in the mode file's section [Fields] (addLine, 0), in a
  # component of its own that is installed only when the property is given, permanent (16: the older
  # product's removal in an upgrade leaves the line) and transitive (64: a repair without the property
  # writes nothing), with no key path of its own (the folder); the properties reach the server side.
  rows("${package}" IniFile ini)
  set(expected "")
  set(components "")
  math(EXPR mode_property_attributes "16 + 64 + ${bit64}")
  foreach(pair AutoBack|AUTOBACK LaunchAs|LAUNCHAS LaunchAtLogon|LAUNCHATLOGON PollSeconds|POLLSECONDS)
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 key)
    list(GET pair 1 property)
    list(APPEND expected "Mode${key}|ModeConfig.ini|LANGUAGEDIR|Fields|${key}|[${property}]|0|Mode${key}")
    list(APPEND components "Mode${key}|LANGUAGEDIR|${mode_property_attributes}|${property} <> \"\"|")
  endforeach()
  list(SORT expected)
  expect(ini "${expected}" "${name}: IniFile")
  rows("${package}" Component component_rows)
  list(FILTER component_rows INCLUDE REGEX "^Mode[A-Za-z]+\\|")
  list(FILTER component_rows EXCLUDE REGEX "^ModeConfig\\|")
  list(TRANSFORM component_rows REPLACE "^([^|]*)\\|[^|]*\\|(.*)$" "\\1|\\2")
  list(SORT components)
  expect(component_rows "${components}" "${name}: the package properties' components")
  # (Read whole, its semicolons compared as commas, as the access list above.)
  execute_process(COMMAND "${MSIINFO}" export "${package}" Property OUTPUT_VARIABLE properties)
  string(REGEX MATCH "\nSecureCustomProperties\t([^\r\n]*)" _ "${properties}")
  string(REPLACE ";" "," secure "${CMAKE_MATCH_1}")
  expect(secure "WIX_DOWNGRADE_DETECTED,WIX_UPGRADE_DETECTED,AUTOBACK,POLLSECONDS,LAUNCHATLOGON,LAUNCHAS"
         "${name}: SecureCustomProperties")
  # What the queue's step set aside in the folder goes with the folder's files on removal (2); the
  # step itself comes from the package, not from the installed files.
  rows("${package}" RemoveFile remove_files)
  expect(remove_files "CancelledRenames|Service|*.cancelled|INSTALLDIR|2" "${name}: RemoveFile")
  rows("${package}" Binary binaries)
  list(TRANSFORM binaries REPLACE "\\|.*$" "")
  expect(binaries "CancelQueuedRenamesExe" "${name}: Binary")
  rows("${package}" AppSearch search)
  rows("${package}" RegLocator locator)
  expect(search "INSTALLDIR|RememberedInstallDir;PREVIOUSSERVICEEXE|PreviousServiceExe;SERVICEREGISTERED|RegisteredService"
         "${name}: AppSearch")
  # Raw values (2) and a file's path (1), from the 64-bit registry (+16) in the 64-bit package.
  set(bits 0)
  if(ARCH STREQUAL "x64")
    set(bits 16)
  endif()
  math(EXPR raw "2 + ${bits}")
  math(EXPR file "1 + ${bits}")
  set(expected "PreviousServiceExe|2|SYSTEM\\CurrentControlSet\\Services\\MarrowbankServer|ImagePath|${file}"
               "RegisteredService|2|SYSTEM\\CurrentControlSet\\Services\\MarrowbankServer|ImagePath|${raw}"
               "RememberedInstallDir|2|Software\\Marrowbank\\MarrowbankServer|InstallDir|${raw}")
  expect(locator "${expected}" "${name}: RegLocator")
  rows("${package}" Signature signature)
  expect(signature "PreviousServiceExe|MarrowbankServer.exe|||||||" "${name}: Signature")
endforeach()

# 7, 6. The product code follows the version: two different packages of one version share it (a
# second build installs over the first instead of beside it), another version has another; the
# package code follows the contents.
row_of("${PACKAGE}" Property ProductCode product)
row_of("${PLAIN_PACKAGE}" Property ProductCode plain_product)
row_of("${UPGRADE}" Property ProductCode upgrade_product)
expect(plain_product "${product}" "product code of the other package of version ${VERSION}")
if(upgrade_product STREQUAL product)
  list(APPEND failures "the product code did not change with the version: ${product}")
endif()
string(UUID expected NAMESPACE ACB2AD23-EE6F-4CC5-A952-9ED6F133063F NAME "MarrowbankServer ${VERSION} ${ARCH}" TYPE SHA1 UPPER)
expect(product "{${expected}}" "product code")
revision("${PACKAGE}" package_code)
revision("${PLAIN_PACKAGE}" plain_package_code)
if(package_code STREQUAL plain_package_code)
  list(APPEND failures "two different packages share the package code ${package_code}")
endif()

if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "package tables as expected; product code ${product}")
