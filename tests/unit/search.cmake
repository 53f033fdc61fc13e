# Module search and settings encoding: the pure parts. The Windows test tier builds its own
# variants of every tests/unit/*_test.cpp (tests/windows).
if(NOT WIN32)
    foreach(name search_ports_test settings_plan_test)
        add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
        target_link_libraries(${name} PRIVATE qam_module qam_link qam_link_product_timeouts qam_framework_headless
            GTest::gtest_main)
        qam_warnings(${name})
        add_test(NAME ${name} COMMAND ${name})
    endforeach()
endif()
