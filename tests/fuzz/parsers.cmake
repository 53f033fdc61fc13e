# The link's and the search's rules, and the window title's parse, fed anything.
add_executable(protocol_fuzzer ${CMAKE_CURRENT_LIST_DIR}/protocol_fuzz.cpp)
target_link_libraries(protocol_fuzzer PRIVATE qam_module qam_framework_headless qam_link_product_timeouts)

add_executable(version_title_fuzzer ${CMAKE_CURRENT_LIST_DIR}/version_title_fuzz.cpp
    ${CMAKE_SOURCE_DIR}/ui/VersionTitle.cpp)

foreach(fuzzer protocol_fuzzer version_title_fuzzer)
    target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
    qam_warnings(${fuzzer})
endforeach()
