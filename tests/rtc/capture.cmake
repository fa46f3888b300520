# Capture of monitors and windows on the harness's display. The tests add windows and monitors to
# the shared display, so they run alone.
zushare_test(tst_capture
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_capture.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_capturedesktop.cpp
    LIBS zushare_zuwebrtc zushare_testsupport X11::X11 X11::Xrandr
    DISPLAY TIMEOUT 120 LABELS capture)
set_tests_properties(tst_capture PROPERTIES RUN_SERIAL TRUE)

# The capture functions of the C contract, and a receiving engine peer decoding what switching shows.
zushare_test(tst_capture_api
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_capture_api.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_capturedesktop.cpp
            ${CMAKE_CURRENT_LIST_DIR}/enginepair.cpp
    LIBS zushare_zuwebrtc zushare_testsupport X11::X11 X11::Xrandr
    DISPLAY TIMEOUT 180 LABELS capture rtc)
set_tests_properties(tst_capture_api PROPERTIES RUN_SERIAL TRUE)

# Capture beside a Qt application on the same display.
zushare_test(tst_capture_qt
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_capture_qt.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_capturedesktop.cpp
    LIBS zushare_zuwebrtc zushare_testsupport Qt5::Widgets X11::X11 X11::Xrandr
    DISPLAY TIMEOUT 120 LABELS capture)
set_tests_properties(tst_capture_qt PROPERTIES RUN_SERIAL TRUE)
