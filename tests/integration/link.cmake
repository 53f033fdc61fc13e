# The link over real pseudo-terminals. The link_* suites are shared: the Windows build compiles the
# very same files against the Win32 link and the simulator command. posix_link_* are native only.
set(QAM_LINK_SHARED_SUITES
    ${CMAKE_CURRENT_LIST_DIR}/link_exchange_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/link_blocks_test.cpp)

add_executable(link_integration_tests ${QAM_LINK_SHARED_SUITES})
target_link_libraries(link_integration_tests PRIVATE qam_test_support qam_link qam_framework_headless
    GTest::gtest_main)
qam_warnings(link_integration_tests)
add_test(NAME link_integration_tests COMMAND link_integration_tests)

add_executable(posix_link_tests ${CMAKE_CURRENT_LIST_DIR}/posix_link_port_test.cpp)
target_link_libraries(posix_link_tests PRIVATE qam_test_support qam_link qam_framework_headless
    GTest::gtest_main util)
qam_warnings(posix_link_tests)
add_test(NAME posix_link_tests COMMAND posix_link_tests)
