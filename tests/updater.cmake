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
target_link_libraries(hot_update_installer_test PRIVATE common qt_test_main)
add_test(NAME hot_update_installer COMMAND hot_update_installer_test)

# The Windows build runs the install step under Wine: its renames, flushes and
# name comparisons are the system's there. The end-to-end suites are host
# programs (windows.cmake).
if(WIN32)
  return()
endif()

# The programs of the build as child processes: the updater end to end, and
# the taskkill stand-in on its own.
foreach(suite updater_e2e taskkill)
  add_executable(${suite}_test ${CMAKE_CURRENT_LIST_DIR}/${suite}_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/updater_target.cpp ${CMAKE_CURRENT_LIST_DIR}/updater_target.h)
  target_link_libraries(${suite}_test PRIVATE qt_test_main)
  add_dependencies(${suite}_test updater taskkill start_recorder)
  target_compile_definitions(${suite}_test PRIVATE
    UPDATER_BIN="$<TARGET_FILE:updater>"
    TASKKILL_BIN="$<TARGET_FILE:taskkill>"
    START_RECORDER_BIN="$<TARGET_FILE:start_recorder>")
endforeach()
# Every worker takes the machine-wide guard "Pavlune.exe", and taskkill ends
# processes by name: these entries never run side by side, and each runs in
# namespaces of its own where it can, apart from runs in other build trees.
set(isolated ${CMAKE_CURRENT_LIST_DIR}/run_isolated.sh)
add_test(NAME updater_e2e COMMAND ${isolated} $<TARGET_FILE:updater_e2e_test>)
add_test(NAME taskkill COMMAND ${isolated} $<TARGET_FILE:taskkill_test>)
set_tests_properties(updater_e2e taskkill PROPERTIES RESOURCE_LOCK pavlune_updater)
set_tests_properties(updater_e2e PROPERTIES TIMEOUT 600)
set_tests_properties(taskkill PROPERTIES TIMEOUT 300)
