# The proof under faults, hang-ups and bad input (scripts/proof adds up their PROOF lines): the
# fault sweep, the hang-ups, the malformed files and the hostile registry values through the
# headless window, and the repeated scans over a ports directory (native only).
set(QAM_PROOF_LINK_GROUP "qam_ui,qam_update,qam_module,qam_test_support,qam_link,qam_framework_headless")
foreach(name proof_sweep_test proof_input_test posix_proof_scan_test)
    if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
        add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
        target_link_libraries(${name} PRIVATE "$<LINK_GROUP:RESCAN,${QAM_PROOF_LINK_GROUP}>" GTest::gtest_main)
        qam_warnings(${name})
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT 900)
    endif()
endforeach()
