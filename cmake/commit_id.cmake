# zandor_commit_id(VAR SOURCE_DIR BINARY_DIR) sets VAR to the commit that
# SOURCE_DIR is checked out at, as git names it in full, with "-dirty" added
# when the tree differs from it: a changed or staged tracked file, or a file
# git neither tracks nor ignores (a new source not yet added builds all the
# same). Ignored files and BINARY_DIR itself, where it lies inside the tree,
# do not count: they are what builds leave. VAR is "unknown" when SOURCE_DIR
# is not the top of a git checkout (a source archive unpacked, perhaps inside
# some other repository) or git cannot read it. Used at build time for the
# version record and README.txt, and again when signing.
function(zandor_commit_id var src bin)
  set(${var} unknown PARENT_SCOPE)
  find_program(ZANDOR_GIT git)
  if(NOT ZANDOR_GIT)
    return()
  endif()
  execute_process(COMMAND ${ZANDOR_GIT} -C ${src} rev-parse --show-toplevel --verify HEAD
    RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    return()
  endif()
  string(REPLACE "\n" ";" out "${out}")
  list(GET out 0 top)
  list(GET out 1 id)
  file(REAL_PATH ${top} top)
  file(REAL_PATH ${src} src)
  file(REAL_PATH ${bin} bin)
  if(NOT top STREQUAL src)
    return()
  endif()
  set(skip "")
  cmake_path(IS_PREFIX src ${bin} NORMALIZE inside)
  if(inside AND NOT bin STREQUAL src)
    file(RELATIVE_PATH rel ${src} ${bin})
    set(skip ":(exclude,literal)${rel}")
  endif()
  # No optional locks: a build never writes the checkout's index.
  execute_process(COMMAND ${ZANDOR_GIT} --no-optional-locks -C ${src} status --porcelain --untracked-files=all -- . ${skip}
    RESULT_VARIABLE failed OUTPUT_VARIABLE changes ERROR_QUIET)
  if(failed)
    return()
  endif()
  if(NOT changes STREQUAL "")
    string(APPEND id -dirty)
  endif()
  set(${var} ${id} PARENT_SCOPE)
endfunction()
