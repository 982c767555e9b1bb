# Extraction through Zipper against 7zz run directly (make bench FILTER=zipper).
add_executable(bench_zipper ${CMAKE_CURRENT_LIST_DIR}/zipper_bench.cpp)
target_link_libraries(bench_zipper PRIVATE common)
