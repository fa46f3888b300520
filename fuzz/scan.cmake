zushare_fuzzer(scan SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_scan.cpp LIBS zushare_scan)
