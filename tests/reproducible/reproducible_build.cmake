# Builds MarrowbankServer.exe (release, stripped, with its debug file) twice from SOURCE_DIR, in two
# fresh folders whose paths differ in name and length, and compares the bytes of both files.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DTOOLCHAIN=... -DGENERATOR=... -P reproducible_build.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK_DIR}")
set(trees "${WORK_DIR}/a" "${WORK_DIR}/second/build-folder-b")
foreach(tree ${trees})
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${tree}" -G "${GENERATOR}" "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}"
            -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DMARROWBANK_MAKER_DIR=
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "configuring ${tree} failed:\n${output}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" --build "${tree}" --target MarrowbankServer -j2
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "building ${tree} failed:\n${output}")
  endif()
endforeach()

list(GET trees 0 first)
list(GET trees 1 second)
set(failures "")
foreach(name MarrowbankServer.exe MarrowbankServer.debug)
  file(SHA256 "${first}/service/${name}" hash_first)
  file(SHA256 "${second}/service/${name}" hash_second)
  file(SIZE "${first}/service/${name}" size)
  if(hash_first STREQUAL hash_second)
    message(STATUS "${name}: identical in both builds (${size} bytes, SHA-256 ${hash_first})")
  else()
    execute_process(COMMAND cmp -l "${first}/service/${name}" "${second}/service/${name}" OUTPUT_VARIABLE differing)
    string(REGEX MATCHALL "\n" lines "\n${differing}")
    list(LENGTH lines count)
    math(EXPR count "${count} - 1")
    list(APPEND failures "${name} differs between the builds (${count} bytes)")
  endif()
endforeach()
if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "${failures}\nkept for comparison: ${first} and ${second}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
