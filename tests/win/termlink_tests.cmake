talvero_win_test(termlink_tests ${CMAKE_CURRENT_LIST_DIR}/termlink_tests.cpp)
