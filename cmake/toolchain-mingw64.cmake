# Only for the Wine steps on machines that cannot run 32-bit programs.
set(ZANDOR_MINGW_CPU x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
