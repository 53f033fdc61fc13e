# The update-file reader fed arbitrary bytes.
add_executable(update_reader_fuzzer ${CMAKE_CURRENT_LIST_DIR}/update_reader_fuzz.cpp)
target_link_libraries(update_reader_fuzzer PRIVATE qam_update_format)
target_link_options(update_reader_fuzzer PRIVATE -fsanitize=fuzzer)
qam_warnings(update_reader_fuzzer)
