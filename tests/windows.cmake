if(NOT WIN32)
  add_test(NAME windows_sources_compile
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/check_windows_sources.sh)
  return()
endif()

# The Wine prefixes the Windows tests run in, each made once: one for the
# unit suites, one of its own for the end-to-end suite, whose taskkill ends
# processes by name and whose workers take the guard in that Wine session.
add_test(NAME wine_prefix COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine_prefix.sh ${wine_prefix})
set(e2e_wine_prefix ${CMAKE_BINARY_DIR}/wine-prefix-e2e)
add_test(NAME wine_prefix_e2e COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine_prefix.sh ${e2e_wine_prefix})
set_tests_properties(wine_prefix wine_prefix_e2e PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)

# The end-to-end suite is a host program (PVL_HOST_BUILD_DIR: the Linux build)
# that drives updater.exe under Wine with the Windows 7-Zip, tray program and
# taskkill stand-ins, in namespaces of its own like the native runs: nothing
# it starts outlives it.
set(e2e_host_bin ${PVL_HOST_BUILD_DIR}/bin)
# Holds an installed file open as a virus scanner would, for the waiting cases.
add_executable(file_holder ${CMAKE_CURRENT_LIST_DIR}/helpers/file_holder_win.cpp)
target_link_libraries(file_holder PRIVATE shell32)
set(isolated ${CMAKE_CURRENT_LIST_DIR}/run_isolated.sh)
set(e2e_environment
  UPDATER_TARGET=wine
  WINEPREFIX=${e2e_wine_prefix}
  WINE_RUN=${CMAKE_CURRENT_LIST_DIR}/wine_run.sh
  UPDATER_EXE=$<TARGET_FILE:updater>
  SEVEN_ZIP_EXE=${CMAKE_BINARY_DIR}/bin/7z/pvl_7z.exe
  START_RECORDER_EXE=$<TARGET_FILE:start_recorder>
  TASKKILL_EXE=$<TARGET_FILE:taskkill>
  FILE_HOLDER_EXE=$<TARGET_FILE:file_holder>)
add_test(NAME updater_e2e COMMAND ${isolated} ${e2e_host_bin}/updater_e2e_test)
add_test(NAME taskkill COMMAND ${isolated} ${e2e_host_bin}/taskkill_test)
set_tests_properties(updater_e2e taskkill PROPERTIES
  ENVIRONMENT "${e2e_environment}" RESOURCE_LOCK pavlune_wine_e2e)
set_tests_properties(taskkill PROPERTIES TIMEOUT 600)
# It takes longest: started first.
set_tests_properties(updater_e2e PROPERTIES COST 1000 TIMEOUT 1200)

# The transfer tools: the host's tool suites against the local HTTP and S3
# servers, with the Windows pvl_downloader.exe and pvl_uploader.exe in the
# tools' place. The cases where Windows differs run: files replaced or kept,
# partial files kept, locked, taken over and continued after a kill, local files
# read, requests sent through the tools' own socket. The others skip themselves
# there (TransferTest::windowsTools); retry timing is the same on both and slow.
set(transfer_environment
  WINDOWS_TOOLS_DIR=${CMAKE_BINARY_DIR}/bin
  WINEPREFIX=${wine_prefix}
  WINE_RUN=${CMAKE_CURRENT_LIST_DIR}/wine_run.sh)
foreach(suite http_download s3_upload)
  add_test(NAME ${suite} COMMAND ${PVL_HOST_BUILD_DIR}/bin/${suite}_test)
  add_test(NAME ${suite}_tls COMMAND ${PVL_HOST_BUILD_DIR}/bin/${suite}_test)
  set_tests_properties(${suite} PROPERTIES ENVIRONMENT "${transfer_environment}" TIMEOUT 300)
  set_tests_properties(${suite}_tls PROPERTIES
    ENVIRONMENT "${transfer_environment};TRANSFER_TEST_TLS=1" TIMEOUT 300)
  set_property(TEST ${suite} ${suite}_tls APPEND PROPERTY FIXTURES_REQUIRED test_certificates)
endforeach()

# Every test here needs its prefix.
get_property(windows_tests DIRECTORY PROPERTY TESTS)
list(REMOVE_ITEM windows_tests wine_prefix wine_prefix_e2e test_certificates)
set_property(TEST ${windows_tests} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
