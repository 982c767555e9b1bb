# Helpers shared by the test suites: files and trees, clocks, glog capture,
# running a test from an application folder of its own or each suite in a
# process of its own, and what differs between the systems.
set(test_support_dir ${CMAKE_CURRENT_LIST_DIR}/support)
add_library(test_support STATIC
  ${test_support_dir}/files.cpp ${test_support_dir}/files.h
  ${test_support_dir}/clock.cpp ${test_support_dir}/clock.h
  ${test_support_dir}/log_capture.cpp ${test_support_dir}/log_capture.h
  ${test_support_dir}/app_folder.cpp ${test_support_dir}/app_folder.h
  ${test_support_dir}/suite_processes.cpp ${test_support_dir}/suite_processes.h
  ${test_support_dir}/platform.cpp ${test_support_dir}/platform.h)
target_include_directories(test_support PUBLIC ${test_support_dir})
target_link_libraries(test_support PUBLIC Qt5::Core glog::glog GTest::gtest)

# The one test main, qt_test_main.cpp: with an application object
# (qt_test_main), a widget application (qt_test_main_widgets), running each
# test suite in a process of its own (qt_test_main_suites_apart), or running
# from an application folder of its own (qt_test_main_own_app_folder).
foreach(form "" _widgets _suites_apart _own_app_folder)
  add_library(qt_test_main${form} STATIC ${CMAKE_CURRENT_LIST_DIR}/qt_test_main.cpp)
  target_link_libraries(qt_test_main${form} PUBLIC test_support Qt5::Core GTest::gtest)
endforeach()
target_compile_definitions(qt_test_main_widgets PRIVATE PVL_TEST_WIDGETS)
target_link_libraries(qt_test_main_widgets PUBLIC Qt5::Widgets)
target_compile_definitions(qt_test_main_suites_apart PRIVATE PVL_TEST_SUITES_APART)
target_compile_definitions(qt_test_main_own_app_folder PRIVATE PVL_TEST_OWN_APP_FOLDER)
