# Capture in a Wayland session through the desktop portal: the portal service, PipeWire and
# WirePlumber run for real on a session bus of the test's own, with a test desktop behind the portal.
add_executable(zushare_portaldesktop ${CMAKE_CURRENT_LIST_DIR}/portaldesktopmain.cpp)
target_link_libraries(zushare_portaldesktop PRIVATE PkgConfig::GST)
zushare_test(tst_capture_portal
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_capture_portal.cpp
    LIBS zushare_zuwebrtc zushare_testsupport
    TIMEOUT 120 LABELS capture rtc)
add_dependencies(tst_capture_portal zushare-cli zushare_portaldesktop)
target_compile_definitions(tst_capture_portal PRIVATE ZUSHARE_CLI="$<TARGET_FILE:zushare-cli>"
                           ZUSHARE_PORTAL_DESKTOP="$<TARGET_FILE:zushare_portaldesktop>")
set_tests_properties(tst_capture_portal PROPERTIES RUN_SERIAL TRUE)
set_property(TEST tst_capture_portal APPEND PROPERTY ENVIRONMENT
             "QT_LOGGING_RULES=default.debug=false\;zushare.*.debug=false")
