# The target zstd: libzstd, for the patches of delta updates.
# Linux: Debian's libzstd-dev, through pkg-config. Windows: a static build for mingw-w64 named in
# CMAKE_PREFIX_PATH.
if(TARGET zstd)
    return()
endif()
if(WIN32)
    find_path(ZSTD_INCLUDE_DIR zstd.h)
    find_library(ZSTD_LIBRARY NAMES libzstd.a zstd)
    if(NOT ZSTD_INCLUDE_DIR OR NOT ZSTD_LIBRARY)
        message(FATAL_ERROR "libzstd for Windows not found: name its folder in CMAKE_PREFIX_PATH")
    endif()
    add_library(zstd STATIC IMPORTED GLOBAL)
    set_target_properties(zstd PROPERTIES
        IMPORTED_LOCATION ${ZSTD_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${ZSTD_INCLUDE_DIR})
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET GLOBAL libzstd)
    add_library(zstd ALIAS PkgConfig::ZSTD)
endif()
