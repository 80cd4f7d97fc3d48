# End to end: the built Talvero.exe beside the stand-in stock program and terminal, each in its
# own process under Wine, driven through the X display with real clicks and typing (xdotool), and
# looked at through winprobe (tools/winprobe.cpp).

find_program(TALVERO_PYTHON3 NAMES python3)
find_program(TALVERO_XDOTOOL NAMES xdotool)
if(CMAKE_HOST_UNIX AND TALVERO_PYTHON3 AND TALVERO_XDOTOOL)
  add_test(NAME e2e COMMAND ${TALVERO_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/test_system.py
                            --bin ${CMAKE_BINARY_DIR}/bin)
  set(e2e_programs Talvero stocksim termsim winprobe)
  list(TRANSFORM e2e_programs REPLACE "(.+)" "${CMAKE_BINARY_DIR}/bin/\\1.exe")
  # It clicks on the one shared display, so nothing else may run beside it.
  set_tests_properties(e2e PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE REQUIRED_FILES "${e2e_programs}")

  # Talvero alone under code pages 950 and 1252, beside the stand-ins under 936.
  add_test(NAME codepages COMMAND ${TALVERO_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/test_codepages.py
                                  --bin ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(codepages PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE
                       REQUIRED_FILES "${e2e_programs}")

  # The shipped 32-bit program, run from the 64-bit build beside its stand-ins: the one scenario
  # that reaches it on every machine (under emulation where 32-bit code is refused).
  if(NOT talvero_shipped STREQUAL "${CMAKE_BINARY_DIR}/bin/Talvero.exe")
    add_test(NAME shipped_smoke COMMAND ${TALVERO_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/test_shipped.py
                                        --bin ${CMAKE_BINARY_DIR}/bin --shipped ${talvero_shipped})
    set_tests_properties(shipped_smoke PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE SKIP_RETURN_CODE 77
                         REQUIRED_FILES "${e2e_programs};${talvero_shipped}")
  endif()
endif()
