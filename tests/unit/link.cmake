# The command protocol's pure rules: replies, the box text and its cut, length words, progress.
add_executable(link_unit_tests ${CMAKE_CURRENT_LIST_DIR}/link_protocol_test.cpp)
target_link_libraries(link_unit_tests PRIVATE qam_link_protocol GTest::gtest_main)
qam_warnings(link_unit_tests)
add_test(NAME link_unit_tests COMMAND link_unit_tests)
