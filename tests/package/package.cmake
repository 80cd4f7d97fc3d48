# The download: tools/package.py packs the built Talvero.exe with a stand-in guide, and the test
# reads the zip, the checksum and the program's version block back (needs only Python).
find_program(TALVERO_PYTHON3 NAMES python3)
if(TALVERO_PYTHON3)
  add_test(NAME package COMMAND ${TALVERO_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/test_package.py
                                --build ${CMAKE_BINARY_DIR} --version ${PROJECT_VERSION})
  set_tests_properties(package PROPERTIES TIMEOUT 120
                       REQUIRED_FILES "${CMAKE_BINARY_DIR}/bin/Talvero.exe;${CMAKE_BINARY_DIR}/version.txt")
endif()
