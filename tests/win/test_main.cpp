// The main of the Windows test programs: GoogleTest's, with the counts that run-tests.cmd adds up.
#include "testkit.h"

int main(int argc, char** argv) {
    return testkit::runAllTests(argc, argv);
}
