# zushare_library(<folder-name> SOURCES ... LIBS ... [PRIVATE_LIBS ...]): one library target per
# source folder, named zushare_<name>, whose headers are included by folder
# ("signaling/signalingbean.h"). LIBS are part of its headers; PRIVATE_LIBS only of its sources, so
# that no target linking it gets their include paths.
function(zushare_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(zushare_${name} STATIC ${ARG_SOURCES})
    target_include_directories(zushare_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zushare_${name} PUBLIC ${ARG_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# zushare_test(<name> SOURCES ... LIBS ... [DISPLAY] [LABELS ...]): one QtTest executable registered
# with CTest. DISPLAY tests run on the harness's Xvfb; the others on the offscreen platform.
function(zushare_test name)
    cmake_parse_arguments(ARG "DISPLAY" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ZUSHARE_SANITIZE)
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/lsanlibraryinit.cpp)
    endif()
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(env "ZUSHARE_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    if(NOT ARG_DISPLAY)
        list(APPEND env "QT_QPA_PLATFORM=offscreen")
    endif()
    # A QSKIP marks the test skipped, not passed; the test command fails on it.
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}" LABELS "${ARG_LABELS}"
        SKIP_REGULAR_EXPRESSION "SKIP   : ")
endfunction()
