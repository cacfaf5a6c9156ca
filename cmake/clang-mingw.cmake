# Cross build for Windows with clang 19 and lld against mingw-w64's headers and
# CRT and GCC's libstdc++ (the posix thread model, which GoogleTest needs),
# for the triple QRI_TRIPLE that the width's toolchain file sets. clang writes
# CodeView for the PDB beside DWARF, and instruments indirect calls for
# Control Flow Guard; gcc cannot do either.
set(CMAKE_SYSTEM_NAME Windows)

foreach(lang C CXX ASM)
  set(CMAKE_${lang}_COMPILER_TARGET ${QRI_TRIPLE})
endforeach()
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_ASM_COMPILER clang-19)
set(CMAKE_RC_COMPILER ${QRI_TRIPLE}-windres)
# libstdc++ was built by gcc, whose thread-local variables are emulated.
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-femulated-tls")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld-19")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${QRI_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
