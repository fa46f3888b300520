# Capture of monitors and windows on the harness's display. The tests add windows and monitors to
# the shared display, so they run alone.
zushare_test(tst_capture
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_capture.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_capturedesktop.cpp
    LIBS zushare_zuwebrtc zushare_testsupport X11::X11 X11::Xrandr
    DISPLAY TIMEOUT 120 LABELS capture)
set_tests_properties(tst_capture PROPERTIES RUN_SERIAL TRUE)
