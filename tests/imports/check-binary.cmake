cmake_minimum_required(VERSION 3.25)
# Checks one built Windows binary from the Linux side (no Wine needed):
#   cmake -DOBJDUMP=... -DBINARY=... -DALLOWED="a.dll;b.dll" [-DGUI_EXE=ON] -P check-binary.cmake
# Every imported DLL must be in ALLOWED (system DLLs, plus the SDK for the service): nothing built here may
# need the compiler's runtime DLLs. With GUI_EXE, the binary must also be a PE32 GUI-subsystem program whose
# embedded manifest asks for administrator rights.
execute_process(COMMAND ${OBJDUMP} -p ${BINARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${BINARY}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(imports "")
foreach(line ${lines})
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  list(APPEND imports ${dll})
endforeach()
string(TOLOWER "${ALLOWED}" allowed)
foreach(dll ${imports})
  if(NOT dll IN_LIST allowed)
    message(FATAL_ERROR "${BINARY} imports ${dll}, which is not allowed (allowed: ${allowed})")
  endif()
endforeach()
message(STATUS "${BINARY} imports: ${imports}")

if(GUI_EXE)
  if(NOT dump MATCHES "Magic[\t ]+010b")
    message(FATAL_ERROR "${BINARY} is not PE32")
  endif()
  if(NOT dump MATCHES "Subsystem[\t ]+00000002")
    message(FATAL_ERROR "${BINARY} is not a GUI-subsystem program")
  endif()
  file(STRINGS ${BINARY} manifest REGEX "requestedExecutionLevel")
  if(NOT manifest MATCHES "level=\"requireAdministrator\"")
    message(FATAL_ERROR "${BINARY} has no manifest asking for administrator rights")
  endif()
endif()
