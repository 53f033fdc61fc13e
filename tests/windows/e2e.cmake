# End-to-end window tests: QamUpdate.exe under Wine driven from outside by a small harness of our
# own, run by scripts/e2e-window inside the Windows test run (scripts/wine-tests).
if(TARGET QamUpdate)
    # The operator's side that both harnesses share; without the qam_ prefix, so that the suites'
    # link group (suites.cmake) leaves it out.
    add_library(e2e_operator STATIC ${CMAKE_CURRENT_LIST_DIR}/E2eOperator.cpp)
    qam_warnings(e2e_operator)

    add_executable(e2e_window ${CMAKE_CURRENT_LIST_DIR}/e2e_window.cpp)
    # The title the program's version gives: 1.0.0 shows as "1.00".
    target_compile_definitions(e2e_window PRIVATE
        QAM_EXPECTED_TITLE_VERSION="${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}${PROJECT_VERSION_PATCH}")
    target_link_libraries(e2e_window PRIVATE e2e_operator
        "$<LINK_GROUP:RESCAN,qam_test_support,qam_sim_model,qam_link,qam_link_protocol,qam_common,qam_framework_headless>"
        GTest::gtest_main version)
    add_dependencies(e2e_window QamUpdate)
    qam_warnings(e2e_window)
    add_test(NAME e2e/window COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/e2e-window $<TARGET_FILE:e2e_window>
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(e2e/window PROPERTIES TIMEOUT 600)
endif()
