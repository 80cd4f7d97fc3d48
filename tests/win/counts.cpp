// The end of every test program's run: GoogleTest's report, then the counts that run-tests.cmd
// adds up. Apart from testkit.cpp, which the benchmarks share without GoogleTest.
#include "testkit.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace testkit {

namespace {

// The counts of a whole run, as one line of the log and as the file run-tests.cmd reads. A
// failure outside any test (in a suite's set-up, say) counts as one failed test.
class CountsListener : public ::testing::EmptyTestEventListener {
    void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
        int failed = unit.failed_test_count() + (unit.ad_hoc_test_result().Failed() ? 1 : 0);
        std::printf("%d passed, %d failed, %d skipped\n", unit.successful_test_count(), failed,
                    unit.skipped_test_count());
        std::fflush(stdout);
        char path[MAX_PATH];
        DWORD length = GetEnvironmentVariableA("TALVERO_COUNTS", path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return;
        char counts[64];
        std::snprintf(counts, sizeof counts, "%d %d %d\r\n", unit.successful_test_count(), failed,
                      unit.skipped_test_count());
        writeFile(path, counts);
    }
};

} // namespace

int runAllTests(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new CountsListener);
    return RUN_ALL_TESTS();
}

} // namespace testkit
