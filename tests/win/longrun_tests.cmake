talvero_win_test(longrun_tests ${CMAKE_CURRENT_LIST_DIR}/longrun_tests.cpp)
# Process memory counters (GetProcessMemoryInfo).
target_link_libraries(longrun_tests PRIVATE psapi)
