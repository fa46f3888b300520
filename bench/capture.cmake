# Capture cost of a monitor and a window, the paced stream and a snapshot round, on private Xvfb servers.
if(TARGET zushare_zuwebrtc)
    add_executable(zushare_bench_capture ${CMAKE_CURRENT_LIST_DIR}/capturebench.cpp)
    target_link_libraries(zushare_bench_capture PRIVATE zushare_zuwebrtc X11::X11)
endif()
