# Coverage build, 32-bit: mingw-w64 gcc (cmake/gcc-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QRI_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/gcc-mingw.cmake)
