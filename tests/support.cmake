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
  ${test_support_dir}/platform.cpp ${test_support_dir}/platform.h
  ${test_support_dir}/network.cpp ${test_support_dir}/network.h)
target_include_directories(test_support PUBLIC ${test_support_dir})
target_link_libraries(test_support PUBLIC Qt5::Core Qt5::Network glog::glog GTest::gtest)

# The HTTPS tests' certificates, made afresh by the openssl tool before the
# tests that need them. The Windows build's tests share the Linux build's,
# which its host test programs read.
if(WIN32)
  set(pvl_test_certificates ${PVL_HOST_BUILD_DIR}/test-certificates)
else()
  set(pvl_test_certificates ${CMAKE_BINARY_DIR}/test-certificates)
endif()
target_compile_definitions(test_support PUBLIC
  PVL_TEST_CERTIFICATES_DIR="${pvl_test_certificates}")
add_test(NAME test_certificates
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/transfer/make_certificates.sh ${pvl_test_certificates})
set_tests_properties(test_certificates PROPERTIES FIXTURES_SETUP test_certificates)

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
