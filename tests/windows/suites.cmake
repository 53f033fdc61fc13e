# The Windows test programs, run under Wine by scripts/wine-tests: every shared suite
# (tests/unit/*_test.cpp and tests/integration/*_test.cpp but the posix_ ones) and the Win32 cases
# of this folder, one program per file, built against the Win32 link and the headless framework.

# Suites that cannot be built for Windows at all (file names); cases that build but cannot hold
# under Wine skip themselves (qam::test::RunningUnderWine()).
set(QAM_WINDOWS_SUITES_EXCLUDED "" CACHE STRING "Shared suites left out of the Windows build")

# A hang guard per program, far above what any program takes.
set(QAM_WINDOWS_TEST_TIMEOUT 900)

# wine, with the pseudo-terminal framing shim that scripts/wine-tests builds (QAM_WINE_PRELOAD).
set(QAM_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/lib/wine-run)

# Whether a target links the Win32 framework backend, directly or through another library.
function(qam_links_win32_framework target out)
    set(result FALSE)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(libraries)
        foreach(library IN LISTS libraries)
            if(library STREQUAL "qam_framework_win32")
                set(result TRUE)
            elseif(TARGET ${library} AND library MATCHES "^qam_")
                qam_links_win32_framework(${library} below)
                if(below)
                    set(result TRUE)
                endif()
            endif()
        endforeach()
    endif()
    set(${out} ${result} PARENT_SCOPE)
endfunction()

# Every static library of the code base a suite may need, whatever area defines it. The Win32
# framework backend and whatever builds on it stay out: the suites run on the headless one.
function(qam_collect_libraries directory out)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    set(found "")
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "STATIC_LIBRARY" AND target MATCHES "^qam_" AND NOT target MATCHES "win32")
            qam_links_win32_framework(${target} windowed)
            if(NOT windowed)
                list(APPEND found ${target})
            endif()
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
list(APPEND QAM_WINDOWS_TEST_LIBRARIES qam_framework_headless)
list(JOIN QAM_WINDOWS_TEST_LIBRARIES "," QAM_WINDOWS_LINK_GROUP)

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
    if(name MATCHES "^win32_framework_")
        # The Win32 framework backend itself, on real windows.
        target_link_libraries(${target} PRIVATE qam_framework_win32 GTest::gtest_main)
    else()
        # One group: the link takes its time-outs from the test support, which needs the link.
        target_link_libraries(${target} PRIVATE
            "$<LINK_GROUP:RESCAN,qam_test_support,${QAM_WINDOWS_LINK_GROUP}>" GTest::gtest_main)
    endif()
    qam_warnings(${target})
    # GCC 12 at -O3 reports std::string members of tables of test cases as maybe uninitialized
    # where they are not; shown, but not fatal, in test programs only.
    target_compile_options(${target} PRIVATE -Wno-error=maybe-uninitialized)
    if(name MATCHES "^win32_framework_")
        # Real windows need the run's display, which scripts/wine-tests hands only to those who ask.
        add_test(NAME ${area}/${name}
            COMMAND sh -c "DISPLAY=\"\$QAM_E2E_DISPLAY\" exec \"$0\" \"$1\" --gtest_color=no"
                ${QAM_WINE_RUN} $<TARGET_FILE:${target}>
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    else()
        add_test(NAME ${area}/${name} COMMAND ${QAM_WINE_RUN} $<TARGET_FILE:${target}> --gtest_color=no
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    endif()
    # One simulator serves the run: programs take turns even under ctest -j.
    set_tests_properties(${area}/${name} PROPERTIES TIMEOUT ${QAM_WINDOWS_TEST_TIMEOUT}
        RESOURCE_LOCK qam_module_line)
endforeach()
