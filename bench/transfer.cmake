# Download through UrlDownloader and the real pvl_downloader.exe against
# "curl -o" of the same loopback URL; prints the median time ratio.
add_executable(bench_download ${CMAKE_CURRENT_SOURCE_DIR}/download_bench.cpp)
target_link_libraries(bench_download PRIVATE common glog::glog)
target_compile_definitions(bench_download PRIVATE
  PVL_HTTP_SERVER="${PROJECT_SOURCE_DIR}/tests/transfer/http_server.py")
add_dependencies(bench_download pvl_downloader)
