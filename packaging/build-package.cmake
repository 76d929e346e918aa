# Builds the MSI package; run by the build (packaging/CMakeLists.txt) as
#   cmake -DWIXL=... -DMSIBUILD=... -DVERSION=x.y.z [-DARCH=x86|x64] -DEXECUTABLE=.../MarrowbankServer.exe
#         -DMAKER_DIR=<folder with t3FPDll.dll, JMUsbDll.dll, Marrowbank.exe> -DOUTPUT=.../x.msi
#         -P build-package.cmake
# A maker file that is missing stops the build with a message that names it.
cmake_minimum_required(VERSION 3.25)

foreach(name t3FPDll.dll JMUsbDll.dll Marrowbank.exe)
  if(NOT EXISTS "${MAKER_DIR}/${name}")
    message(FATAL_ERROR "MSI package: ${name} is missing from the maker's folder ${MAKER_DIR} "
                        "(MARROWBANK_MAKER_DIR must hold t3FPDll.dll, JMUsbDll.dll and Marrowbank.exe)")
  endif()
endforeach()
if(NOT EXISTS "${EXECUTABLE}")
  message(FATAL_ERROR "MSI package: the executable ${EXECUTABLE} is missing")
endif()

# x86 is what ships; x64 packages the 64-bit test build, which installs into the 64-bit Program Files.
if(NOT ARCH)
  set(ARCH x86)
endif()
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

get_filename_component(here "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
# wixl takes sources relative to where it runs: stage the five files under their installed names.
set(stage "${OUTPUT}.stage")
set(partial "${OUTPUT}.partial")
file(REMOVE_RECURSE "${stage}")
file(REMOVE "${partial}" "${OUTPUT}")
file(MAKE_DIRECTORY "${stage}")
file(COPY_FILE "${EXECUTABLE}" "${stage}/MarrowbankServer.exe")
foreach(name t3FPDll.dll JMUsbDll.dll Marrowbank.exe)
  file(COPY_FILE "${MAKER_DIR}/${name}" "${stage}/${name}")
endforeach()
file(COPY_FILE "${here}/ModeConfig.ini" "${stage}/ModeConfig.ini")
execute_process(
  COMMAND "${WIXL}" -a ${ARCH} -D "Version=${VERSION}" -D "ProgramFiles=${program_files}" -D "Win64=${win64}" -o "${partial}" "${here}/MarrowbankServer.wxs"
  WORKING_DIRECTORY "${stage}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "MSI package: wixl failed (${result})")
endif()
# wixl has no NeverOverwrite attribute: set it (0x80) on the mode file's component afterwards.
math(EXPR mode_attributes "128 + ${component_64bit}")
execute_process(COMMAND "${MSIBUILD}" "${partial}" -q "UPDATE `Component` SET `Attributes` = ${mode_attributes} WHERE `Component` = 'ModeConfig'"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "MSI package: msibuild failed (${result})")
endif()
file(RENAME "${partial}" "${OUTPUT}")
file(REMOVE_RECURSE "${stage}")
