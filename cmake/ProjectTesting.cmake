# Test helpers. Every test binary bounds its own time through CTest's timeout and runs Qt headless.
#   orrin_tarn_add_gtest(NAME name SOURCES a.cpp ... LIBS lib ... [TIMEOUT seconds])
function(orrin_tarn_add_gtest)
    cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    orrin_tarn_warnings(${ARG_NAME})
    target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    gtest_discover_tests(${ARG_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                   ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
