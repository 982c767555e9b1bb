# Records how it was started; stands in for the client's tray program in the
# demo and for external programs in the end-to-end tests.
# It takes the single-instance guard as the client would, through the guard's
# own sources: the rest of the shared library is not needed.
if(WIN32)
  set(start_recorder_guard_platform win)
else()
  set(start_recorder_guard_platform posix)
endif()
set(guard_dir ${PROJECT_SOURCE_DIR}/src/common)
add_executable(start_recorder ${CMAKE_CURRENT_LIST_DIR}/start_recorder.cpp
  ${guard_dir}/singleton_program_${start_recorder_guard_platform}.cpp)
target_include_directories(start_recorder PRIVATE ${guard_dir})
target_link_libraries(start_recorder PRIVATE Qt5::Core)
if(WIN32)
  # A test stand-in: kept out of the Windows application folder.
  set_target_properties(start_recorder PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-bin)
endif()
