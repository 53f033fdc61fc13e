# End-to-end update test: QamUpdate.exe under Wine carrying out a whole update, driven from outside
# by a harness of our own; run by scripts/e2e-update inside the Windows test run.
if(TARGET QamUpdate)
    add_executable(e2e_update ${CMAKE_CURRENT_LIST_DIR}/e2e_update.cpp)
    target_link_libraries(e2e_update PRIVATE e2e_operator
        "$<LINK_GROUP:RESCAN,qam_test_support,qam_sim_model,qam_update_format,qam_link,qam_link_protocol,qam_common,qam_framework_headless>"
        GTest::gtest_main)
    add_dependencies(e2e_update QamUpdate)
    qam_warnings(e2e_update)
    add_test(NAME e2e/update COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/e2e-update $<TARGET_FILE:e2e_update>
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(e2e/update PROPERTIES TIMEOUT 600 RESOURCE_LOCK qam_module_line)
endif()
