talvero_win_test(robustness_tests ${CMAKE_CURRENT_LIST_DIR}/robustness_tests.cpp)
