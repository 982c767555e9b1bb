# Transfer tools: the two runners with stand-in tools, the tools' parts, and the
# tools themselves run through the runners against real servers on 127.0.0.1: a
# Python HTTP server for downloads and s3rver (installed under the build folder
# by a fixture) for uploads. One program per component.
find_program(PVL_PYTHON3 python3 REQUIRED)
find_program(PVL_NODE node)
set(transfer_test_dir ${CMAKE_CURRENT_SOURCE_DIR}/transfer)
set(pvl_s3rver_prefix ${CMAKE_BINARY_DIR}/s3rver)

add_library(transfer_test_support STATIC
  ${transfer_test_dir}/test_support.cpp ${transfer_test_dir}/test_support.h)
target_include_directories(transfer_test_support PUBLIC ${transfer_test_dir})
target_link_libraries(transfer_test_support PUBLIC test_support transfer_tool_support Qt5::Core
  Qt5::Network glog::glog GTest::GTest)
target_compile_definitions(transfer_test_support PUBLIC
  PVL_TEST_SERVERS_DIR="${transfer_test_dir}"
  PVL_PYTHON3="${PVL_PYTHON3}")

foreach(part argument_encoding aws_signer message_writer verbatim_http_reply)
  add_executable(${part}_test ${part}_test.cpp)
  target_link_libraries(${part}_test PRIVATE common transfer_tool_support qt_test_main)
  add_test(NAME ${part} COMMAND ${part}_test)
endforeach()

# Programs that run from an application folder of their own, with the tools
# placed in it.
foreach(suite transfer_runner http_download s3_upload)
  add_executable(${suite}_test ${suite}_test.cpp)
  target_link_libraries(${suite}_test PRIVATE common transfer_tool_support
    transfer_test_support qt_test_main_own_app_folder)
  target_compile_definitions(${suite}_test PRIVATE
    PVL_TOOLS_DIR="$<TARGET_FILE_DIR:pvl_uploader>"
    PVL_NODE="${PVL_NODE}"
    PVL_S3RVER_PREFIX="${pvl_s3rver_prefix}")
  add_dependencies(${suite}_test pvl_uploader pvl_downloader)
  add_test(NAME ${suite} COMMAND ${suite}_test)
  set_tests_properties(${suite} PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED test_certificates)
endforeach()
# Under the sanitizers the tools' suites take minutes on two busy cores.
set_tests_properties(http_download s3_upload PROPERTIES TIMEOUT 300)
# The tools' suites once more over HTTPS, their servers speaking TLS. Each
# HTTPS run reads the system's roots besides the test's, which takes seconds
# under the sanitizers.
foreach(suite http_download s3_upload)
  add_test(NAME ${suite}_tls COMMAND ${suite}_test)
  set_tests_properties(${suite}_tls PROPERTIES ENVIRONMENT TRANSFER_TEST_TLS=1 TIMEOUT 900
    FIXTURES_REQUIRED test_certificates)
endforeach()

add_test(NAME transfer_s3rver_install
  COMMAND ${transfer_test_dir}/install_s3rver.sh ${pvl_s3rver_prefix})
set_tests_properties(transfer_s3rver_install PROPERTIES FIXTURES_SETUP s3rver TIMEOUT 300)
set_tests_properties(s3_upload s3_upload_tls PROPERTIES FIXTURES_REQUIRED "s3rver;test_certificates")
