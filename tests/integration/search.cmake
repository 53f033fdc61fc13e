# The module search and the channel settings transfer against the simulator over the real link.
# search_test and settings_test are shared with the Windows tier (tests/windows); posix_search_test
# scans a ports directory of its own.
foreach(name search_test settings_test posix_search_test)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
    # The backend after the libraries that call into it.
    target_link_libraries(${name} PRIVATE qam_module qam_test_support qam_link qam_framework_headless GTest::gtest_main)
    qam_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endforeach()
