# Block transfers through the real link against the in-process simulator, paced and unpaced.
add_executable(block_transfer_bench ${CMAKE_CURRENT_LIST_DIR}/block_transfer_bench.cpp)
target_link_libraries(block_transfer_bench PRIVATE qam_link qam_link_product_timeouts qam_framework_headless qam_sim)
qam_warnings(block_transfer_bench)
