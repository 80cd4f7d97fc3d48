// Dispatch: the cost of one message through Talvero's main window (its window procedure, the
// default dialog handling and the event procedure with its reload of fxwindows.dat), against a
// dialog of the same template whose procedure only reloads the file. Both windows are built in
// this process and shown; batches of sent WM_MOUSEMOVE messages alternate between them.
//
// bench_dispatch.exe TABLE [ROUNDS] [MESSAGES]
#include "benchkit.h"
#include "testkit.h"

#include "app/main_window.h"
#include "termlink/status_timer.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace benchkit;

namespace {

HWND referenceStockWindow = nullptr;

INT_PTR CALLBACK reloadOnly(HWND, UINT, WPARAM, LPARAM) {
    reloadHandleFile(referenceStockWindow);
    return FALSE;
}

// Microseconds per message over one batch.
double batch(HWND window, int messages) {
    double start = nowMs();
    for (int i = 0; i < messages; ++i)
        SendMessageW(window, WM_MOUSEMOVE, 0, 0);
    return (nowMs() - start) * 1000.0 / messages;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_dispatch TABLE [ROUNDS] [MESSAGES]\n");
        return 2;
    }
    Table table(argv[1]);
    int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
    int messages = argc > 3 ? std::atoi(argv[3]) : 2000;

    testkit::ScratchDirectory directory;
    // A handle as discovery would have written it.
    testkit::writeFile("fxwindows.dat", std::string("\x48\x00\x03\x00", 4));
    testkit::TalveroWindow talvero;
    // Ticks would fall into the batches; the timer is measured on its own.
    KillTimer(mainWindow, statusTimerId);
    HWND reference = createReferenceDialog(reloadOnly, "reference", talveroX, referenceY);
    testkit::pumpFor(500);

    batch(talvero.window(), messages / 10);
    batch(reference, messages / 10);
    std::vector<double> talveroUs;
    std::vector<double> referenceUs;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            talveroUs.push_back(batch(talvero.window(), messages));
            referenceUs.push_back(batch(reference, messages));
        } else {
            referenceUs.push_back(batch(reference, messages));
            talveroUs.push_back(batch(talvero.window(), messages));
        }
        testkit::pumpFor(20);
    }
    std::printf("dispatch, Talvero (us per message):");
    for (double us : talveroUs)
        std::printf(" %.2f", us);
    std::printf("\ndispatch, reference (us per message):");
    for (double us : referenceUs)
        std::printf(" %.2f", us);
    std::printf("\n");

    Summary t = summarize(talveroUs);
    Summary r = summarize(referenceUs);
    double ratio = r.median > 0 ? t.median / r.median : 0;
    table.row("dispatch, one message (us)", withRange(t, 1), withRange(r, 1), fixed(ratio, 3) + "x",
              "<= 1.05x reload-only", ratio <= 1.05);
    DestroyWindow(reference);
    return 0;
}
