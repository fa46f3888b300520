# The session managers end to end on the namespace LAN, with zushare-cli attendees and hosts as
# processes on its hosts. Heavy on both cores, so each runs alone and its programs' traces are left out.
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

# The moving picture as a program of its own, for the end-to-end test and the benchmark.
add_executable(zushare_testpattern_app ${CMAKE_CURRENT_LIST_DIR}/testpatternmain.cpp
               ${PROJECT_SOURCE_DIR}/tools/cliframesink.cpp)
target_include_directories(zushare_testpattern_app PRIVATE ${PROJECT_SOURCE_DIR}/tools ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(zushare_testpattern_app PRIVATE zushare_video Qt5::Widgets)

zushare_session_test(tst_session_e2e DISPLAY TIMEOUT 300
    SOURCES ${PROJECT_SOURCE_DIR}/tools/cliframesink.cpp
    LIBS zushare_rtc zushare_video zushare_signaling_testpeer)
target_include_directories(tst_session_e2e PRIVATE ${PROJECT_SOURCE_DIR}/tools)
add_dependencies(tst_session_e2e zushare_testpattern_app)
target_compile_definitions(tst_session_e2e PRIVATE ZUSHARE_PATTERN="$<TARGET_FILE:zushare_testpattern_app>")
zushare_session_test(tst_hostilelan TIMEOUT 400 LIBS zushare_rtc zushare_scan zushare_signaling_testpeer)
zushare_session_test(tst_admission TIMEOUT 300)
zushare_session_test(tst_sound TIMEOUT 180)
