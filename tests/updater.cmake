# The updater: its install step on its own, and the real binary end to end.

if(WIN32)
  set(updater_platform win)
else()
  set(updater_platform posix)
endif()
add_executable(hot_update_installer_test
  ${CMAKE_CURRENT_LIST_DIR}/hot_update_installer_test.cpp
  ${PROJECT_SOURCE_DIR}/src/updater/hot_update_installer.cpp
  ${PROJECT_SOURCE_DIR}/src/updater/file_names_${updater_platform}.cpp
  ${PROJECT_SOURCE_DIR}/src/updater/file_moves_${updater_platform}.cpp)
target_include_directories(hot_update_installer_test PRIVATE ${PROJECT_SOURCE_DIR}/src/updater)
target_link_libraries(hot_update_installer_test PRIVATE common GTest::gtest GTest::gtest_main)
add_test(NAME hot_update_installer COMMAND hot_update_installer_test)

add_executable(updater_e2e_test ${CMAKE_CURRENT_LIST_DIR}/updater_e2e_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/updater_target.cpp ${CMAKE_CURRENT_LIST_DIR}/updater_target.h)
target_link_libraries(updater_e2e_test PRIVATE Qt5::Core GTest::gtest)
add_dependencies(updater_e2e_test updater taskkill start_recorder)
target_compile_definitions(updater_e2e_test PRIVATE
  UPDATER_BIN="$<TARGET_FILE:updater>"
  TASKKILL_BIN="$<TARGET_FILE:taskkill>"
  START_RECORDER_BIN="$<TARGET_FILE:start_recorder>")
# Every worker takes the machine-wide guard "Pavlune.exe", and taskkill ends
# processes by name: these entries never run side by side, and each runs in
# namespaces of its own where it can, apart from runs in other build trees.
set(isolated ${CMAKE_CURRENT_LIST_DIR}/run_isolated.sh)
add_test(NAME updater_e2e
  COMMAND ${isolated} $<TARGET_FILE:updater_e2e_test> --gtest_filter=-*Interrupted*:Taskkill*)
add_test(NAME updater_e2e_interrupted
  COMMAND ${isolated} $<TARGET_FILE:updater_e2e_test> --gtest_filter=*Interrupted*)
add_test(NAME taskkill COMMAND ${isolated} $<TARGET_FILE:updater_e2e_test> --gtest_filter=Taskkill*)
set_tests_properties(updater_e2e updater_e2e_interrupted taskkill PROPERTIES
  RESOURCE_LOCK pavlune_updater TIMEOUT 300)
