# Runs the package build with a maker's folder that lacks JMUsbDll.dll: it must fail, name the
# file, and leave no package behind.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/maker")
file(WRITE "${WORK_DIR}/maker/t3FPDll.dll" "")
file(WRITE "${WORK_DIR}/maker/Marrowbank.exe" "")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -DWIXL=${WIXL} -DMSIBUILD=${MSIBUILD} -DVERSION=1.0.0 -DEXECUTABLE=${EXECUTABLE}
          -DMAKER_DIR=${WORK_DIR}/maker -DOUTPUT=${WORK_DIR}/out.msi -P "${BUILD_SCRIPT}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result EQUAL 0)
  message(FATAL_ERROR "the package was built without JMUsbDll.dll")
endif()
if(NOT output MATCHES "JMUsbDll\\.dll is missing from the maker's folder")
  message(FATAL_ERROR "the failure does not name JMUsbDll.dll:\n${output}")
endif()
if(EXISTS "${WORK_DIR}/out.msi")
  message(FATAL_ERROR "a package was left behind")
endif()
message(STATUS "refused, naming the file:\n${output}")
