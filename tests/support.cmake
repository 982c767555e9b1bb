# Helpers shared by the test suites: glog capture, running a test from an
# application folder of its own, and what differs between the systems.
add_library(test_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/support/log_capture.cpp ${CMAKE_CURRENT_LIST_DIR}/support/log_capture.h
  ${CMAKE_CURRENT_LIST_DIR}/support/app_folder.cpp ${CMAKE_CURRENT_LIST_DIR}/support/app_folder.h
  ${CMAKE_CURRENT_LIST_DIR}/support/platform.cpp ${CMAKE_CURRENT_LIST_DIR}/support/platform.h)
target_include_directories(test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR}/support)
target_link_libraries(test_support PUBLIC Qt5::Core glog::glog)
