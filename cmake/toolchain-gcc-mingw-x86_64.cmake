# Coverage build, 64-bit: mingw-w64 gcc (cmake/gcc-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QRI_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/gcc-mingw.cmake)
