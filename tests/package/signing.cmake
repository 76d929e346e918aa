# Signs a stand-in package with a throwaway code-signing certificate made here, as the release build
# signs the product package: the executable before it is packaged, then the package. osslsigncode must
# accept both signatures (against that certificate). The signed executable is left in WORK_DIR as
# signed-MarrowbankServer.exe with the t3FPDll.dll it imports, for the package test to run under Wine in
# its own prefix.
#   cmake -DOPENSSL=... -DOSSLSIGNCODE=... -DMSIEXTRACT=... -DWIXL=... -DMSIBUILD=... -DOBJDUMP=...
#         -DARCH=x86|x64 -DEXECUTABLE=... -DRENAMES_TOOL=... -DMAKER_DIR=... -DWORK_DIR=... -DBUILD_SCRIPT=... -P signing.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed (${result}):\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

set(password "throwaway-test-password")
run("${OPENSSL}" req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2
    -subj "/CN=Marrowbank throwaway test signer" -addext "extendedKeyUsage=codeSigning")
run("${OPENSSL}" pkcs12 -export -inkey key.pem -in cert.pem -out signer.pfx -passout "pass:${password}")

run("${CMAKE_COMMAND}" -DWIXL=${WIXL} -DMSIBUILD=${MSIBUILD} -DOBJDUMP=${OBJDUMP} -DVERSION=1.0.0 -DARCH=${ARCH}
    -DEXECUTABLE=${EXECUTABLE} -DMAKER_DIR=${MAKER_DIR} -DOUTPUT=${WORK_DIR}/signed.msi -DRENAMES_TOOL=${RENAMES_TOOL}
    -DOSSLSIGNCODE=${OSSLSIGNCODE} -DSIGN_PFX=${WORK_DIR}/signer.pfx -DSIGN_PASSWORD=${password}
    -P "${BUILD_SCRIPT}")
run("${MSIEXTRACT}" -C extracted signed.msi)
file(GLOB_RECURSE signed_exe "${WORK_DIR}/extracted/*/MarrowbankServer.exe")
if(NOT signed_exe)
  message(FATAL_ERROR "no MarrowbankServer.exe in the signed package")
endif()
foreach(file "${WORK_DIR}/signed.msi" "${signed_exe}")
  run("${OSSLSIGNCODE}" verify -CAfile "${WORK_DIR}/cert.pem" -in "${file}")
  if(NOT output MATCHES "Signature verification: ok")
    message(FATAL_ERROR "${file}: the signature was not verified:\n${output}")
  endif()
  message(STATUS "${file}: signature verified")
endforeach()
# The unsigned executable is not what was packaged.
file(SHA256 "${EXECUTABLE}" unsigned_hash)
file(SHA256 "${signed_exe}" signed_hash)
if(unsigned_hash STREQUAL signed_hash)
  message(FATAL_ERROR "the packaged executable is the unsigned one")
endif()

# With the SDK it imports beside it, so that it loads.
get_filename_component(installed_dir "${signed_exe}" DIRECTORY)
file(COPY_FILE "${signed_exe}" "${WORK_DIR}/signed-MarrowbankServer.exe")
file(COPY_FILE "${installed_dir}/t3FPDll.dll" "${WORK_DIR}/t3FPDll.dll")
file(REMOVE "${WORK_DIR}/key.pem" "${WORK_DIR}/signer.pfx")
