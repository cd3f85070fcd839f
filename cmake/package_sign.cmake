# Run at install time, after the files and before SHA256SUMS: signs both
# programs with Authenticode (SHA-256) when a code-signing certificate is
# given, in the environment at packaging time or as cache variables:
#   ZANDOR_SIGN_PFX            the certificate and its key, PKCS#12
#   ZANDOR_SIGN_PASSWORD_FILE  a file whose first line is its password
#   ZANDOR_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
# Without a certificate nothing is done: the package stays byte for byte the
# unsigned build's.
foreach(v PFX PASSWORD_FILE TIMESTAMP_URL)
  if(NOT "$ENV{ZANDOR_SIGN_${v}}" STREQUAL "")
    set(ZANDOR_SIGN_${v} "$ENV{ZANDOR_SIGN_${v}}")
  endif()
endforeach()
if("${ZANDOR_SIGN_PFX}" STREQUAL "")
  return()
endif()
if(NOT EXISTS "${ZANDOR_SIGN_PFX}" OR NOT EXISTS "${ZANDOR_SIGN_PASSWORD_FILE}")
  message(FATAL_ERROR "signing needs ZANDOR_SIGN_PFX (\"${ZANDOR_SIGN_PFX}\") and "
    "ZANDOR_SIGN_PASSWORD_FILE (\"${ZANDOR_SIGN_PASSWORD_FILE}\") to name existing files")
endif()
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
set(timestamp "")
if(NOT "${ZANDOR_SIGN_TIMESTAMP_URL}" STREQUAL "")
  set(timestamp -ts "${ZANDOR_SIGN_TIMESTAMP_URL}")
endif()
set(dest "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
foreach(name IN ITEMS zandor-patcher.exe zandor-patcher-cli.exe)
  file(REMOVE "${dest}/${name}.signed")
  execute_process(COMMAND ${OSSLSIGNCODE} sign -pkcs12 "${ZANDOR_SIGN_PFX}" -readpass "${ZANDOR_SIGN_PASSWORD_FILE}"
      -h sha256 -n "ZANDOR patcher" ${timestamp} -in "${dest}/${name}" -out "${dest}/${name}.signed"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME "${dest}/${name}.signed" "${dest}/${name}")
  # As install(TARGETS) leaves a program.
  file(CHMOD "${dest}/${name}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
  message(STATUS "signed ${name}")
endforeach()
