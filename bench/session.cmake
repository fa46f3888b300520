# Session figures: first frame, received frame rate, capture-to-render latency and the host's CPU
# with 1 and 5 attendees, and the file rate beside the engine's own stop-and-wait rate. Run it inside a private namespace (tests/support/in-netns.sh).
add_executable(zushare_bench_session ${CMAKE_CURRENT_LIST_DIR}/sessionbench.cpp)
target_link_libraries(zushare_bench_session PRIVATE zushare_testsupport Qt5::Core)
add_dependencies(zushare_bench_session zushare-cli zushare_testpattern_app zushare_bench_zuwebrtc)
target_compile_definitions(zushare_bench_session PRIVATE ZUSHARE_CLI="$<TARGET_FILE:zushare-cli>"
                           ZUSHARE_PATTERN="$<TARGET_FILE:zushare_testpattern_app>"
                           ZUSHARE_ENGINE_BENCH="$<TARGET_FILE:zushare_bench_zuwebrtc>")
