# The twin: 64-bit Windows, built by clang 19 and lld (cmake/clang-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QRI_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
