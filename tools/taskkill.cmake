# Stand-in for the Windows "taskkill" the updater runs in restart mode: the
# updater finds it beside itself in build/bin on Linux, and the Windows tests
# put it in the application folder, where Wine's own tool matches no wildcards.
# A test program, never part of the Windows application folder.
if(WIN32)
  set(taskkill_platform_source taskkill_win.cpp)
else()
  set(taskkill_platform_source taskkill_posix.cpp)
endif()
add_executable(taskkill ${CMAKE_CURRENT_LIST_DIR}/taskkill.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${taskkill_platform_source})
if(WIN32)
  set_target_properties(taskkill PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-bin)
endif()
