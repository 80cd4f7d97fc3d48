talvero_win_test(shell_tests ${CMAKE_CURRENT_LIST_DIR}/shell_tests.cpp)
