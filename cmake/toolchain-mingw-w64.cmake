# Cross-builds the Windows program on Debian with mingw-w64 (posix threads) against a static Qt 5
# for Windows.
#   -DMINGW_ARCH=x86_64 (default, 64-bit) or -DMINGW_ARCH=i686 (32-bit)
#   -DCMAKE_PREFIX_PATH=<the unpacked Qt for Windows, e.g. build-windows/qt5-win64>
set(MINGW_ARCH x86_64 CACHE STRING "mingw-w64 target: x86_64 or i686")
set_property(CACHE MINGW_ARCH PROPERTY STRINGS x86_64 i686)
# try_compile projects read this file again and must see the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
if(MINGW_ARCH STREQUAL "i686")
    set(CMAKE_SYSTEM_PROCESSOR x86)
else()
    set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()

set(_mingw_triple ${MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_triple} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt is static; with the C and C++ runtimes linked in too, the programs need no DLL that
# Windows does not ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
