# The media engine's own reading of remote SDP and ICE candidates.
zushare_fuzzer(zuwebrtc SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_zuwebrtc.cpp ${PROJECT_SOURCE_DIR}/src/rtc/gst/sdpcheck.cpp)
