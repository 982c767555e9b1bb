# Transfer tools: the argument encoding, the two runners with stand-in and real
# tools, and the tools' own parts. Real servers run on 127.0.0.1: a Python HTTP
# server for downloads and s3rver (installed under the build folder by a
# fixture) for uploads.
find_program(PVL_PYTHON3 python3 REQUIRED)
find_program(PVL_NODE node)
set(transfer_test_dir ${CMAKE_CURRENT_SOURCE_DIR}/transfer)
set(pvl_s3rver_prefix ${CMAKE_BINARY_DIR}/s3rver)

add_library(transfer_test_support STATIC
  ${transfer_test_dir}/test_support.cpp ${transfer_test_dir}/test_support.h)
target_include_directories(transfer_test_support PUBLIC ${transfer_test_dir})
target_link_libraries(transfer_test_support PUBLIC test_support transfer_tool_support Qt5::Core
  Qt5::Network glog::glog GTest::GTest)

add_executable(transfer_tools_test transfer_tools_test.cpp)
target_link_libraries(transfer_tools_test PRIVATE common transfer_tool_support GTest::GTest
  GTest::Main)
add_test(NAME transfer_tools COMMAND transfer_tools_test)

foreach(runner url_downloader oss_uploader)
  add_executable(${runner}_test ${runner}_test.cpp)
  target_link_libraries(${runner}_test PRIVATE common transfer_tool_support
    transfer_test_support GTest::GTest)
  target_compile_definitions(${runner}_test PRIVATE
    PVL_TOOLS_DIR="$<TARGET_FILE_DIR:pvl_uploader>"
    PVL_TEST_SERVERS_DIR="${transfer_test_dir}"
    PVL_PYTHON3="${PVL_PYTHON3}"
    PVL_NODE="${PVL_NODE}"
    PVL_S3RVER_PREFIX="${pvl_s3rver_prefix}")
  add_dependencies(${runner}_test pvl_uploader pvl_downloader)
  add_test(NAME ${runner} COMMAND ${runner}_test)
  set_tests_properties(${runner} PROPERTIES TIMEOUT 120)
endforeach()

add_test(NAME transfer_s3rver_install
  COMMAND ${transfer_test_dir}/install_s3rver.sh ${pvl_s3rver_prefix})
set_tests_properties(transfer_s3rver_install PROPERTIES FIXTURES_SETUP s3rver TIMEOUT 300)
set_tests_properties(oss_uploader PROPERTIES FIXTURES_REQUIRED s3rver)
