# Relay rate and delay of the signaling server with 1, 3 and 5 members, with and without a flooder.
add_executable(zushare_bench_signaling ${CMAKE_CURRENT_LIST_DIR}/signalingbench.cpp)
target_link_libraries(zushare_bench_signaling PRIVATE zushare_signaling_server Qt5::WebSockets)
