# Arbitrary packages into a receiving and a sending transferor.
if(TARGET zushare_transfer)
    zushare_fuzzer(transfer SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_transfer.cpp LIBS zushare_transfer Qt5::Gui)
endif()
