# A station of sixteen paced simulated modules through the real qamtool, set against one.
add_executable(station_bench ${CMAKE_CURRENT_LIST_DIR}/station_bench.cpp)
target_link_libraries(station_bench PRIVATE qam_update_format qam_sim)
target_compile_definitions(station_bench PRIVATE QAM_QAMTOOL="$<TARGET_FILE:qamtool>")
add_dependencies(station_bench qamtool)
qam_warnings(station_bench)
