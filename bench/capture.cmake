# Capture cost of a monitor and a window, the paced stream and a snapshot round, on private Xvfb
# servers; and the paced stream through the desktop portal in a session of the benchmark's own.
add_executable(zushare_bench_capture ${CMAKE_CURRENT_LIST_DIR}/capturebench.cpp)
target_link_libraries(zushare_bench_capture PRIVATE zushare_zuwebrtc zushare_testsupport X11::X11)
add_dependencies(zushare_bench_capture zushare_portaldesktop)
target_compile_definitions(zushare_bench_capture PRIVATE
                           ZUSHARE_PORTAL_DESKTOP="$<TARGET_FILE:zushare_portaldesktop>")
