# The product: 32-bit Windows, built by clang 19 and lld (cmake/clang-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QRI_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
