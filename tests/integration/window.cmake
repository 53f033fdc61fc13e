# The main window's search through the headless framework against the simulator. window_search_test
# is shared with the Windows tier; posix_window_scan_test needs lines of its own in a ports directory.
set(QAM_WINDOW_LINK_GROUP qam_ui)
if(TARGET qam_update)
    list(APPEND QAM_WINDOW_LINK_GROUP qam_update)
endif()
list(APPEND QAM_WINDOW_LINK_GROUP qam_module qam_test_support qam_link qam_framework_headless)
list(JOIN QAM_WINDOW_LINK_GROUP "," QAM_WINDOW_LINK_GROUP)

foreach(name window_search_test posix_window_scan_test)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
    # One group: the link takes its time-outs from the test support, which needs the link.
    target_link_libraries(${name} PRIVATE "$<LINK_GROUP:RESCAN,${QAM_WINDOW_LINK_GROUP}>" GTest::gtest_main)
    qam_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endforeach()
