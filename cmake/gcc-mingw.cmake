# Cross build for Windows with mingw-w64 gcc (posix thread model) for the
# triple QRI_TRIPLE that the width's toolchain file sets: the coverage build
# (scripts/coverage), since only gcc writes gcov counters.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QRI_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRI_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QRI_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QRI_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
