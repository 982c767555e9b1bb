# One fuzz target per reader of outside input (fuzz/<name>_fuzz.cpp), each with
# its seed corpus in fuzz/corpus/<name>/. Every build replays the corpora as
# ordinary tests through a small main; with PVL_FUZZ (make fuzz, configured by
# scripts/fuzz.sh with clang and the sanitizers) the targets are libFuzzer
# programs instead.
set(fuzz_dir ${CMAKE_CURRENT_LIST_DIR}/fuzz)
set(fuzz_names archive_output transfer_messages job_argument http_answer s3_answer part_meta
  open_command)
if(NOT WIN32)
  # Desktop files are how Linux desktops name the browser; Windows has none.
  list(APPEND fuzz_names desktop_entry)
endif()
set(fuzz_corpus_dir ${fuzz_dir}/corpus)
if(WIN32)
  # Under Wine the host's root is drive Z:.
  set(fuzz_corpus_dir Z:${fuzz_corpus_dir})
endif()
if(PVL_FUZZ)
  add_custom_target(fuzz_targets)
endif()
foreach(name IN LISTS fuzz_names)
  if(PVL_FUZZ)
    add_executable(fuzz_${name} ${fuzz_dir}/${name}_fuzz.cpp)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzz_targets fuzz_${name})
  else()
    add_executable(fuzz_${name} ${fuzz_dir}/${name}_fuzz.cpp ${fuzz_dir}/replay_main.cpp)
    add_test(NAME fuzz_corpus.${name} COMMAND fuzz_${name} ${fuzz_corpus_dir}/${name})
    # Each input takes well under a second; a reader that hangs fails here too.
    set_tests_properties(fuzz_corpus.${name} PROPERTIES TIMEOUT 120)
  endif()
  target_include_directories(fuzz_${name} PRIVATE ${fuzz_dir})
  target_link_libraries(fuzz_${name} PRIVATE common transfer_tool_support)
endforeach()
