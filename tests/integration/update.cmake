# The firmware download against the simulator over the real link. download_test is shared with
# the Windows tier (tests/windows); posix_download_test and posix_qamfile_test are native only.
foreach(name download_test posix_download_test)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
    # The backend after the libraries that call into it.
    target_link_libraries(${name} PRIVATE qam_update qam_module qam_test_support qam_link qam_framework_headless
        GTest::gtest_main)
    qam_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endforeach()

# qamfile run as a command: build, info, verify, and its files downloaded into the simulator.
add_executable(posix_qamfile_test ${CMAKE_CURRENT_LIST_DIR}/posix_qamfile_test.cpp)
target_link_libraries(posix_qamfile_test PRIVATE qam_update qam_module qam_test_support qam_link
    qam_framework_headless GTest::gtest_main)
target_compile_definitions(posix_qamfile_test PRIVATE QAMFILE_PATH="$<TARGET_FILE:qamfile>")
add_dependencies(posix_qamfile_test qamfile)
qam_warnings(posix_qamfile_test)
add_test(NAME posix_qamfile_test COMMAND posix_qamfile_test)
set_tests_properties(posix_qamfile_test PROPERTIES TIMEOUT 600)
