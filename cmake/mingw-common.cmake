# Shared part of the MinGW toolchain files; BREVORA_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER   ${BREVORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BREVORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${BREVORA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BREVORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every Windows binary the build makes (tests included) runs under Wine, in
# one of a small pool of prefixes kept in the build tree's wine/ folder, so
# that tests can run side by side (scripts/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;--pool;${CMAKE_BINARY_DIR}/wine")
