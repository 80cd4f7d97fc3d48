talvero_win_test(stocklink_tests ${CMAKE_CURRENT_LIST_DIR}/stocklink_tests.cpp)
