# Stop-and-wait file transfer between two transferors over the in-process channel, beside the
# channel's own round trip and a plain memory copy.
if(TARGET zushare_transfer)
    find_package(Threads REQUIRED)
    add_executable(zushare_bench_transfer ${CMAKE_CURRENT_LIST_DIR}/transferbench.cpp
        ${PROJECT_SOURCE_DIR}/tests/transfer/loopbackchannel.cpp)
    target_include_directories(zushare_bench_transfer PRIVATE ${PROJECT_SOURCE_DIR}/tests/transfer)
    target_link_libraries(zushare_bench_transfer PRIVATE zushare_transfer Qt5::Gui Threads::Threads)
endif()
