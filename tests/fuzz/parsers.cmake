# The reply parsers: block-receive length word, identification and scan arithmetic, window title.
add_executable(length_word_fuzzer ${CMAKE_CURRENT_LIST_DIR}/length_word_fuzz.cpp)
target_link_libraries(length_word_fuzzer PRIVATE qam_link_protocol)

add_executable(identification_fuzzer ${CMAKE_CURRENT_LIST_DIR}/identification_fuzz.cpp)
target_link_libraries(identification_fuzzer PRIVATE qam_module qam_framework_headless qam_link_product_timeouts)

add_executable(version_title_fuzzer ${CMAKE_CURRENT_LIST_DIR}/version_title_fuzz.cpp
    ${CMAKE_SOURCE_DIR}/ui/VersionTitle.cpp)

foreach(fuzzer length_word_fuzzer identification_fuzzer version_title_fuzzer)
    target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
    qam_warnings(${fuzzer})
endforeach()
