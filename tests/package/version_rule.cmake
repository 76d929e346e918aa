# The package build refuses a version Windows Installer would not honour, before anything is built,
# with a message naming the rule; a version it honours passes that check (and here stops at the
# missing maker's folder, the next check).
#   cmake -DBUILD_SCRIPT=.../build-package.cmake -DWORK_DIR=<folder> -P version_rule.cmake
cmake_minimum_required(VERSION 3.25)
set(failures "")
set(rule "major.minor.build, major and minor 0 to 255, build 0 to 65535, an optional fourth field only if 0")
foreach(case
    "1.0.0.1|refused"          # a fourth field Windows Installer ignores: a second product beside the first
    "1.0.0.0|honoured"
    "256.0.0|refused"
    "1.256.0|refused"
    "255.255.65535|honoured"
    "1.0.65536|refused"
    "1.0|refused"
    "1.0.0-rc1|refused")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 version)
  list(GET case 1 want)
  execute_process(COMMAND ${CMAKE_COMMAND} -DVERSION=${version} -DMAKER_DIR=${WORK_DIR}/no-maker-folder
                          -DEXECUTABLE=${WORK_DIR}/none.exe -DOUTPUT=${WORK_DIR}/none.msi -P ${BUILD_SCRIPT}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX REPLACE "[ \n]+" " " output "${output}")
  string(FIND "${output}" "version '${version}' is not one Windows Installer honours (${rule})" refused)
  if(want STREQUAL "refused" AND (result EQUAL 0 OR refused EQUAL -1))
    list(APPEND failures "version ${version} was not refused by the rule: ${output}")
  elseif(want STREQUAL "honoured" AND NOT refused EQUAL -1)
    list(APPEND failures "version ${version} was refused: ${output}")
  endif()
endforeach()
if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "${failures}")
endif()
