# The session managers end to end: this process hosts on the namespace LAN and shares a private
# Xvfb on which zushare_testpattern_app paints a moving picture; zushare-cli attendees and hosts
# run as processes on the other hosts. Heavy on both cores, so each runs alone and the traces of
# its programs are left out of the output.
function(zushare_session_test name)
    cmake_parse_arguments(ARG "DISPLAY" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    set(display)
    if(ARG_DISPLAY)
        set(display DISPLAY)
    endif()
    zushare_test(${name} SOURCES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.cpp ${ARG_SOURCES}
                 LIBS ${ARG_LIBS} zushare_testsupport ${display} TIMEOUT ${ARG_TIMEOUT} LABELS rtc session)
    add_dependencies(${name} zushare-cli)
    target_compile_definitions(${name} PRIVATE ZUSHARE_CLI="$<TARGET_FILE:zushare-cli>")
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    # Each test function waits for conditions with limits of its own, inside Qt's.
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
                 "QT_LOGGING_RULES=default.debug=false\;zushare.*.debug=false" "QTEST_FUNCTION_TIMEOUT=300000")
endfunction()

if(TARGET zushare_rtc AND TARGET zushare-cli)
    # The moving picture as a program of its own, for the end-to-end test and the benchmark.
    add_executable(zushare_testpattern_app ${CMAKE_CURRENT_LIST_DIR}/testpatternmain.cpp
                   ${PROJECT_SOURCE_DIR}/tools/cliframesink.cpp)
    target_include_directories(zushare_testpattern_app PRIVATE ${PROJECT_SOURCE_DIR}/tools ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zushare_testpattern_app PRIVATE zushare_video Qt5::Widgets)

    zushare_session_test(tst_session_e2e DISPLAY TIMEOUT 300
        SOURCES ${PROJECT_SOURCE_DIR}/tools/cliframesink.cpp ${PROJECT_SOURCE_DIR}/tests/signaling/testpeer.cpp
        LIBS zushare_rtc zushare_video)
    target_include_directories(tst_session_e2e PRIVATE ${PROJECT_SOURCE_DIR}/tools)
    add_dependencies(tst_session_e2e zushare_testpattern_app)
    target_compile_definitions(tst_session_e2e PRIVATE ZUSHARE_PATTERN="$<TARGET_FILE:zushare_testpattern_app>")
    # A stranger on the LAN against a command-line host and attendee.
    zushare_session_test(tst_hostilelan TIMEOUT 400 SOURCES ${PROJECT_SOURCE_DIR}/tests/signaling/testpeer.cpp
                         LIBS zushare_rtc zushare_scan)
    # The host's question before each member watches, with attendees on two hosts.
    zushare_session_test(tst_admission TIMEOUT 300)
    # The host's sound: a tone reaches the attendee that asks for it, and muting silences it.
    zushare_session_test(tst_sound TIMEOUT 180)
endif()
