# The commit the programs are built from (cmake/provenance.cmake), named
# again at every build, since a commit or an edit needs no new configure.
set(ZANDOR_PROVENANCE ${CMAKE_BINARY_DIR}/provenance)
add_custom_target(zandor_provenance ALL
  COMMAND ${CMAKE_COMMAND} -DZANDOR_SOURCE_DIR=${CMAKE_SOURCE_DIR} -DZANDOR_BINARY_DIR=${CMAKE_BINARY_DIR}
    -DPROJECT_VERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/provenance.cmake
  BYPRODUCTS ${ZANDOR_PROVENANCE}/commit_id.txt ${ZANDOR_PROVENANCE}/commit_id.h ${ZANDOR_PROVENANCE}/README.txt
  VERBATIM)

# Windows resources of a program: its manifest (execution level, supported
# Windows versions, UTF-8 code page, GDI scaling), its version record (its
# product version names the commit) and, when given, its icon. Made from
# res/app.manifest.in and res/app.rc.in.
function(zandor_resources target description level icon)
  set(ZANDOR_RES_NAME ${target})
  set(ZANDOR_RES_DESCRIPTION "${description}")
  set(ZANDOR_RES_LEVEL ${level})
  set(ZANDOR_RES_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  set(ZANDOR_RES_ICON "")
  if(icon)
    set(ZANDOR_RES_ICON "1 ICON \"${icon}\"")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/res/app.manifest.in ${ZANDOR_RES_MANIFEST} @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/res/app.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  add_dependencies(${target} zandor_provenance)
  # The resource compiler does not see that the .rc names these.
  set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc APPEND PROPERTY
    OBJECT_DEPENDS ${ZANDOR_RES_MANIFEST} ${ZANDOR_PROVENANCE}/commit_id.h ${icon})
endfunction()
