# Run at install time, after the files and before SHA256SUMS: signs both
# programs with Authenticode (SHA-256) when a code-signing certificate is
# given, in the environment at packaging time or as cache variables:
#   ZANDOR_SIGN_PFX            the certificate and its key, PKCS#12
#   ZANDOR_SIGN_PASSWORD_FILE  a file whose first line is its password
#   ZANDOR_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
# Without a certificate nothing is done: the package stays byte for byte the
# unsigned build's. With one, only a build of a committed tree as it is now is
# signed (cmake/commit_id.cmake), and README.txt then says it is signed.
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
# A signature vouches for the commit the package names: refused for a tree
# with uncommitted changes and for one that is no git checkout. CPack builds
# everything first, so the build names the tree as it is now, unless the tree
# changed since.
include(${ZANDOR_SOURCE_DIR}/cmake/commit_id.cmake)
zandor_commit_id(now ${ZANDOR_SOURCE_DIR} ${ZANDOR_BINARY_DIR})
file(STRINGS ${ZANDOR_BINARY_DIR}/provenance/commit_id.txt built)
if(now MATCHES "-dirty$")
  message(FATAL_ERROR "not signing: ${ZANDOR_SOURCE_DIR} has uncommitted changes (see git status); "
    "commit them, or set them aside, and build the package again")
elseif(now STREQUAL "unknown")
  message(FATAL_ERROR "not signing: ${ZANDOR_SOURCE_DIR} is not a git checkout, so the package cannot name its commit")
elseif(NOT now STREQUAL built)
  message(FATAL_ERROR "not signing: the programs were built from ${built}, the tree is now at ${now}; "
    "build the package again")
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
# README.txt as the build made it, but saying signed.
set(ZANDOR_COMMIT ${built})
set(ZANDOR_SIGNED "Both programs are signed: see Properties, Digital Signatures.")
configure_file(${ZANDOR_SOURCE_DIR}/package/README.txt.in "${dest}/README.txt" @ONLY NEWLINE_STYLE CRLF)
