zushare_fuzzer(report SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_report.cpp LIBS zushare_report)
