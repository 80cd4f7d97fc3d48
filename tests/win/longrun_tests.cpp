// Talvero left running for a long day beside the stand-in programs: thousands of status-timer
// ticks, queries and period presses in both control modes, interleaved as the timer and a user
// would make them, with the real main window built in this process and the stand-ins in their
// own. Nothing may drift: the process's icons, windows, GDI objects, handles and memory stay where
// they stood after a warm-up, DAIMA.DAT stays whole and equal to the top of the recent-codes list
// after every query, and every tick, press and query still reaches the other programs.
//
// The ordinary test run uses the short length below; TALVERO_LONGRUN=full in the environment of
// this test program (scripts/longrun sets it) selects the long one. Talvero itself reads nothing
// of the kind.
#include "testkit.h"

#include "app/dispatch.h"
#include "app/main_window.h"
#include "base/pause.h"
#include "res/resource.h"
#include "stocklink/discovery.h"
#include "stocklink/query.h"
#include "termlink/period.h"
#include "termlink/status_timer.h"

#include <commctrl.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace testkit;

namespace {

// How much one run does; the ticks and the period presses are spread evenly over the queries.
struct RunLength {
    const char* name;
    int ticks;
    int queries;
    int presses;
    int restarts; // of the stock program, each followed by a press and a query
};
// The ordinary test run (scripts/test), well within a minute and a half.
constexpr RunLength quickRun = {"quick", 2000, 200, 1000, 12};
// TALVERO_LONGRUN=full: as many ticks as eleven hours of the two-second timer.
constexpr RunLength fullRun = {"full", 20000, 2000, 10000, 100};

RunLength chosenRun() {
    const char* choice = std::getenv("TALVERO_LONGRUN");
    return choice && std::strcmp(choice, "full") == 0 ? fullRun : quickRun;
}

// The counts after the warm-up are the reference; this many queries warm up (at least ten, so
// that the recent-codes list has turned over once).
int warmUpQueries(const RunLength& run) {
    return std::max(10, run.queries / 20);
}

// What may differ between the reference and the end of a run without counting as drift. Icons
// and windows must match exactly. The other figures move a little with the heap's bookkeeping
// and with what the window system caches; 256 bytes lost per tick exceed the heap's bound in the
// short run, 16 bytes per tick in the full one.
constexpr long gdiObjectTolerance = 8;
constexpr long handleTolerance = 8;
constexpr long long privateBytesTolerance = 1LL << 20;
constexpr long long heapBytesTolerance = 256LL << 10;

constexpr char recentFile[] = "DAIMA.DAT";
constexpr char recentTempFile[] = "DAIMA.DAT.new";

// The codes of an earlier run: with the first code that start-up adds, the list holds eleven.
const char* const earlierCodes[] = {"600000", "600036", "000001", "000002", "300750",
                                    "601318", "002415", "688981", "000858", "600519"};
constexpr int listSize = 11;

constexpr const char* adjustCommands[] = {"32806", "33052"};

// The GBK title of an offline chart of the A-share symbol.
std::string offlineChart(const std::string& period) {
    return gbk("国内A股," + period + " (offline)");
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

double secondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER now() {
    LARGE_INTEGER at;
    QueryPerformanceCounter(&at);
    return at;
}

// A stand-in's journal read as it grows: each call returns the events of the complete lines
// written since the last call, without their times, so that hours of journal are read once.
class JournalTail {
  public:
    explicit JournalTail(std::string path) : path_(std::move(path)) {}

    std::vector<std::string> take() {
        std::vector<std::string> events;
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return events;
        LARGE_INTEGER at;
        at.QuadPart = offset_;
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
        std::string bytes;
        char chunk[16384];
        DWORD got = 0;
        while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
            bytes.append(chunk, got);
        CloseHandle(file);
        size_t start = 0;
        for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
            size_t space = bytes.find(' ', start);
            events.push_back(space < end ? bytes.substr(space + 1, end - space - 1) : "");
        }
        offset_ += static_cast<LONGLONG>(start); // a line still being written is read next time
        return events;
    }

    LONGLONG bytesRead() const { return offset_; }

  private:
    std::string path_;
    LONGLONG offset_ = 0;
};

// What the stand-in stock program has received: the commands (IDs) and the codes it has shown.
struct StockReceived {
    explicit StockReceived(const std::string& path) : tail(path) {}
    void read() {
        for (const std::string& event : tail.take()) {
            if (startsWith(event, "command ")) {
                size_t end = event.find(' ', 8);
                commands.push_back(event.substr(8, end == std::string::npos ? end : end - 8));
            } else if (startsWith(event, "show ")) {
                shows.push_back(event.substr(5));
            }
        }
    }
    JournalTail tail;
    std::vector<std::string> commands;
    std::vector<std::string> shows;
};

// How many refresh commands the stand-in terminal has received.
struct TerminalReceived {
    explicit TerminalReceived(const std::string& path) : tail(path) {}
    void read() {
        for (const std::string& event : tail.take()) {
            if (event == "command 33324")
                ++refreshes;
        }
    }
    JournalTail tail;
    long refreshes = 0;
};

// ---- What the process holds, measured from inside it ----

// The process's GDI objects. GetGuiResources gives 0 here; GDI handles are likewise an index with
// a generation in the high word, and the index alone is accepted, so every index is tried.
long liveGdiObjects() {
    DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported)
        return static_cast<long>(reported);
    long count = 0;
    for (UINT_PTR index = 1; index <= 0xFFFF; ++index) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)))
            ++count;
    }
    return count;
}

// The process's open kernel handles. GetProcessHandleCount says 0 here; kernel handles are small
// multiples of four, so every value up to a bound is asked for its flags instead.
long openHandles() {
    DWORD reported = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported)
        return static_cast<long>(reported);
    long count = 0;
    for (UINT_PTR value = 4; value <= 0xFFFC; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}

BOOL CALLBACK countChild(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}

BOOL CALLBACK countWindowAndChildren(HWND window, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    EnumChildWindows(window, countChild, count);
    return TRUE;
}

// The windows of this thread: the top-level ones and everything below them.
long threadWindows() {
    long count = 0;
    EnumThreadWindows(GetCurrentThreadId(), countWindowAndChildren,
                      reinterpret_cast<LPARAM>(&count));
    return count;
}

// Bytes in use in every heap of the process: the C runtime's, the process heap, any other.
long long heapBytesInUse() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    long long total = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                total += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

// A figure in kB from the wineserver's status: Z:\proc\self names the process that opens the
// file, and under Wine that is the wineserver, which holds the windows and handles of every
// program here. -1 without /proc.
long long wineserverStatusKb(const char* field) {
    std::string status = readFile("Z:\\proc\\self\\status");
    size_t at = status.find(std::string("\n") + field + ":");
    if (at == std::string::npos)
        return -1;
    return std::strtoll(status.c_str() + at + std::strlen(field) + 2, nullptr, 10);
}

struct Sample {
    int queries = 0;
    int ticks = 0;
    int presses = 0;
    double seconds = 0;
    std::vector<UINT_PTR> icons;
    long windows = 0;
    long gdiObjects = 0;
    long handles = 0;
    long long privateBytes = 0;
    long long workingSet = 0;
    long long heapBytes = 0;
    long long wineserverRssKb = 0;
};

Sample measure() {
    pumpFor(0); // paint what is pending, so that every sample is taken in the same state
    Sample sample;
    sample.icons = liveIcons();
    sample.windows = threadWindows();
    sample.gdiObjects = liveGdiObjects();
    sample.handles = openHandles();
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        // Wine leaves PrivateUsage at 0 and gives the private commit in PagefileUsage, which is
        // the same figure on Windows.
        sample.privateBytes = static_cast<long long>(memory.PrivateUsage ? memory.PrivateUsage
                                                                         : memory.PagefileUsage);
        sample.workingSet = static_cast<long long>(memory.WorkingSetSize);
    }
    sample.heapBytes = heapBytesInUse();
    sample.wineserverRssKb = wineserverStatusKb("VmRSS");
    return sample;
}

void printSampleHeader() {
    std::printf("longrun: %8s %6s %6s %7s %6s %7s %5s %4s %7s %10s %10s %10s %9s\n", "seconds",
                "ticks", "query", "presses", "icons", "windows", "gdi", "hnd", "private",
                "workingset", "heapinuse", "wineserver", "");
    std::printf("longrun: %8s %6s %6s %7s %6s %7s %5s %4s %7s %10s %10s %10s\n", "", "", "", "", "",
                "", "", "", "kB", "kB", "kB", "kB");
}

void printSample(const Sample& s, const char* label) {
    std::printf("longrun: %8.1f %6d %6d %7d %6zu %7ld %5ld %4ld %7lld %10lld %10lld %10lld %s\n",
                s.seconds, s.ticks, s.queries, s.presses, s.icons.size(), s.windows, s.gdiObjects,
                s.handles, s.privateBytes / 1024, s.workingSet / 1024, s.heapBytes / 1024,
                s.wineserverRssKb, label);
    std::fflush(stdout);
}

// A probe that cannot see what it is meant to count shows no leak either: each one is shown one
// object more and one fewer before it is trusted.
template <typename Count, typename Make, typename Unmake>
bool probeSees(Count count, Make make, Unmake unmake) {
    auto before = count();
    auto object = make();
    auto during = count();
    unmake(object);
    auto after = count();
    return during == before + 1 && after == before;
}

// ---- The query's pauses, shortened ----

// The query pauses four times: after bringing the stock program forward, after typing (so that
// its keyboard wizard opens), before setting the code (so that the typed keys have arrived) and
// after Enter (so that the wizard closes). The hook waits for just that and never longer than the
// pause it stands in for, so a stand-in that is slow makes the query stop where Talvero would
// stop. A tick's two pauses only let the user see the blink; nothing waits on them.
struct QueryInFlight {
    bool active = false;
    int pausesSeen = 0;
    HWND stockWindow = nullptr;
    size_t codeSize = 0;
};
QueryInFlight inFlight;

HWND findWizard() {
    static const std::string title = gbk("键盘精灵");
    return FindWindowA("#32770", title.c_str());
}

// The wizard window exists as soon as it is created, before its edit field.
HWND findWizardEdit() {
    HWND wizard = findWizard();
    return wizard ? FindWindowExA(wizard, nullptr, "Edit", nullptr) : nullptr;
}

bool editHoldsTheTypedCode() {
    HWND edit = findWizardEdit();
    DWORD_PTR length = 0;
    return edit &&
           SendMessageTimeoutA(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 50, &length) &&
           length == inFlight.codeSize;
}

bool queryMayGoOn(int pause) {
    switch (pause) {
    case 0:
        return GetForegroundWindow() == inFlight.stockWindow;
    case 1:
        return findWizardEdit() != nullptr;
    case 2:
        return editHoldsTheTypedCode();
    default:
        return findWizard() == nullptr;
    }
}

void shortenedPause(unsigned milliseconds) {
    if (!inFlight.active)
        return;
    if (milliseconds != 100) { // a poll of a query waiting for a busy stock program
        Sleep(milliseconds);
        return;
    }
    int pause = inFlight.pausesSeen++;
    DWORD start = GetTickCount();
    while (!queryMayGoOn(pause) && GetTickCount() - start < milliseconds)
        Sleep(1);
}

// Puts the sleep back however the test ends.
class PauseHookScope {
  public:
    explicit PauseHookScope(PauseHook hook) : saved_(pauseHook) { pauseHook = hook; }
    ~PauseHookScope() { pauseHook = saved_; }

  private:
    PauseHook saved_;
};

// ---- The recent-codes list and its file ----

// The recent-codes list, top to bottom, as the GBK bytes that DAIMA.DAT holds.
std::vector<std::string> listEntries(HWND combo) {
    std::vector<std::string> entries = comboItems(combo);
    for (std::string& entry : entries)
        entry = gbk(entry);
    return entries;
}

// DAIMA.DAT as a completed query leaves it: of the first ten entries those not empty, each
// quoted and ended by CR LF.
std::string recentFileFor(const std::vector<std::string>& entries) {
    std::string bytes;
    for (size_t i = 0; i < entries.size() && i < 10; ++i) {
        if (!entries[i].empty())
            bytes += "\"" + entries[i] + "\"\r\n";
    }
    return bytes;
}

// The file's shape alone: at most ten lines, each a quoted entry ended by CR LF.
bool wellFormedRecentFile(const std::string& bytes) {
    size_t lines = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos || end - start < 2 || bytes[start] != '"' ||
            bytes[end - 1] != '"')
            return false;
        std::string entry = bytes.substr(start + 1, end - start - 2);
        if (entry.find_first_of("\"\r\n") != std::string::npos)
            return false;
        ++lines;
        start = end + 2;
    }
    return lines <= 10;
}

// Codes as a user types them: six digits of the Shanghai, Shenzhen and growth boards, now and then
// a market prefix, now and then with spaces around them. Fixed seed, so every run is the same.
class CodeSource {
  public:
    std::string next() {
        static const char* const boards[] = {"600", "601", "603", "000", "002", "300", "688"};
        std::string code;
        if (count_ % 5 == 4)
            code = std::string(count_ % 2 ? "sh" : "sz") + digits(4);
        else
            code = boards[random_() % 7] + digits(3);
        if (count_ % 7 == 6)
            code = " " + code + " ";
        ++count_;
        return code;
    }

  private:
    std::string digits(int n) {
        std::string text;
        for (int i = 0; i < n; ++i)
            text += static_cast<char>('0' + random_() % 10);
        return text;
    }
    std::mt19937 random_{20240607};
    int count_ = 0;
};

std::string trimmed(const std::string& code) {
    size_t begin = code.find_first_not_of(' ');
    size_t end = code.find_last_not_of(' ');
    return begin == std::string::npos ? "" : code.substr(begin, end - begin + 1);
}

// ---- The run ----

class LongRun : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string seeded;
        for (const char* code : earlierCodes)
            seeded += std::string("\"") + code + "\"\r\n";
        writeFile(recentFile, seeded);
        expectedFile = seeded;
        ASSERT_TRUE(startStockSim(stock));
        ASSERT_TRUE(startTermSim(term));
        talvero = std::make_unique<TalveroWindow>();
        // Ticks come from the run alone, so that they can be counted.
        KillTimer(window(), statusTimerId);
        ASSERT_EQ(readFile("fxwindows.dat"), handleBytes(stock.window));
        stockReceived = std::make_unique<StockReceived>(stock.journal.path());
        terminalReceived = std::make_unique<TerminalReceived>(term.journal.path());
    }

    HWND window() const { return talvero->window(); }
    HWND combo() const { return talvero->control(codeComboId); }

    // One period press, through the toolbar as a click or straight to the event procedure.
    void press(const PeriodButton& button, bool multi, bool throughToolbar) {
        LARGE_INTEGER start = now();
        if (throughToolbar) {
            HWND toolbar = talvero->control(periodToolbarId);
            RECT rect = {};
            SendMessageW(toolbar, TB_GETRECT, button.id, reinterpret_cast<LPARAM>(&rect));
            LPARAM centre = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
            SendMessageW(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, centre);
            SendMessageW(toolbar, WM_LBUTTONUP, 0, centre);
        } else {
            sendCommand(window(), button.id);
        }
        pressSeconds += secondsSince(start);
        ++presses;
        commandsExpected.push_back(button.command);

        std::string title = multi ? offlineChart(button.multiPeriod) : offlineChart("M417");
        HWND chart = FindWindowExA(term.mdiClient, nullptr, nullptr, title.c_str());
        ASSERT_NE(chart, nullptr);
        EXPECT_EQ(periodChartWindow, chart);
        EXPECT_EQ(periodChartTitle, title);
        // The raise is handed to the terminal's thread; it comes to the top once that has run.
        EXPECT_TRUE(waitUntil([&] { return GetWindow(term.mdiClient, GW_CHILD) == chart; }))
            << "press " << presses << " did not raise " << utf8FromGbk(title);
        lastChart = title;
    }

    void clickAdjustCheck(bool checked) {
        SendDlgItemMessageW(window(), adjustCheckId, BM_SETCHECK,
                            checked ? BST_CHECKED : BST_UNCHECKED, 0);
        sendCommand(window(), adjustCheckId);
        EXPECT_EQ(adjustCheckState, checked ? 1 : 0);
        commandsExpected.insert(commandsExpected.end(), std::begin(adjustCommands),
                                std::end(adjustCommands));
    }

    // Ticks once the terminal shows the last raised chart as its active one, then checks what the
    // last tick found and showed.
    void tickTimes(int count) {
        std::string bracketed = "[" + lastChart + "]";
        ASSERT_TRUE(waitUntil([&] {
            std::string caption = windowTextAnsi(term.window);
            return caption.size() >= bracketed.size() &&
                   caption.compare(caption.size() - bracketed.size(), bracketed.size(),
                                   bracketed) == 0;
        })) << "the terminal's caption never showed "
            << utf8FromGbk(lastChart);
        LARGE_INTEGER start = now();
        for (int i = 0; i < count; ++i)
            handleStatusTimer(window(), WM_TIMER, statusTimerId, GetTickCount());
        tickSeconds += secondsSince(start);
        ticks += count;
        if (count == 0)
            return;
        HWND chart = FindWindowExA(term.mdiClient, nullptr, nullptr, lastChart.c_str());
        EXPECT_EQ(terminalWindow, term.window);
        EXPECT_EQ(windowTextAnsi(window()), "Talvero   " + lastChart);
        EXPECT_EQ(activeChartWindow, chart);
        EXPECT_NE(activeChartView, nullptr);
        EXPECT_EQ(activeChartView, FindWindowExA(chart, nullptr, "AfxFrameOrView42", nullptr));
        EXPECT_EQ(iconNumber(talvero->control(terminalIconId)), IDI_SCREEN_ONE_LIT)
            << "the blink ends on the one-lit icon";
    }

    void query(const std::string& code) {
        SetWindowTextW(combo(), std::wstring(code.begin(), code.end()).c_str());
        inFlight = QueryInFlight{true, 0, stock.window, trimmed(code).size()};
        LARGE_INTEGER start = now();
        sendCommand(window(), queryButtonId);
        querySeconds += secondsSince(start);
        inFlight.active = false;
        ++queries;

        std::vector<std::string> entries = listEntries(combo());
        ASSERT_EQ(entries.size(), static_cast<size_t>(listSize)) << "the list no longer grows";
        EXPECT_EQ(entries[0], code) << "a full list takes the newest code at the top";
        // A query that finds the wizard pauses twice more, presses Enter and saves the list; one
        // that does not stops after its second pause.
        if (inFlight.pausesSeen == 4) {
            ++completedQueries;
            expectedFile = recentFileFor(entries);
            std::string shown = trimmed(code);
            EXPECT_TRUE(waitUntil([&] {
                stockReceived->read();
                return !stockReceived->shows.empty() && stockReceived->shows.back() == shown;
            })) << "query "
                << queries << ": the stock program never showed " << shown;
            stockReceived->shows.clear();
        } else {
            ++stoppedQueries;
        }
        std::string file = readFile(recentFile);
        EXPECT_TRUE(wellFormedRecentFile(file)) << "query " << queries << ": " << file;
        EXPECT_EQ(file, expectedFile) << "query " << queries;
        EXPECT_FALSE(fileExists(recentTempFile)) << "query " << queries;
    }

    // Everything posted to the other programs has arrived, in order and nothing else.
    void checkArrivals() {
        EXPECT_TRUE(waitUntil([&] {
            stockReceived->read();
            return stockReceived->commands.size() >= commandsExpected.size();
        }));
        EXPECT_EQ(stockReceived->commands, commandsExpected) << "after query " << queries;
        stockReceived->commands.clear();
        commandsExpected.clear();
        EXPECT_TRUE(waitUntil([&] {
            terminalReceived->read();
            return terminalReceived->refreshes >= ticks;
        }));
        EXPECT_EQ(terminalReceived->refreshes, ticks);
    }

    Sample sampleNow(const LARGE_INTEGER& runStart) {
        Sample sample = measure();
        sample.queries = queries;
        sample.ticks = ticks;
        sample.presses = presses;
        sample.seconds = secondsSince(runStart);
        return sample;
    }

    ScratchDirectory scratch;
    StockSim stock;
    TermSim term;
    std::unique_ptr<TalveroWindow> talvero;
    std::unique_ptr<StockReceived> stockReceived;
    std::unique_ptr<TerminalReceived> terminalReceived;

    // The terminal's active chart at its start, until a press raises another.
    std::string lastChart = offlineChart("Daily");
    std::string expectedFile;
    std::vector<std::string> commandsExpected;
    int ticks = 0;
    int queries = 0;
    int presses = 0;
    int completedQueries = 0;
    int stoppedQueries = 0;
    double tickSeconds = 0;
    double querySeconds = 0;
    double pressSeconds = 0;
};

TEST_F(LongRun, TicksQueriesAndPeriodPressesLeaveNothingBehindAndKeepTheRecentCodesFileWhole) {
    const RunLength run = chosenRun();
    std::printf("longrun: %s run: %d ticks, %d queries, %d period presses\n", run.name, run.ticks,
                run.queries, run.presses);

    ASSERT_TRUE(probeSees([] { return liveIcons().size(); },
                          [] {
                              BYTE andMask[32 * 4] = {}, xorMask[32 * 4] = {};
                              return CreateIcon(nullptr, 16, 16, 1, 1, andMask, xorMask);
                          },
                          [](HICON icon) { DestroyIcon(icon); }))
        << "the icon count cannot be measured here";
    bool gdiMeasurable = probeSees(
        liveGdiObjects, [] { return CreateSolidBrush(RGB(1, 2, 3)); },
        [](HBRUSH brush) { DeleteObject(brush); });
    bool handlesMeasurable = probeSees(
        openHandles, [] { return CreateEventW(nullptr, TRUE, FALSE, nullptr); },
        [](HANDLE event) { CloseHandle(event); });
    ASSERT_TRUE(probeSees(
        threadWindows,
        [] {
            return CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                   nullptr, nullptr);
        },
        [](HWND probe) { DestroyWindow(probe); }));
    std::printf("longrun: GDI objects %s (%ld now), open handles %s (%ld now)\n",
                gdiMeasurable ? "counted" : "not measurable here", liveGdiObjects(),
                handlesMeasurable ? "counted" : "not measurable here", openHandles());

    PauseHookScope shortPauses(shortenedPause);
    CodeSource codes;
    const int warmUp = warmUpQueries(run);
    const int sampleEvery = std::max(1, run.queries / 10);
    // Only the reference and the latest sample are kept, copied into room made before the first
    // measurement, so that the run's own bookkeeping does not grow the heap it measures.
    Sample reference, end;
    reference.icons.reserve(4096);
    end.icons.reserve(4096);
    bool sampled = false;
    printSampleHeader();
    LARGE_INTEGER runStart = now();

    for (int round = 0; round < run.queries && !HasFailure(); ++round) {
        // Round 0 runs before either option has been clicked; then the modes take turns.
        bool multi = round % 2 == 1;
        if (round > 0)
            sendCommand(window(), multi ? multiOptionId : singleOptionId);
        int pressesNow =
            run.presses * (round + 1) / run.queries - run.presses * round / run.queries;
        for (int i = 0; i < pressesNow && !HasFailure(); ++i) {
            const PeriodButton& button = periodButtons[presses % 9];
            press(button, multi, presses % 2 == 1);
        }
        clickAdjustCheck(round % 2 == 0);
        int ticksNow = run.ticks * (round + 1) / run.queries - run.ticks * round / run.queries;
        tickTimes(ticksNow);
        query(codes.next());
        checkArrivals();
        pumpFor(0);

        if (round + 1 == warmUp) {
            const Sample sample = sampleNow(runStart);
            reference = sample;
            printSample(reference, "reference after the warm-up");
        } else if (round + 1 > warmUp &&
                   ((round + 1) % sampleEvery == 0 || round + 1 == run.queries)) {
            const Sample sample = sampleNow(runStart);
            printSample(sample, "");
            EXPECT_EQ(sample.icons, reference.icons) << "icons after query " << queries;
            EXPECT_EQ(sample.windows, reference.windows) << "windows after query " << queries;
            end = sample;
            sampled = true;
        }
    }
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(sampled);
    double seconds = secondsSince(runStart);

    std::printf("longrun: done in %.1f s: %d ticks (%.2f ms each), %d queries (%.1f ms each; %d "
                "completed, %d stopped without finding the wizard in time), %d presses (%.2f ms "
                "each)\n",
                seconds, ticks, 1000 * tickSeconds / ticks, queries, 1000 * querySeconds / queries,
                completedQueries, stoppedQueries, presses, 1000 * pressSeconds / presses);
    std::printf("longrun: journals read: stock program %lld bytes, terminal %lld bytes\n",
                stockReceived->tail.bytesRead(), terminalReceived->tail.bytesRead());
    std::printf("longrun: reference -> end: icons %zu -> %zu, windows %ld -> %ld, GDI objects "
                "%ld -> %ld, handles %ld -> %ld, private %lld -> %lld kB, heap in use %lld -> "
                "%lld bytes, working set %lld -> %lld kB, wineserver's VmRSS %lld -> %lld kB\n",
                reference.icons.size(), end.icons.size(), reference.windows, end.windows,
                reference.gdiObjects, end.gdiObjects, reference.handles, end.handles,
                reference.privateBytes / 1024, end.privateBytes / 1024, reference.heapBytes,
                end.heapBytes, reference.workingSet / 1024, end.workingSet / 1024,
                reference.wineserverRssKb, end.wineserverRssKb);
    std::fflush(stdout);

    EXPECT_EQ(ticks, run.ticks);
    EXPECT_EQ(queries, run.queries);
    EXPECT_EQ(presses, run.presses);
    EXPECT_EQ(end.icons, reference.icons);
    EXPECT_EQ(end.windows, reference.windows);
    if (gdiMeasurable) {
        EXPECT_LE(end.gdiObjects, reference.gdiObjects + gdiObjectTolerance);
    }
    if (handlesMeasurable) {
        EXPECT_LE(end.handles, reference.handles + handleTolerance);
    }
    EXPECT_LE(end.privateBytes, reference.privateBytes + privateBytesTolerance);
    EXPECT_LE(end.heapBytes, reference.heapBytes + heapBytesTolerance);
    // A query stops, as Talvero's would, when the stand-in has not opened its wizard within the
    // query's own pause; on a loaded machine that happens now and then, but the run must still
    // be mostly completed queries to prove anything about them.
    EXPECT_GE(completedQueries, queries * 9 / 10);
    EXPECT_EQ(listEntries(combo()).size(), static_cast<size_t>(listSize));
}

// The stock program closed and started again, over and over, while Talvero runs: each new window
// is found by the next tick and reached by the next press and query, and nothing piles up.
TEST_F(LongRun, EveryRestartOfTheStockProgramIsFoundAndLeavesNothingBehind) {
    const RunLength run = chosenRun();
    const int warmUp = 3;
    PauseHookScope shortPauses(shortenedPause);
    CodeSource codes;
    Sample reference, end;
    reference.icons.reserve(4096);
    end.icons.reserve(4096);
    for (int restart = 1; restart <= run.restarts && !HasFailure(); ++restart) {
        PostMessageW(stock.window, WM_APP + 2, 0, 0);
        ASSERT_TRUE(stock.program.waitForExit(5000));
        watchStockWindow(); // the stock program's half of a tick
        EXPECT_EQ(iconNumber(talvero->control(stockIconId)), IDI_SCREENS_DARK);
        ASSERT_TRUE(startStockSim(stock));
        stockReceived = std::make_unique<StockReceived>(stock.journal.path());
        watchStockWindow();
        EXPECT_EQ(iconNumber(talvero->control(stockIconId)), IDI_SCREENS_LIT);
        EXPECT_EQ(readFile("fxwindows.dat"), handleBytes(stock.window)) << "restart " << restart;
        press(periodButtons[restart % 9], false, false);
        query(codes.next());
        checkArrivals();
        pumpFor(0);
        if (restart == warmUp) {
            const Sample sample = measure();
            reference = sample;
        } else if (restart == run.restarts) {
            const Sample sample = measure();
            end = sample;
        }
    }
    ASSERT_FALSE(HasFailure());
    std::printf("longrun: %d restarts of the stock program: icons %zu -> %zu, windows %ld -> %ld, "
                "handles %ld -> %ld, private %lld -> %lld kB, heap in use %lld -> %lld bytes\n",
                run.restarts, reference.icons.size(), end.icons.size(), reference.windows,
                end.windows, reference.handles, end.handles, reference.privateBytes / 1024,
                end.privateBytes / 1024, reference.heapBytes, end.heapBytes);
    std::fflush(stdout);
    EXPECT_EQ(end.icons, reference.icons);
    EXPECT_EQ(end.windows, reference.windows);
    EXPECT_LE(end.handles, reference.handles + handleTolerance);
    EXPECT_LE(end.privateBytes, reference.privateBytes + privateBytesTolerance);
    EXPECT_LE(end.heapBytes, reference.heapBytes + heapBytesTolerance);
    EXPECT_GE(completedQueries, queries * 9 / 10);
}

} // namespace
