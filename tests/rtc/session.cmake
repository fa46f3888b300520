# The session managers end to end: this process hosts on the namespace LAN and shares a private
# Xvfb on which zushare_testpattern_app paints a moving picture; zushare-cli attendees and hosts
# and a mobile member run as processes on the other hosts. Heavy on both cores, so it runs alone.
if(TARGET zushare_rtc)
    add_executable(zushare_mobilemember ${CMAKE_CURRENT_LIST_DIR}/mobilemember.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/mobilemembermain.cpp)
    target_include_directories(zushare_mobilemember PRIVATE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zushare_mobilemember PRIVATE zushare_signaling zushare_zuwebrtc Qt5::WebSockets)

    add_library(zushare_testpattern STATIC ${CMAKE_CURRENT_LIST_DIR}/testpatternwidget.cpp
                ${PROJECT_SOURCE_DIR}/tools/cliframesink.cpp)
    target_include_directories(zushare_testpattern PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/tools
                               ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zushare_testpattern PUBLIC zushare_video Qt5::Widgets)

    # The moving picture as a program of its own, for the end-to-end test and the benchmark.
    add_executable(zushare_testpattern_app ${CMAKE_CURRENT_LIST_DIR}/testpatternmain.cpp)
    target_link_libraries(zushare_testpattern_app PRIVATE zushare_testpattern)

    zushare_test(tst_session_e2e
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_session_e2e.cpp ${CMAKE_CURRENT_LIST_DIR}/recordingview.cpp
                ${PROJECT_SOURCE_DIR}/tests/signaling/testpeer.cpp
        LIBS zushare_rtc zushare_testpattern zushare_testsupport Qt5::Widgets
        DISPLAY TIMEOUT 300 LABELS rtc session)
    add_dependencies(tst_session_e2e zushare-cli zushare_mobilemember zushare_testpattern_app)
    target_compile_definitions(tst_session_e2e PRIVATE ZUSHARE_CLI="$<TARGET_FILE:zushare-cli>"
                               ZUSHARE_MOBILE="$<TARGET_FILE:zushare_mobilemember>"
                               ZUSHARE_PATTERN="$<TARGET_FILE:zushare_testpattern_app>")
    set_tests_properties(tst_session_e2e PROPERTIES RUN_SERIAL TRUE)
endif()
if(TEST tst_session_e2e)
    # The signaling, transfer and engine traces of seven processes would drown the test's own
    # lines. Each test function waits for conditions with limits of its own, inside Qt's.
    set_property(TEST tst_session_e2e APPEND PROPERTY ENVIRONMENT
                 "QT_LOGGING_RULES=default.debug=false\;zushare.*.debug=false" "QTEST_FUNCTION_TIMEOUT=300000")
endif()

# Tests that run zushare-cli processes on the namespace LAN: heavy, so each runs alone, and their
# tools' traces are left out of the output.
function(zushare_cli_lan_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    zushare_test(${name} SOURCES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.cpp ${ARG_SOURCES}
                 LIBS ${ARG_LIBS} zushare_testsupport TIMEOUT ${ARG_TIMEOUT} LABELS rtc session)
    add_dependencies(${name} zushare-cli)
    target_compile_definitions(${name} PRIVATE ZUSHARE_CLI="$<TARGET_FILE:zushare-cli>")
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
                 "QT_LOGGING_RULES=default.debug=false\;zushare.*.debug=false" "QTEST_FUNCTION_TIMEOUT=300000")
endfunction()

if(TARGET zushare_rtc AND TARGET zushare-cli)
    # A stranger on the LAN against a command-line host and attendee.
    zushare_cli_lan_test(tst_hostilelan SOURCES ${PROJECT_SOURCE_DIR}/tests/signaling/testpeer.cpp
                         LIBS zushare_rtc zushare_scan TIMEOUT 400)
    # The host's question before each member watches, with attendees on two hosts.
    zushare_cli_lan_test(tst_admission TIMEOUT 300)
    # The host's sound: a tone reaches the attendee that asks for it, and muting silences it.
    zushare_cli_lan_test(tst_sound TIMEOUT 180)
endif()
