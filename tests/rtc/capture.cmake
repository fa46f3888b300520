# Capture of monitors and windows on the harness's display, through the capture classes, the C
# contract with a receiving engine peer, and beside a Qt application. The tests add windows and
# monitors to the shared display, so they run alone.
zushare_test(tst_capture
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_capture.cpp
    LIBS zushare_zuwebrtc zushare_testsupport Qt5::Widgets X11::X11 X11::Xrandr
    DISPLAY TIMEOUT 180 LABELS capture rtc)
set_tests_properties(tst_capture PROPERTIES RUN_SERIAL TRUE)
