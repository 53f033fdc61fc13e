# The simulator's module model and its text forms: portable, built on both toolchains.
add_executable(sim_unit_tests
    ${CMAKE_CURRENT_LIST_DIR}/sim_model_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sim_scenario_test.cpp)
target_link_libraries(sim_unit_tests PRIVATE qam_sim_model GTest::gtest_main)
qam_warnings(sim_unit_tests)
add_test(NAME sim_unit_tests COMMAND sim_unit_tests)
