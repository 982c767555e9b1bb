add_executable(bench_md5 ${CMAKE_CURRENT_LIST_DIR}/md5_bench.cpp)
target_link_libraries(bench_md5 PRIVATE common)
