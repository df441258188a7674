# The package a vendor ships with the Windows client. `cmake --install <build> --strip` lays out
#   AutoUpdate/AutoUpdate.exe       the program, stripped
#   AutoUpdate/updateconfig.json    an example configuration for the integrator to fill in
#   AutoUpdate/licenses/            the notices of the libraries linked into the program
#   README.txt                      for integrators: laying the updater into a client
# and `cpack` (run in the build folder) zips it as AutoUpdate-<version>-win32.zip (win64 for a
# 64-bit build), always stripped. The folder AutoUpdate/ is what goes into the client's folder.
# Other systems install and package nothing.
if(NOT WIN32)
    return()
endif()

set(_autoupdate_folder AutoUpdate)
set(_packaging_source ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS AutoUpdate RUNTIME DESTINATION ${_autoupdate_folder})
install(FILES ${_packaging_source}/updateconfig.json DESTINATION ${_autoupdate_folder})
install(DIRECTORY ${_packaging_source}/licenses/ DESTINATION ${_autoupdate_folder}/licenses)
install(FILES ${_packaging_source}/README.txt DESTINATION .)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
else()
    set(CPACK_SYSTEM_NAME win64)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME AutoUpdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME AutoUpdate-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
