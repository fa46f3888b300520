# Stop-and-wait file transfer between two transferors over the in-process channel, beside the
# channel's own round trip and a plain memory copy.
find_package(Threads REQUIRED)
add_executable(zushare_bench_transfer ${CMAKE_CURRENT_LIST_DIR}/transferbench.cpp
    ${PROJECT_SOURCE_DIR}/tests/transfer/loopbackchannel.cpp)
target_include_directories(zushare_bench_transfer PRIVATE ${PROJECT_SOURCE_DIR}/tests/transfer)
target_link_libraries(zushare_bench_transfer PRIVATE zushare_transfer Threads::Threads)

# The same figures over two real engine peers; run it inside tests/support/in-netns.sh.
add_executable(zushare_bench_transfer_engine ${CMAKE_CURRENT_LIST_DIR}/transferbench.cpp)
target_compile_definitions(zushare_bench_transfer_engine PRIVATE ZUSHARE_BENCH_ENGINE)
target_include_directories(zushare_bench_transfer_engine PRIVATE ${PROJECT_SOURCE_DIR}/tests/rtc
    ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(zushare_bench_transfer_engine PRIVATE zushare_transfer zushare_zuwebrtc
    zushare_testsupport Threads::Threads)
