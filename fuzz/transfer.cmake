# Arbitrary packages into a receiving and a sending transferor.
zushare_fuzzer(transfer SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_transfer.cpp LIBS zushare_transfer)
