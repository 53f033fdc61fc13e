# The simulator over real pseudo-terminals, in-process and as the qam-module-sim command.
add_executable(posix_sim_tests
    ${CMAKE_CURRENT_LIST_DIR}/posix_sim_line_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix_sim_command_test.cpp)
target_link_libraries(posix_sim_tests PRIVATE qam_test_support qam_sim GTest::gtest_main)
target_compile_definitions(posix_sim_tests PRIVATE QAM_MODULE_SIM_PATH="$<TARGET_FILE:qam-module-sim>")
add_dependencies(posix_sim_tests qam-module-sim)
qam_warnings(posix_sim_tests)
add_test(NAME posix_sim_tests COMMAND posix_sim_tests)
