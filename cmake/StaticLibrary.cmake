# autoupdate_static_library(<target> <header> <library name> <pkg-config module> [DEFINES <d...>])
# The target for a C library the program links statically on Windows and through pkg-config on
# Linux. Windows: the static build for mingw-w64 that scripts/windows.sh unpacks and names in
# CMAKE_PREFIX_PATH; DEFINES are what its headers need to expect a static library. Linux:
# Debian's -dev package.
function(autoupdate_static_library target header library module)
    cmake_parse_arguments(ARG "" "" "DEFINES" ${ARGN})
    if(TARGET ${target})
        return()
    endif()
    if(NOT WIN32)
        find_package(PkgConfig REQUIRED)
        pkg_check_modules(${target}_PC REQUIRED IMPORTED_TARGET GLOBAL ${module})
        add_library(${target} ALIAS PkgConfig::${target}_PC)
        return()
    endif()
    find_path(${target}_INCLUDE_DIR ${header})
    find_library(${target}_LIBRARY NAMES lib${library}.a ${library})
    if(NOT ${target}_INCLUDE_DIR OR NOT ${target}_LIBRARY)
        message(FATAL_ERROR "${module} for Windows not found: name its unpacked folder in "
                            "CMAKE_PREFIX_PATH (scripts/windows.sh does)")
    endif()
    add_library(${target} STATIC IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES
        IMPORTED_LOCATION ${${target}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${${target}_INCLUDE_DIR}
        INTERFACE_COMPILE_DEFINITIONS "${ARG_DEFINES}")
endfunction()
