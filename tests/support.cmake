# Helpers shared by the test suites: glog capture, and running a test from an
# application folder of its own.
add_library(test_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/support/log_capture.cpp ${CMAKE_CURRENT_LIST_DIR}/support/log_capture.h
  ${CMAKE_CURRENT_LIST_DIR}/support/app_folder.cpp ${CMAKE_CURRENT_LIST_DIR}/support/app_folder.h)
target_include_directories(test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR}/support)
target_link_libraries(test_support PUBLIC Qt5::Core glog::glog)
