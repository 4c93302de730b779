# What both Windows toolchain files share: Debian's mingw-w64 compilers
# with the posix thread model (std::thread and std::mutex need it), for the
# triplet that the including file sets in TW_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TW_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TW_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TW_MINGW_TRIPLET}-windres)

# Libraries and headers come from the compiler's sysroot and from
# CMAKE_PREFIX_PATH (the cached static libcurl), never from the Linux host.
set(CMAKE_FIND_ROOT_PATH /usr/${TW_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
