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

# The software centre's entry, the manual pages and the package's copyright and changelog. They are
# written when the build is configured, so that installing needs nothing built beyond the programs.
# Bump the release date with project(VERSION).
set(ZUSHARE_RELEASE_DATE 2026-12-09)
set(ZUSHARE_DEB_RELEASE 1)
set(ZUSHARE_DEB_VERSION ${PROJECT_VERSION}-${ZUSHARE_DEB_RELEASE})
# zushare.org in the AppStream id and zushare.example are placeholders: the project has no domain yet.
set(ZUSHARE_MAINTAINER "zushare developers <zushare@zushare.example>")
set(ZUSHARE_APPSTREAM_ID org.zushare.zushare)
execute_process(COMMAND date -u -R -d "${ZUSHARE_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE ZUSHARE_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# The browser page carries a copy of node-blueimp-md5's script, whose notice goes into the copyright file.
set(md5_script /usr/share/nodejs/blueimp-md5/js/md5.js)
file(STRINGS ${md5_script} md5_notice REGEX "^ \\* .*(Copyright|contributors)")
list(TRANSFORM md5_notice REPLACE "^ \\* " "")
if(NOT md5_notice)
    message(FATAL_ERROR "${md5_script} has no copyright notice to name in the package's copyright file")
endif()
list(JOIN md5_notice "\n " ZUSHARE_MD5_COPYRIGHT)

set(generated ${CMAKE_BINARY_DIR}/packaging)
configure_file(${ZUSHARE_PACKAGING_DIR}/zushare.metainfo.xml.in
    ${generated}/${ZUSHARE_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${ZUSHARE_PACKAGING_DIR}/copyright.in ${generated}/copyright @ONLY)
configure_file(${ZUSHARE_PACKAGING_DIR}/changelog.Debian.in ${generated}/changelog.Debian @ONLY)
configure_file(${ZUSHARE_PACKAGING_DIR}/zushare.1.in ${generated}/man/zushare.1 @ONLY)
configure_file(${ZUSHARE_PACKAGING_DIR}/zushare-cli.1.in ${generated}/man/zushare-cli.1 @ONLY)
foreach(file changelog.Debian man/zushare.1 man/zushare-cli.1)
    execute_process(COMMAND gzip -9n -c ${generated}/${file} OUTPUT_FILE ${generated}/${file}.gz
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${generated}/${ZUSHARE_APPSTREAM_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${generated}/man/zushare.1.gz ${generated}/man/zushare-cli.1.gz DESTINATION share/man/man1)
install(FILES ${generated}/copyright ${generated}/changelog.Debian.gz DESTINATION share/doc/zushare)

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
set(CPACK_PACKAGE_CONTACT "${ZUSHARE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Share a screen with the devices of the local network")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A host streams a screen or window over WebRTC to the attendees of its local\n"
    "network, who find it by UDP broadcast, watch it and receive files from it.\n"
    "Phones and other devices watch in a web browser, through a page that the\n"
    "host serves. zushare-cli does the same without a desktop.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZUSHARE_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts (the file dialog's, a message box's buttons) in Chinese on a Chinese desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qttranslations5-l10n)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)
