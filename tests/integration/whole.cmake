# The window's update, file selection and factory-defaults commands through the headless framework
# against the simulator; shared with the Windows tier.
set(QAM_WHOLE_LINK_GROUP "qam_ui,qam_update,qam_module,qam_test_support,qam_link,qam_framework_headless")
foreach(name update_sequence_test file_selection_test factory_defaults_test)
    if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
        add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
        target_link_libraries(${name} PRIVATE "$<LINK_GROUP:RESCAN,${QAM_WHOLE_LINK_GROUP}>" GTest::gtest_main)
        qam_warnings(${name})
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    endif()
endforeach()
