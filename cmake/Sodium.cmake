# The target sodium: libsodium, for the Ed25519 signatures of releases.
# Linux: Debian's libsodium-dev, through pkg-config. Windows: the static build for mingw-w64 that
# scripts/windows.sh unpacks beside Qt and names in CMAKE_PREFIX_PATH; its headers expect the DLL
# unless SODIUM_STATIC is defined.
if(TARGET sodium)
    return()
endif()
if(WIN32)
    find_path(SODIUM_INCLUDE_DIR sodium.h)
    find_library(SODIUM_LIBRARY NAMES libsodium.a sodium)
    if(NOT SODIUM_INCLUDE_DIR OR NOT SODIUM_LIBRARY)
        message(FATAL_ERROR "libsodium for Windows not found: name its unpacked folder in "
                            "CMAKE_PREFIX_PATH (scripts/windows.sh does)")
    endif()
    add_library(sodium STATIC IMPORTED GLOBAL)
    set_target_properties(sodium PROPERTIES
        IMPORTED_LOCATION ${SODIUM_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${SODIUM_INCLUDE_DIR}
        INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET GLOBAL libsodium)
    add_library(sodium ALIAS PkgConfig::SODIUM)
endif()
