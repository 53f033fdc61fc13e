# The update-file reader, section transform and writer.
add_executable(update_unit_tests
    ${CMAKE_CURRENT_LIST_DIR}/update_reader_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update_transform_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update_writer_test.cpp)
target_link_libraries(update_unit_tests PRIVATE qam_update_format GTest::gtest_main)
qam_warnings(update_unit_tests)
add_test(NAME update_unit_tests COMMAND update_unit_tests)
