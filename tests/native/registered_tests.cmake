# The native tests and bounded fuzzing runs, registered in the Windows build's CTest run.
add_test(NAME native_text_tests COMMAND ${native_dir}/tests/native/native_text_tests)

file(GLOB fuzz_sources ${PROJECT_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
foreach(source ${fuzz_sources})
  get_filename_component(name ${source} NAME_WE)
  string(REPLACE "fuzz_" "" corpus ${name})
  # New inputs go to a scratch directory; the committed seeds stay as they are.
  add_test(NAME ${name}
           COMMAND sh -c "mkdir -p \"$1\" && exec \"$0\" -max_total_time=${TALVERO_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \"$1\" \"$2\""
                   ${native_dir}/tests/native/${name}
                   ${CMAKE_BINARY_DIR}/fuzz-work/${corpus}
                   ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${corpus})
endforeach()
