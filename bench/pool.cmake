add_executable(bench_pool bench_pool.cpp)
target_link_libraries(bench_pool PRIVATE common)
