add_executable(desktop_test ${CMAKE_CURRENT_LIST_DIR}/desktop_test.cpp)
target_link_libraries(desktop_test PRIVATE common GTest::gtest)
add_test(NAME desktop_test COMMAND desktop_test)
# No display exists where the tests run; Qt's offscreen platform gives the
# clipboard and widgets a screen of their own and has no desktop service.
set_tests_properties(desktop_test PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
  TIMEOUT 120)
