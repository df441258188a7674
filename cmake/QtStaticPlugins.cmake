# autoupdate_link_offscreen_platform(<target>)
# A static Qt links its plugins into each program: the platform plugin of the system comes by
# default, the offscreen one is added so that tests can run the program without a display
# ("-platform offscreen"). A shared Qt loads its plugins at run time and needs nothing here.
function(autoupdate_link_offscreen_platform target)
    get_target_property(qt_core_type Qt5::Core TYPE)
    if(qt_core_type STREQUAL "STATIC_LIBRARY")
        qt5_import_plugins(${target} INCLUDE Qt5::QOffscreenIntegrationPlugin)
    endif()
endfunction()
