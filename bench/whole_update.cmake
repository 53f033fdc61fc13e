# One whole update, the window's own sequence on headless windows, against the paced simulator.
add_executable(whole_update_bench ${CMAKE_CURRENT_LIST_DIR}/whole_update_bench.cpp)
target_link_libraries(whole_update_bench PRIVATE
    "$<LINK_GROUP:RESCAN,qam_update,qam_module,qam_link,qam_framework_headless>"
    qam_link_product_timeouts qam_sim)
qam_warnings(whole_update_bench)
