include(GoogleTest)

# Every pool test builds and tears down pools of its own, so each runs as a
# CTest entry of its own, in parallel (on Windows, where discovery would run
# the program under Wine while building, the program is one entry).
add_executable(thread_pool_test thread_pool_test.cpp)
target_link_libraries(thread_pool_test PRIVATE common qt_test_main)
if(WIN32)
  add_test(NAME thread_pool COMMAND thread_pool_test)
  set_tests_properties(thread_pool PROPERTIES TIMEOUT 120)
else()
  gtest_discover_tests(thread_pool_test TEST_PREFIX "thread_pool." PROPERTIES TIMEOUT 60)
endif()

# Each queue holds a process-wide pool worker for good and the startup suite
# needs a fresh pool: the program runs each suite in a process of its own.
add_executable(task_queue_test task_queue_test.cpp)
target_link_libraries(task_queue_test PRIVATE common qt_test_main_suites_apart)
add_test(NAME task_queue COMMAND task_queue_test)
set_tests_properties(task_queue PROPERTIES TIMEOUT 120)
