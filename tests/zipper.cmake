# Zipper against the real 7-Zip (7zz) and small stand-in scripts. Each test
# process runs from a temporary application folder of its own (see main).
add_executable(zipper_test ${CMAKE_CURRENT_LIST_DIR}/zipper_test.cpp)
target_link_libraries(zipper_test PRIVATE common test_support GTest::gtest)
target_compile_definitions(zipper_test PRIVATE
  PACED_TOOL="${CMAKE_CURRENT_LIST_DIR}/helpers/paced_tool.py")
include(GoogleTest)
gtest_discover_tests(zipper_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
