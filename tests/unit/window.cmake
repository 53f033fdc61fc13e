# The main window and start-up on the headless framework: texts, title, initialisation, registry,
# error report, shut-down. Shared with the Windows tier (tests/windows builds every *_test.cpp).
if(NOT WIN32)
    foreach(name window_texts_test window_startup_test window_init_test window_shutdown_test)
        add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
        target_link_libraries(${name} PRIVATE qam_ui qam_module qam_link qam_link_product_timeouts qam_framework_headless
            GTest::gtest_main)
        qam_warnings(${name})
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    endforeach()
endif()
