# The download: tools/package.py packs the shipped 32-bit Talvero.exe with a stand-in guide, and
# the test reads the zip, the checksum and the program's header, imports and version block back
# (needs only Python), whichever build the other tests run.
get_filename_component(talvero_shipped_tree ${talvero_shipped} DIRECTORY)
get_filename_component(talvero_shipped_tree ${talvero_shipped_tree} DIRECTORY)
# The 64-bit test zip is packed from this tree's programs where it is the 64-bit one.
set(talvero_tests64 "")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(talvero_tests64 --tests64 ${CMAKE_BINARY_DIR})
endif()
find_program(TALVERO_PYTHON3 NAMES python3)
if(TALVERO_PYTHON3)
  add_test(NAME package COMMAND ${TALVERO_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/test_package.py
                                --build ${talvero_shipped_tree} --version ${PROJECT_VERSION}
                                ${talvero_tests64})
  set_tests_properties(package PROPERTIES TIMEOUT 120
                       REQUIRED_FILES "${talvero_shipped}")
endif()

# The 64-bit test zip as a bare Windows gets it, in a new prefix outside the build tree with
# nothing but Wine on the PATH (run_zip.sh). Two of its programs only, the stand-in stock program
# among what they start, so that scripts/test stays short; the whole zip is run by hand (README).
if(TALVERO_PYTHON3 AND CMAKE_HOST_UNIX AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_test(NAME test_zip COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_zip.sh
                                 --pack ${CMAKE_BINARY_DIR} shell_tests stocklink_tests)
  execute_process(COMMAND ${TALVERO_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/package.py --test-targets
                  OUTPUT_VARIABLE talvero_zip_programs OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(talvero_zip_programs)
  list(TRANSFORM talvero_zip_programs REPLACE "(.+)" "${CMAKE_BINARY_DIR}/bin/\\1.exe")
  # It takes the foreground and types, on the one shared display.
  set_tests_properties(test_zip PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE
                       REQUIRED_FILES "${talvero_zip_programs};${CMAKE_BINARY_DIR}/bin/Talvero.exe")
endif()
