# Media engine figures: time to the first decoded frame, received frame rate, the host's CPU with
# 1, 3 and 5 viewers in their own processes, and data-channel rates. Run it inside a private
# namespace (tests/support/in-netns.sh), as it starts real peers.
add_executable(zushare_bench_zuwebrtc ${CMAKE_CURRENT_LIST_DIR}/zuwebrtcbench.cpp)
target_include_directories(zushare_bench_zuwebrtc PRIVATE ${PROJECT_SOURCE_DIR}/tests/rtc)
target_link_libraries(zushare_bench_zuwebrtc PRIVATE zushare_zuwebrtc Threads::Threads)
