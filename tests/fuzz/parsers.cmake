# The link's, the search's and the title's rules fed anything.
add_executable(protocol_fuzzer ${CMAKE_CURRENT_LIST_DIR}/protocol_fuzz.cpp ${CMAKE_SOURCE_DIR}/ui/VersionTitle.cpp)
target_link_libraries(protocol_fuzzer PRIVATE qam_module qam_framework_headless qam_link_product_timeouts)
target_link_options(protocol_fuzzer PRIVATE -fsanitize=fuzzer)
qam_warnings(protocol_fuzzer)

# The reader of saved channel settings fed anything.
add_executable(saved_settings_fuzzer ${CMAKE_CURRENT_LIST_DIR}/saved_settings_fuzz.cpp)
target_link_libraries(saved_settings_fuzzer PRIVATE qam_module qam_framework_headless)
target_link_options(saved_settings_fuzzer PRIVATE -fsanitize=fuzzer)
qam_warnings(saved_settings_fuzzer)
