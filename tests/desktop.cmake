add_executable(desktop_test ${CMAKE_CURRENT_LIST_DIR}/desktop_test.cpp)
target_link_libraries(desktop_test PRIVATE common qt_test_main_widgets)
# A copy of the start recorder stands in for a browser.
target_compile_definitions(desktop_test PRIVATE START_RECORDER="$<TARGET_FILE:start_recorder>")
add_dependencies(desktop_test start_recorder)
add_test(NAME desktop_test COMMAND desktop_test)
if(WIN32)
  target_sources(desktop_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/helpers/qt_platform_plugin_win.cpp)
  target_link_libraries(desktop_test PRIVATE Qt5::QWindowsIntegrationPlugin)
  set_tests_properties(desktop_test PROPERTIES TIMEOUT 120)
else()
  # No display exists where the tests run; Qt's offscreen platform gives the
  # clipboard and widgets a screen of their own and has no desktop service.
  set_tests_properties(desktop_test PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    TIMEOUT 120)
endif()
