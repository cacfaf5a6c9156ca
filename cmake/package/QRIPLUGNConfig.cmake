# CMake package of QRIPLUGN.dll: find_package(QRIPLUGN 1.0 CONFIG REQUIRED)
# gives the imported target QRIPLUGN::QRIPLUGN (the DLL, the import library
# that fits the toolchain in use, the include folder) for the width of the
# build: bin/ and lib/ for 32-bit, x64/bin/ and x64/lib/ for 64-bit.
get_filename_component(_qriplugn_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT WIN32)
  set(QRIPLUGN_FOUND FALSE)
  set(QRIPLUGN_NOT_FOUND_MESSAGE "QRIPLUGN is a Windows DLL; this build is not for Windows")
  return()
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_qriplugn_width "${_qriplugn_root}")
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_qriplugn_width "${_qriplugn_root}/x64")
else()
  set(QRIPLUGN_FOUND FALSE)
  set(QRIPLUGN_NOT_FOUND_MESSAGE "QRIPLUGN: the width is unknown; enable C or C++ before find_package")
  return()
endif()

# GNU ld takes the mingw-w64 library; MSVC's linker and lld-link the .lib.
if(MINGW)
  set(_qriplugn_implib "${_qriplugn_width}/lib/libQRIPLUGN.dll.a")
else()
  set(_qriplugn_implib "${_qriplugn_width}/lib/QRIPLUGN.lib")
endif()

if(NOT TARGET QRIPLUGN::QRIPLUGN)
  add_library(QRIPLUGN::QRIPLUGN SHARED IMPORTED)
  set_target_properties(QRIPLUGN::QRIPLUGN PROPERTIES
    IMPORTED_LOCATION "${_qriplugn_width}/bin/QRIPLUGN.dll"
    IMPORTED_IMPLIB "${_qriplugn_implib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_qriplugn_root}/include")
endif()

unset(_qriplugn_implib)
unset(_qriplugn_width)
unset(_qriplugn_root)
