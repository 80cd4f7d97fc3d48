# The download: tools/package.py packs the shipped 32-bit Talvero.exe with a stand-in guide, and
# the test reads the zip, the checksum and the program's header, imports and version block back
# (needs only Python), whichever build the other tests run.
get_filename_component(talvero_shipped_tree ${talvero_shipped} DIRECTORY)
get_filename_component(talvero_shipped_tree ${talvero_shipped_tree} DIRECTORY)
find_program(TALVERO_PYTHON3 NAMES python3)
if(TALVERO_PYTHON3)
  add_test(NAME package COMMAND ${TALVERO_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/test_package.py
                                --build ${talvero_shipped_tree} --version ${PROJECT_VERSION})
  set_tests_properties(package PROPERTIES TIMEOUT 120
                       REQUIRED_FILES "${talvero_shipped}")
endif()
