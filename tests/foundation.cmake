add_executable(foundation_child ${CMAKE_CURRENT_LIST_DIR}/helpers/foundation_child.cpp)
target_link_libraries(foundation_child PRIVATE common)
# Stands in for command-line tools: records how it was started and prints what
# the test's plan says (zipper and command tests).
add_executable(scripted_tool ${CMAKE_CURRENT_LIST_DIR}/helpers/scripted_tool.cpp)
target_link_libraries(scripted_tool PRIVATE Qt5::Core)

foreach(suite filepath logger singleton_program utils)
  add_executable(${suite}_test ${CMAKE_CURRENT_LIST_DIR}/${suite}_test.cpp)
  target_link_libraries(${suite}_test PRIVATE common qt_test_main)
  target_compile_definitions(${suite}_test PRIVATE
    FOUNDATION_CHILD="$<TARGET_FILE:foundation_child>"
    SCRIPTED_TOOL="$<TARGET_FILE:scripted_tool>")
  add_dependencies(${suite}_test foundation_child scripted_tool)
  add_test(NAME ${suite} COMMAND ${suite}_test)
endforeach()
# simpleHttpGet's HTTPS cases use the test certificates.
set_tests_properties(utils PROPERTIES FIXTURES_REQUIRED test_certificates)
