include(GoogleTest)

# Every pool test builds and tears down pools of its own, so each runs as a
# CTest entry of its own, in parallel (on Windows, where discovery would run
# the program under Wine while building, one entry per suite).
add_executable(thread_pool_test thread_pool_test.cpp)
target_link_libraries(thread_pool_test PRIVATE common test_support GTest::gtest GTest::gtest_main)
if(WIN32)
  foreach(suite PoolTiming PoolLifecycle PoolFailures PoolInstance)
    add_test(NAME thread_pool.${suite} COMMAND thread_pool_test --gtest_filter=${suite}.*)
    set_tests_properties(thread_pool.${suite} PROPERTIES TIMEOUT 120)
  endforeach()
else()
  gtest_discover_tests(thread_pool_test TEST_PREFIX "thread_pool." PROPERTIES TIMEOUT 60)
endif()

# Each queue holds a process-wide pool worker for good, so the queue tests run
# one process per suite; the startup suite needs a fresh pool.
add_executable(task_queue_test task_queue_test.cpp)
target_link_libraries(task_queue_test PRIVATE common test_support GTest::gtest GTest::gtest_main)
foreach(suite TaskQueueStartup TaskQueueDuplicates TaskQueueRunning TaskQueueCancel)
  add_test(NAME task_queue.${suite} COMMAND task_queue_test --gtest_filter=${suite}.*)
  set_tests_properties(task_queue.${suite} PROPERTIES TIMEOUT 60)
endforeach()
