# Browser attendee figures: time to the first picture and the file rate of headless Chromium joining
# zushare-cli through the host's page. Run it inside a private namespace (tests/support/in-netns.sh).
add_executable(zushare_bench_browser ${CMAKE_CURRENT_LIST_DIR}/browserbench.cpp
               ${PROJECT_SOURCE_DIR}/tests/web/cdpbrowser.cpp)
target_include_directories(zushare_bench_browser PRIVATE ${PROJECT_SOURCE_DIR}/tests/web)
target_link_libraries(zushare_bench_browser PRIVATE zushare_testsupport Qt5::WebSockets Qt5::Network
                      Qt5::Core)
add_dependencies(zushare_bench_browser zushare-cli)
target_compile_definitions(zushare_bench_browser PRIVATE ZUSHARE_CLI="$<TARGET_FILE:zushare-cli>")
