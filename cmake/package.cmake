# The release package: cmake --build --preset win32 --target package makes
# zandor-patcher-<version>-win32.zip (-win64.zip from the win64 preset, for
# the Wine steps only) with both programs, the players' README (CRLF line
# ends, naming the commit: cmake/provenance.cmake), the licence, the schema
# of the command-line tool's --json output (which its --help names) and
# SHA256SUMS, every file with one fixed time so that two builds of one commit
# give the same archive; beside it, the archive's own checksum (.zip.sha256).
# Both programs are signed first when a certificate is given
# (cmake/package_sign.cmake).
install(TARGETS zandor-patcher zandor-patcher-cli RUNTIME DESTINATION .)
install(FILES ${ZANDOR_PROVENANCE}/README.txt ${CMAKE_SOURCE_DIR}/LICENSE
  ${CMAKE_SOURCE_DIR}/docs/cli-output.schema.json DESTINATION .)
set(ZANDOR_SIGN_PFX "" CACHE FILEPATH "PKCS#12 code-signing certificate for the package (none: unsigned)")
set(ZANDOR_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the certificate's password")
set(ZANDOR_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for signing (optional)")
install(CODE "set(PROJECT_VERSION ${PROJECT_VERSION})
  set(ZANDOR_SOURCE_DIR [[${CMAKE_SOURCE_DIR}]])
  set(ZANDOR_BINARY_DIR [[${CMAKE_BINARY_DIR}]])
  set(ZANDOR_SIGN_PFX [[${ZANDOR_SIGN_PFX}]])
  set(ZANDOR_SIGN_PASSWORD_FILE [[${ZANDOR_SIGN_PASSWORD_FILE}]])
  set(ZANDOR_SIGN_TIMESTAMP_URL [[${ZANDOR_SIGN_TIMESTAMP_URL}]])")
install(SCRIPT ${CMAKE_SOURCE_DIR}/cmake/package_sign.cmake)
install(SCRIPT ${CMAKE_SOURCE_DIR}/cmake/package_sums.cmake)

# The commit's own time where there is a commit, else a fixed one.
set(ZANDOR_PACKAGE_TIME $ENV{SOURCE_DATE_EPOCH})
if(NOT ZANDOR_PACKAGE_TIME)
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE ZANDOR_PACKAGE_TIME OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT ZANDOR_PACKAGE_TIME)
  set(ZANDOR_PACKAGE_TIME 1767225600)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zandor-patcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME zandor-patcher-${PROJECT_VERSION}-${ZANDOR_PACKAGE_TARGET})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package_files.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package_files.cmake)
set(CPACK_ZANDOR_TIME ${ZANDOR_PACKAGE_TIME})
include(CPack)
