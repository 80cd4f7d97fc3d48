// Handlers: a query with the keyboard wizard found, a period press and a timer tick that finds
// the chart view, each in Talvero's main window (built in this process) and in a reference dialog
// whose handlers make exactly the calls the behaviour needs and nothing more. The stand-in stock
// program and terminal run in their own processes.
//
// Both sides sleep their fixed pauses for real (the stock program needs them to open its wizard),
// and every pause is timed, so the comparison is of the time spent outside the pauses: the
// overshoot of a sleep is the machine's, not the handler's.
//
// Then Talvero's query alone, from the click to the code shown by a responsive stock program, by
// one whose wizard opens late and by one that is slow with every key.
//
// bench_handlers.exe TABLE [RUNS]
#include "benchkit.h"
#include "testkit.h"

#include "app/dispatch.h"
#include "app/main_window.h"
#include "base/pause.h"
#include "res/resource.h"
#include "stocklink/query.h"
#include "termlink/period.h"
#include "termlink/status_timer.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace benchkit;

namespace {

// Time spent in the pauses of the call being measured, on either side.
double sleptMs = 0;

void timedPause(unsigned milliseconds) {
    double start = nowMs();
    Sleep(milliseconds);
    sleptMs += nowMs() - start;
}

struct Timed {
    double total = 0; // the whole call
    double work = 0;  // the call less its pauses
};

Timed timeCall(const std::function<void()>& call) {
    sleptMs = 0;
    double start = nowMs();
    call();
    Timed timed;
    timed.total = nowMs() - start;
    timed.work = timed.total - sleptMs;
    return timed;
}

void sendCommand(HWND dialog, int controlId) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(controlId, 0),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, controlId)));
}

constexpr char queryCode[] = "600000";
constexpr const char* wizardTitle = "\xBC\xFC\xC5\xCC\xBE\xAB\xC1\xE9"; // 键盘精灵
constexpr const char* terminalClassName = "MetaQuotes::MetaTrader::4.00";
// Ten codes: with "1A0001" the list holds eleven entries, so every query takes the same path
// (drop the tenth, insert at the top) and saves ten lines.
constexpr const char* recentCodes = "\"600000\"\r\n\"600036\"\r\n\"000001\"\r\n\"000002\"\r\n"
                                    "\"600519\"\r\n\"601318\"\r\n\"000858\"\r\n\"002415\"\r\n"
                                    "\"300750\"\r\n\"601988\"\r\n";

// The reference: its dialog, the handle its procedure reloads, and what its handlers found.
HWND referenceDialog = nullptr;
HWND referenceStockWindow = nullptr;
HWND referenceTerminal = nullptr;
bool referenceWizardFound = false;
bool referenceChartFound = false;
bool referenceViewFound = false;
HICON referenceIcons[3]; // 112, 113, 114

void pressKey(BYTE key) {
    keybd_event(key, 0, 0, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
}

// Keys go only to the stock program: its process must own the window in front.
bool stockProgramInFront(DWORD stockProcess) {
    DWORD process = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &process);
    return process == stockProcess;
}

// The calls a query needs: the live stock window, the activation, each key and Enter only while
// the stock program is in front, one look at how much of the code its wizard took, the code,
// Enter and the save.
void referenceQuery() {
    DWORD stockProcess = 0;
    if (!IsWindow(referenceStockWindow) ||
        !GetWindowThreadProcessId(referenceStockWindow, &stockProcess))
        return;
    SetForegroundWindow(referenceStockWindow);
    SetWindowPos(referenceStockWindow, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_ASYNCWINDOWPOS);
    ShowWindowAsync(referenceStockWindow, SW_SHOWNOACTIVATE);
    timedPause(100);
    if (!stockProgramInFront(stockProcess))
        return;
    for (const char* key = queryCode; *key; ++key) {
        if (!stockProgramInFront(stockProcess))
            return;
        pressKey(static_cast<BYTE>(*key));
    }
    timedPause(100);
    HWND wizard = FindWindowA("#32770", wizardTitle);
    referenceWizardFound = wizard != nullptr;
    if (!wizard)
        return;
    HWND edit = FindWindowExA(wizard, nullptr, "Edit", nullptr);
    timedPause(100);
    char taken[256];
    DWORD_PTR length = 0;
    SendMessageTimeoutA(edit, WM_GETTEXT, sizeof taken, reinterpret_cast<LPARAM>(taken),
                        SMTO_ABORTIFHUNG, 2000, &length);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(queryCode), SMTO_ABORTIFHUNG,
                        2000, &ignored);
    if (!stockProgramInFront(stockProcess))
        return;
    pressKey(VK_RETURN);
    // The save: ten lines, through a temporary file moved over the list unless it is read-only.
    DWORD attributes = GetFileAttributesA("DAIMA.DAT");
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) {
        HANDLE file = CreateFileA("DAIMA.DAT.new", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, recentCodes, static_cast<DWORD>(std::strlen(recentCodes)), &written,
                  nullptr);
        FlushFileBuffers(file);
        CloseHandle(file);
        MoveFileExA("DAIMA.DAT.new", "DAIMA.DAT",
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    timedPause(100);
}

void referencePeriod(int controlId) {
    const PeriodRow& row = periodTable[controlId - periodTable[0].controlId];
    HWND mdiClient = FindWindowExA(referenceTerminal, nullptr, "MDIClient", nullptr);
    HWND chart = FindWindowExA(mdiClient, nullptr, nullptr, row.multiChartTitle);
    referenceChartFound = chart != nullptr;
    PostMessageA(referenceStockWindow, WM_COMMAND, row.command, 0);
    SetWindowPos(chart, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_ASYNCWINDOWPOS);
    ShowWindowAsync(chart, 0x1000004);
}

void setReferenceIcon(int index) {
    SendDlgItemMessageW(referenceDialog, terminalIconId, STM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(referenceIcons[index]));
}

void referenceTick() {
    HWND terminal = FindWindowA(terminalClassName, nullptr);
    PostMessageA(terminal, WM_COMMAND, 33324, 0);
    char caption[1024] = "";
    int length = GetWindowTextLengthA(terminal);
    GetWindowTextA(terminal, caption, length + 1 < 1024 ? length + 1 : 1024);
    // The active chart: what the caption's last brackets hold.
    char title[256] = "";
    const char* open = std::strrchr(caption, '[');
    const char* close = open ? std::strchr(open, ']') : nullptr;
    if (open && close && close - open - 1 < 256) {
        std::memcpy(title, open + 1, static_cast<std::size_t>(close - open - 1));
        title[close - open - 1] = '\0';
    }
    HWND mdiClient = FindWindowExA(terminal, nullptr, "MDIClient", nullptr);
    HWND chart = FindWindowExA(mdiClient, nullptr, nullptr, title);
    HWND view = FindWindowExA(chart, nullptr, "AfxFrameOrView42", nullptr);
    if (!view)
        view = FindWindowExA(chart, nullptr, "AfxFrameOrView42s", nullptr);
    referenceViewFound = view != nullptr;
    char text[300];
    std::snprintf(text, sizeof text, "Talvero   %s", title);
    SetWindowTextA(referenceDialog, text);
    if (!view) {
        setReferenceIcon(1);
        return;
    }
    setReferenceIcon(0);
    timedPause(200);
    setReferenceIcon(1);
    timedPause(100);
    setReferenceIcon(2);
}

INT_PTR CALLBACK referenceProcedure(HWND, UINT message, WPARAM wParam, LPARAM) {
    reloadHandleFile(referenceStockWindow);
    if (message == WM_COMMAND && HIWORD(wParam) == 0) {
        int id = LOWORD(wParam);
        if (id == queryButtonId)
            referenceQuery();
        else if (id >= periodTable[0].controlId && id <= periodTable[periodCount - 1].controlId)
            referencePeriod(id);
    }
    return FALSE;
}

// The reference dialog, below Talvero's, with the one control its handlers touch: the
// terminal status icon, as Talvero creates it.
void createReference() {
    referenceDialog = createReferenceDialog(referenceProcedure, "Talvero", talveroX, referenceY);
    for (int i = 0; i < 3; ++i)
        referenceIcons[i] = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                                          MAKEINTRESOURCEW(IDI_SCREENS_LIT + i),
                                                          IMAGE_ICON, 16, 16, 0));
    RECT rect = {225, 3, 225 + 21, 3 + 19};
    MapDialogRect(referenceDialog, &rect);
    CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top, referenceDialog,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(terminalIconId)),
                    GetModuleHandleW(nullptr), nullptr);
    setReferenceIcon(1);
    referenceTerminal = FindWindowA(terminalClassName, nullptr);
}

struct Side {
    const char* name;
    std::vector<Timed> runs;
    int misses = 0; // runs in which the wizard or the view was not found
};

Summary summarizeTotal(const Side& side) {
    std::vector<double> values;
    for (const Timed& timed : side.runs)
        values.push_back(timed.total);
    return summarize(values);
}

Summary summarizeWork(const Side& side) {
    std::vector<double> values;
    for (const Timed& timed : side.runs)
        values.push_back(timed.work);
    return summarize(values);
}

void print(const char* benchmark, const Side& side) {
    std::printf("%s, %s (total/work ms):", benchmark, side.name);
    for (const Timed& timed : side.runs)
        std::printf(" %.2f/%.3f", timed.total, timed.work);
    std::printf(" (not found: %d)\n", side.misses);
}

void addRow(Table& table, const char* benchmark, const Side& talvero, const Side& reference,
            int decimals) {
    print(benchmark, talvero);
    print(benchmark, reference);
    Summary tw = summarizeWork(talvero);
    Summary rw = summarizeWork(reference);
    double difference = tw.median - rw.median;
    bool complete = talvero.misses == 0 && reference.misses == 0 && tw.count > 0;
    table.row(benchmark, withRange(summarizeTotal(talvero), decimals),
              withRange(summarizeTotal(reference), decimals),
              (difference >= 0 ? "+" : "") + fixed(difference, 2) + " ms (work " +
                  fixed(tw.median, 2) + " vs " + fixed(rw.median, 2) + ")" +
                  (complete ? "" : " (not found)"),
              "<= +1 ms", complete && difference <= 1.0);
}

// Talvero's query, as a click of the button with the code typed into the box.
Timed talveroQuery(bool& found) {
    SetWindowTextW(GetDlgItem(mainWindow, codeComboId), L"600000");
    SetForegroundWindow(mainWindow);
    testkit::pumpFor(300);
    resetQueryState();
    Timed timed = timeCall([] { sendCommand(mainWindow, queryButtonId); });
    found = lastQueryOutcome() == QueryOutcome::shown;
    return timed;
}

Timed referenceQueryRun(bool& found) {
    SetForegroundWindow(referenceDialog);
    testkit::pumpFor(300);
    referenceWizardFound = false;
    Timed timed = timeCall([] { sendCommand(referenceDialog, queryButtonId); });
    found = referenceWizardFound;
    return timed;
}

void record(Side& side, const std::function<Timed(bool&)>& run, DWORD settleMs) {
    bool found = false;
    side.runs.push_back(run(found));
    if (!found)
        ++side.misses;
    testkit::pumpFor(settleMs);
}

// Runs both sides alternately (ABBA) after one unrecorded run of each.
void alternate(Side& talvero, Side& reference, int runs,
               const std::function<Timed(bool&)>& talveroRun,
               const std::function<Timed(bool&)>& referenceRun, DWORD settleMs) {
    Side warmUp = {"", {}};
    record(warmUp, talveroRun, settleMs);
    record(warmUp, referenceRun, settleMs);
    for (int run = 0; run < runs; ++run) {
        bool talveroFirst = run % 4 == 0 || run % 4 == 3;
        if (talveroFirst) {
            record(talvero, talveroRun, settleMs);
            record(reference, referenceRun, settleMs);
        } else {
            record(reference, referenceRun, settleMs);
            record(talvero, talveroRun, settleMs);
        }
    }
}

// Click to shown: from the click on the query button to the moment the stock program shows the
// code, as its journal says. The query holds this thread until after that (the save, the last
// pause), so a second thread watches the journal and stamps the "show" line when it appears.
class ShowWatcher {
  public:
    explicit ShowWatcher(const std::string& journalPath)
        : file_(CreateFileA(journalPath.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        // Only what the stand-in journals from now on counts.
        if (file_ != INVALID_HANDLE_VALUE)
            SetFilePointer(file_, 0, nullptr, FILE_END);
        thread_ = std::thread([this] { run(); });
    }
    ~ShowWatcher() {
        stop_ = true;
        thread_.join();
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    bool seen() const { return seen_; }
    // When the line was read, and the code it shows; only once seen() holds.
    double stamp() const { return stamp_; }
    const std::string& code() const { return code_; }

  private:
    void run() {
        std::string pending;
        while (!stop_ && !seen_ && file_ != INVALID_HANDLE_VALUE) {
            char buffer[4096];
            DWORD got = 0;
            if (ReadFile(file_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                double now = nowMs();
                pending.append(buffer, got);
                take(pending, now);
                continue; // more may be there already
            }
            Sleep(1);
        }
    }

    // Looks through the complete lines for "<ms> show <code>".
    void take(std::string& pending, double now) {
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::size_t event = line.find(' ');
            if (event != std::string::npos && line.compare(event + 1, 5, "show ") == 0) {
                code_ = line.substr(event + 6);
                stamp_ = now;
                seen_ = true;
                return;
            }
        }
    }

    HANDLE file_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> seen_{false};
    double stamp_ = 0;
    std::string code_;
    std::thread thread_;
};

// A stand-in stock program for the click-to-shown rows, with the delay its own code adds before it
// can show a code.
struct StockKind {
    const char* benchmark;
    const char* arguments;
    double ownDelayMs;
    std::vector<double> runs;
    int misses = 0; // runs in which the code was not shown, or another one
};

// Starts a stand-in of the kind, points Talvero at it through the handle file and closes the one
// before, so that no other window could be taken for the stock program.
bool switchStock(std::unique_ptr<testkit::StockSim>& current, testkit::StockSim& first,
                 const StockKind& kind) {
    static int started = 0;
    auto next = std::make_unique<testkit::StockSim>();
    if (!testkit::startStockSim(*next, kind.arguments, "shown-" + std::to_string(++started)))
        return false;
    testkit::writeFile("fxwindows.dat", testkit::handleBytes(next->window));
    first.program.kill();
    current = std::move(next); // ends the previous one
    return true;
}

// One query on a freshly started stand-in; records the time from the click to the code shown.
bool recordClickToShown(StockKind& kind, std::unique_ptr<testkit::StockSim>& current,
                        testkit::StockSim& first, bool keep) {
    if (!switchStock(current, first, kind))
        return false;
    testkit::pumpFor(300); // the stand-in's start-up dies down
    SetWindowTextW(GetDlgItem(mainWindow, codeComboId), L"600000");
    ShowWatcher watcher(current->journal.path());
    SetForegroundWindow(mainWindow);
    testkit::pumpFor(300);
    double start = nowMs();
    sendCommand(mainWindow, queryButtonId);
    testkit::waitUntil([&watcher] { return watcher.seen(); }, 2000);
    bool shown = watcher.seen() && watcher.code() == queryCode;
    double elapsed = watcher.seen() ? watcher.stamp() - start : 0;
    // On the stand-in's own clock, for the log: from its first key-down to the show.
    double firstKey = -1, shownAt = -1;
    for (const std::string& line : current->journal.lines()) {
        std::size_t event = line.find(' ');
        if (firstKey < 0 && line.compare(event + 1, 8, "keydown ") == 0)
            firstKey = std::atof(line.c_str());
        else if (line.compare(event + 1, 5, "show ") == 0)
            shownAt = std::atof(line.c_str());
    }
    std::printf("click to shown, %s: %.1f ms, %s \"%s\"; first key to shown %.0f ms\n",
                kind.arguments[0] ? kind.arguments : "responsive", elapsed,
                watcher.seen() ? "shown" : "nothing shown", watcher.code().c_str(),
                shownAt - firstKey);
    if (!keep)
        return true;
    if (shown)
        kind.runs.push_back(elapsed);
    else
        ++kind.misses;
    return true;
}

// The responsive stand-in's click to shown, then each slow one's against it: what the slow one
// took beyond its own delay and beyond the responsive one's time.
void addClickToShownRows(Table& table, const std::vector<StockKind>& kinds) {
    Summary responsive = summarize(kinds[0].runs);
    table.note(kinds[0].benchmark, withRange(responsive, 1), "-",
               "baseline" + std::string(kinds[0].misses ? " (not shown: " +
                                                              std::to_string(kinds[0].misses) + ")"
                                                        : ""));
    for (std::size_t i = 1; i < kinds.size(); ++i) {
        const StockKind& kind = kinds[i];
        Summary slow = summarize(kind.runs);
        double beyond = slow.median - kind.ownDelayMs - responsive.median;
        bool complete = kind.misses == 0 && kinds[0].misses == 0 && slow.count > 0;
        table.row(kind.benchmark, withRange(slow, 1),
                  fixed(kind.ownDelayMs, 0) + " own + " + fixed(responsive.median, 1),
                  (beyond >= 0 ? "+" : "") + fixed(beyond, 1) + " ms beyond own delay " +
                      fixed(kind.ownDelayMs, 0) + " and responsive" +
                      (complete ? "" : " (not shown: " + std::to_string(kind.misses) + ")"),
                  "<= +60 ms", complete && beyond <= 60.0);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_handlers TABLE [RUNS]\n");
        return 2;
    }
    Table table(argv[1]);
    int runs = argc > 2 ? std::atoi(argv[2]) : 20;

    testkit::ScratchDirectory directory;
    testkit::writeFile("DAIMA.DAT", recentCodes);
    testkit::StockSim stock;
    testkit::TermSim term;
    if (!testkit::startStockSim(stock) || !testkit::startTermSim(term)) {
        std::fprintf(stderr, "the stand-in programs did not start\n");
        return 1;
    }
    testkit::TalveroWindow talvero;
    // Ticks are called below one at a time, never in the middle of another measurement.
    KillTimer(mainWindow, statusTimerId);
    pauseHook = timedPause;
    createReference();
    testkit::pumpFor(500);
    if (stockWindow != stock.window || terminalWindow != term.window) {
        std::fprintf(stderr, "Talvero did not find the stand-in programs\n");
        return 1;
    }

    {
        Side t = {"Talvero", {}};
        Side r = {"reference", {}};
        alternate(t, r, runs, talveroQuery, referenceQueryRun, 500);
        addRow(table, "query, wizard found (ms)", t, r, 1);
    }
    {
        // Multi control, each press raising another chart; both sides press the same button
        // in turn, the first of each pair raising the chart and the second finding it on top.
        sendCommand(mainWindow, multiOptionId);
        int press = 0;
        auto button = [&press] { return periodTable[(press / 2) % periodCount].controlId; };
        auto talveroPress = [&](bool& found) {
            int id = button();
            ++press;
            periodChartWindow = nullptr;
            Timed timed = timeCall([id] { sendCommand(mainWindow, id); });
            found = periodChartWindow != nullptr;
            return timed;
        };
        auto referencePress = [&](bool& found) {
            int id = button();
            ++press;
            referenceChartFound = false;
            Timed timed = timeCall([id] { sendCommand(referenceDialog, id); });
            found = referenceChartFound;
            return timed;
        };
        Side t = {"Talvero", {}};
        Side r = {"reference", {}};
        alternate(t, r, runs * 2, talveroPress, referencePress, 100);
        addRow(table, "period press (ms)", t, r, 2);
    }
    {
        auto talveroTick = [](bool& found) {
            activeChartView = nullptr;
            Timed timed =
                timeCall([] { handleStatusTimer(mainWindow, WM_TIMER, statusTimerId, 0); });
            found = activeChartView != nullptr;
            return timed;
        };
        auto referenceTickRun = [](bool& found) {
            referenceViewFound = false;
            Timed timed = timeCall(referenceTick);
            found = referenceViewFound;
            return timed;
        };
        Side t = {"Talvero", {}};
        Side r = {"reference", {}};
        alternate(t, r, runs, talveroTick, referenceTickRun, 300);
        addRow(table, "timer tick, view found (ms)", t, r, 1);
    }
    pauseHook = nullptr;
    std::printf("stocksim showed the code %zu times\n", stock.journal.count("show"));
    {
        // Own delays, from the stand-in's code: --wizard-delay sleeps on the key-down that opens
        // the wizard, before the wizard is created; --key-delay sleeps after each key-down is
        // handled, so the six keys of the code add six delays, and Enter's comes after the show.
        std::vector<StockKind> kinds = {
            {"click to shown, responsive stand-in (ms)", "", 0, {}},
            {"click to shown, wizard 1 s late (ms)", "--wizard-delay 1000", 1000, {}},
            {"click to shown, 60 ms per key (ms)", "--key-delay 60", 6 * 60, {}},
        };
        // Each stand-in in turn, every order once in six rounds, after one unrecorded round.
        constexpr int orders[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                      {2, 1, 0}, {0, 2, 1}, {1, 0, 2}};
        std::unique_ptr<testkit::StockSim> current;
        bool started = true;
        for (int round = -1; round < runs && started; ++round)
            for (int step = 0; step < 3 && started; ++step) {
                StockKind& kind = kinds[orders[(round + 6) % 6][step]];
                started = recordClickToShown(kind, current, stock, round >= 0);
            }
        if (!started) {
            std::fprintf(stderr, "a stand-in stock program did not start\n");
            return 1;
        }
        addClickToShownRows(table, kinds);
    }
    DestroyWindow(referenceDialog);
    return 0;
}
