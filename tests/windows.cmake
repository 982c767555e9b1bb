add_test(NAME windows_sources_compile
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/check_windows_sources.sh)
