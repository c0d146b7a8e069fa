# Shared part of the MinGW toolchains; VELK_MINGW_TRIPLE names the target.
# The posix thread variants of the compilers are used throughout.
set(CMAKE_C_COMPILER ${VELK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Programs must start under Wine without MinGW's runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
