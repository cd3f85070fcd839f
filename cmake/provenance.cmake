# Run at every build (cmake -P): names the commit the programs are built
# from, in ZANDOR_BINARY_DIR/provenance/ (commit_id.txt, and commit_id.h for
# the version record) and in the players' README.txt. A file is written only
# when its text changes, so that an unchanged tree rebuilds nothing.
include(${CMAKE_CURRENT_LIST_DIR}/commit_id.cmake)
zandor_commit_id(ZANDOR_COMMIT ${ZANDOR_SOURCE_DIR} ${ZANDOR_BINARY_DIR})
set(out ${ZANDOR_BINARY_DIR}/provenance)
file(CONFIGURE OUTPUT ${out}/commit_id.txt CONTENT "${ZANDOR_COMMIT}\n")
file(CONFIGURE OUTPUT ${out}/commit_id.h
  CONTENT "#define ZANDOR_PRODUCT_VERSION \"${PROJECT_VERSION}+${ZANDOR_COMMIT}\"\n")
set(ZANDOR_SIGNED "The programs are not signed.")  # cmake/package_sign.cmake says otherwise
configure_file(${ZANDOR_SOURCE_DIR}/package/README.txt.in ${out}/README.txt @ONLY NEWLINE_STYLE CRLF)
