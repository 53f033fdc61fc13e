# The Windows test programs, run under Wine by scripts/wine-tests: every shared suite
# (tests/unit/*_test.cpp and tests/integration/*_test.cpp but the posix_ ones) and the Win32 cases
# of this folder, one program per file, built against the Win32 link and the headless framework.

# Suites that cannot be built for Windows at all (file names); cases that build but cannot hold
# under Wine skip themselves (qam::test::RunningUnderWine()).
set(QAM_WINDOWS_SUITES_EXCLUDED "" CACHE STRING "Shared suites left out of the Windows build")

# A hang guard per program, far above what any program takes.
set(QAM_WINDOWS_TEST_TIMEOUT 900)

find_program(QAM_WINE wine REQUIRED)

# Every static library of the code base a suite may need, whatever area defines it. The Win32
# framework backend stays out: the suites run on the headless one.
function(qam_collect_libraries directory out)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    set(found "")
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "STATIC_LIBRARY" AND target MATCHES "^qam_" AND NOT target MATCHES "win32")
            list(APPEND found ${target})
        endif()
    endforeach()
    foreach(subdirectory IN LISTS subdirectories)
        qam_collect_libraries(${subdirectory} below)
        list(APPEND found ${below})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

qam_collect_libraries(${CMAKE_SOURCE_DIR} QAM_WINDOWS_TEST_LIBRARIES)
list(REMOVE_ITEM QAM_WINDOWS_TEST_LIBRARIES qam_test_support qam_framework_headless)

file(GLOB QAM_WINDOWS_SUITES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/integration/*_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/windows/*_test.cpp)
list(SORT QAM_WINDOWS_SUITES)

foreach(suite IN LISTS QAM_WINDOWS_SUITES)
    get_filename_component(name ${suite} NAME_WE)
    get_filename_component(file ${suite} NAME)
    if(name MATCHES "^posix_" OR file IN_LIST QAM_WINDOWS_SUITES_EXCLUDED)
        continue()
    endif()
    get_filename_component(area ${suite} DIRECTORY)
    get_filename_component(area ${area} NAME)
    set(target win_${area}_${name})
    add_executable(${target} ${suite})
    # The suites' own link first, then everything else; the headless framework ends the line so
    # that it answers every window call the libraries make.
    target_link_libraries(${target} PRIVATE qam_test_support ${QAM_WINDOWS_TEST_LIBRARIES}
        qam_framework_headless GTest::gtest_main)
    qam_warnings(${target})
    add_test(NAME ${area}/${name} COMMAND ${QAM_WINE} $<TARGET_FILE:${target}> --gtest_color=no
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${area}/${name} PROPERTIES TIMEOUT ${QAM_WINDOWS_TEST_TIMEOUT})
endforeach()
