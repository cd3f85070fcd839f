# Run by CPack before it zips the staged files (every file gets one fixed
# time) and again after (CPack's archiver also stores each file's change
# time, which nothing can fix: the archive is made again with Info-ZIP, in a
# fixed order and with no extra fields).
if(NOT CPACK_PACKAGE_FILES)
  execute_process(COMMAND find ${CPACK_TEMPORARY_DIRECTORY} -exec touch -h -d @${CPACK_ZANDOR_TIME} {} +
    COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()
get_filename_component(top ${CPACK_TEMPORARY_DIRECTORY} NAME)
get_filename_component(parent ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY)
file(GLOB_RECURSE staged LIST_DIRECTORIES false RELATIVE ${parent} ${CPACK_TEMPORARY_DIRECTORY}/*)
list(SORT staged)
file(REMOVE ${CPACK_PACKAGE_FILES})
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -q -X -D -9 ${CPACK_PACKAGE_FILES} ${staged}
  WORKING_DIRECTORY ${parent} COMMAND_ERROR_IS_FATAL ANY)
# The archive's checksum, to publish apart from it, in sha256sum's format.
file(SHA256 ${CPACK_PACKAGE_FILES} sum)
get_filename_component(zip_name ${CPACK_PACKAGE_FILES} NAME)
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/${zip_name}.sha256 "${sum}  ${zip_name}\n")
