# Zipper against the real 7-Zip and the scripted tool. Each test process runs
# from a temporary application folder of its own.
add_executable(zipper_test ${CMAKE_CURRENT_LIST_DIR}/zipper_test.cpp)
target_link_libraries(zipper_test PRIVATE common qt_test_main_own_app_folder)
if(WIN32)
  set(seven_zip_program ${PVL_WIN_7ZIP})
else()
  find_program(seven_zip_program 7zz)
endif()
target_compile_definitions(zipper_test PRIVATE
  SEVEN_ZIP="${seven_zip_program}" SCRIPTED_TOOL="$<TARGET_FILE:scripted_tool>")
add_dependencies(zipper_test scripted_tool)
if(WIN32)
  # Discovery would run the program under Wine while building: the program is
  # one entry instead.
  add_test(NAME zipper COMMAND zipper_test)
  set_tests_properties(zipper PROPERTIES TIMEOUT 300)
else()
  include(GoogleTest)
  gtest_discover_tests(zipper_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()
