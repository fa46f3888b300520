# Per-frame cost of the video path: plane copy, ARGB conversion, and one paint of each view.
add_executable(zushare_bench_video ${CMAKE_CURRENT_LIST_DIR}/videobench.cpp)
target_link_libraries(zushare_bench_video PRIVATE zushare_video Qt5::Widgets)
