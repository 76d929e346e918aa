# Runs the package build with maker's folders it must refuse: each must fail, name the file and what
# is wrong with it, and leave no package behind.
#   cmake -DWIXL=... -DMSIBUILD=... -DOBJDUMP=... -DEXECUTABLE=... -DSTANDINS_DIR=<complete maker's folder>
#         -DUNSHIPPED_IMPORT=<a Marrowbank.exe importing NobodyShips.dll> -DWORK_DIR=... -DBUILD_SCRIPT=...
#         -P refused_maker_files.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK_DIR}")

# Case "missing": no JMUsbDll.dll.
file(MAKE_DIRECTORY "${WORK_DIR}/missing")
file(COPY_FILE "${STANDINS_DIR}/t3FPDll.dll" "${WORK_DIR}/missing/t3FPDll.dll")
file(COPY_FILE "${STANDINS_DIR}/Marrowbank.exe" "${WORK_DIR}/missing/Marrowbank.exe")
# Case "unshipped": a desktop program that imports a DLL neither Windows nor the package has.
file(MAKE_DIRECTORY "${WORK_DIR}/unshipped")
foreach(name t3FPDll.dll JMUsbDll.dll)
  file(COPY_FILE "${STANDINS_DIR}/${name}" "${WORK_DIR}/unshipped/${name}")
endforeach()
file(COPY_FILE "${UNSHIPPED_IMPORT}" "${WORK_DIR}/unshipped/Marrowbank.exe")

set(cases
  "missing|JMUsbDll\\.dll is missing from the maker's folder"
  "unshipped|Marrowbank\\.exe imports NobodyShips\\.dll, which is neither a Windows system DLL nor a file of the package")
foreach(case ${cases})
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 name)
  list(GET case 1 expected)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -DWIXL=${WIXL} -DMSIBUILD=${MSIBUILD} -DOBJDUMP=${OBJDUMP} -DVERSION=1.0.0
            -DEXECUTABLE=${EXECUTABLE} -DMAKER_DIR=${WORK_DIR}/${name} -DOUTPUT=${WORK_DIR}/${name}.msi
            -P "${BUILD_SCRIPT}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(result EQUAL 0)
    message(FATAL_ERROR "${name}: the package was built")
  endif()
  # CMake wraps the message's lines.
  string(REGEX REPLACE "[ \n]+" " " flat "${output}")
  if(NOT flat MATCHES "${expected}")
    message(FATAL_ERROR "${name}: the failure does not say '${expected}':\n${output}")
  endif()
  if(EXISTS "${WORK_DIR}/${name}.msi")
    message(FATAL_ERROR "${name}: a package was left behind")
  endif()
  message(STATUS "${name}: refused:\n${output}")
endforeach()
