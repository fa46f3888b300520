# Debian package of the program: `cpack -G DEB` in the build folder, or scripts/package.sh.
# Included from the top-level CMakeLists.txt after every folder, so that all install rules exist.

include_guard(GLOBAL)

set(ZUSHARE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The desktop entry starts a small launcher that gives the program a writable working directory
# (its log folder is relative to it). The launcher's path depends on the prefix chosen at install
# time, so the entry is written then.
install(PROGRAMS ${ZUSHARE_PACKAGING_DIR}/zushare-menu DESTINATION lib/zushare)
install(CODE "
    set(ZUSHARE_LAUNCHER \"\${CMAKE_INSTALL_PREFIX}/lib/zushare/zushare-menu\")
    configure_file(\"${ZUSHARE_PACKAGING_DIR}/zushare.desktop.in\"
        \"${CMAKE_BINARY_DIR}/packaging/zushare.desktop\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/applications\"
        TYPE FILE FILES \"${CMAKE_BINARY_DIR}/packaging/zushare.desktop\")
")

install(FILES ${ZUSHARE_PACKAGING_DIR}/zushare.svg DESTINATION share/icons/hicolor/scalable/apps)
find_program(ZUSHARE_RSVG_CONVERT rsvg-convert)
if(ZUSHARE_RSVG_CONVERT)
    set(icon_files)
    foreach(size 16 24 32 48 64 128 256)
        set(png ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}/zushare.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}
            COMMAND ${ZUSHARE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${ZUSHARE_PACKAGING_DIR}/zushare.svg
            DEPENDS ${ZUSHARE_PACKAGING_DIR}/zushare.svg
            VERBATIM)
        install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
        list(APPEND icon_files ${png})
    endforeach()
    add_custom_target(zushare_icons ALL DEPENDS ${icon_files})
else()
    message(WARNING "rsvg-convert (librsvg2-bin) not found: the package brings the scalable icon only")
endif()

# Plugins are loaded at run time, so dpkg-shlibdeps cannot see them: the engine's plugin files are
# named here and the packages that hold them are looked up on this machine.
set(ZUSHARE_GST_PLUGINS
    coreelements app videoconvertscale videorate rtp rtpmanager vpx x264 libav webrtc dtls srtp sctp nice
    videoparsersbad opus audioconvert audioresample audiotestsrc volume pulseaudio
    CACHE STRING "GStreamer plugin files (libgst<name>.so) the media engine loads")
set(ZUSHARE_GST_PLUGIN_PACKAGES)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_get_variable(gst_plugins_dir gstreamer-1.0 pluginsdir)
endif()
find_program(ZUSHARE_DPKG_QUERY dpkg-query)
if(gst_plugins_dir AND ZUSHARE_DPKG_QUERY)
    foreach(plugin ${ZUSHARE_GST_PLUGINS})
        set(file ${gst_plugins_dir}/libgst${plugin}.so)
        if(NOT EXISTS ${file})
            message(WARNING "GStreamer plugin ${plugin} not installed: the package will not depend on it")
            continue()
        endif()
        execute_process(COMMAND ${ZUSHARE_DPKG_QUERY} -S ${file}
            OUTPUT_VARIABLE owner RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(rc EQUAL 0 AND owner MATCHES "^([^:, ]+)")
            list(APPEND ZUSHARE_GST_PLUGIN_PACKAGES ${CMAKE_MATCH_1})
        endif()
    endforeach()
    list(REMOVE_DUPLICATES ZUSHARE_GST_PLUGIN_PACKAGES)
    list(SORT ZUSHARE_GST_PLUGIN_PACKAGES)
endif()
list(JOIN ZUSHARE_GST_PLUGIN_PACKAGES ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zushare)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zushare")
set(CPACK_PACKAGE_CONTACT "zushare developers <zushare@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Share a screen with the devices of the local network")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A host streams a screen or window over WebRTC to the attendees of its local network,\nwho find it by UDP broadcast, watch it and receive files from it.\nzushare-cli does the same without a desktop.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)
