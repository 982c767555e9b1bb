# Records how it was started; stands in for the client's tray program in the
# demo and for external programs in the end-to-end tests.
add_executable(start_recorder ${CMAKE_CURRENT_LIST_DIR}/start_recorder.cpp)
target_link_libraries(start_recorder PRIVATE Qt5::Core)
if(WIN32)
  # A test stand-in: kept out of the Windows application folder.
  set_target_properties(start_recorder PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-bin)
endif()
