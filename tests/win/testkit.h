// What the Windows tests share: scratch directories, file bytes, GBK texts, polling with a
// bound, the stand-in programs and their journals, and Talvero's main window built in-process.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testkit {

// UTF-8 (as the test sources are written) to the GBK bytes that Talvero works with, and back.
std::string gbk(const std::string& utf8);
std::string utf8FromGbk(const std::string& bytes);
std::wstring wide(const std::string& utf8);

// A fresh, empty directory made current for the test's life, removed afterwards.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string previous_;
};

void writeFile(const std::string& name, const std::string& bytes);
// The file's bytes; an empty string when it cannot be read.
std::string readFile(const std::string& name);
bool fileExists(const std::string& name);

// Processes this thread's messages for the given time.
void pumpFor(DWORD milliseconds);
// Polls the condition (pumping messages between tries) until it holds or the bound passes.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// The directory of the test program, where Talvero.exe and the stand-ins are built too, and
// where they lie beside it in the unpacked test zip.
std::string binDirectory();

// Whether the tests run under Wine rather than on Windows. A test built around a way Wine differs
// checks what Windows does on Windows, or skips there and says why.
bool onWine();

// Runs the tests (the main of every test program): GoogleTest's report, then one line with the
// counts, which are also written as "passed failed skipped" to the file that the environment
// variable TALVERO_COUNTS names, for run-tests.cmd to add up.
int runAllTests(int argc, char** argv);

// Another program started for a test; it is ended when this goes out of scope.
class Program {
  public:
    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    Program(Program&& other) noexcept;
    Program& operator=(Program&& other) noexcept;
    ~Program();

    // Starts exe (a name in binDirectory, or a path) with the command line arguments given.
    bool start(const std::string& exe, const std::string& arguments);
    void kill();
    // Waits for the program to end by itself; false when it is still running after the bound.
    bool waitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    bool running() const;
    DWORD processId() const { return info_.dwProcessId; }

  private:
    PROCESS_INFORMATION info_ = {};
};

// A stand-in program's journal: one UTF-8 line per event.
class Journal {
  public:
    explicit Journal(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }
    std::vector<std::string> lines() const;
    // The lines with the given event name (the word after the time), without the time.
    std::vector<std::string> events(const std::string& event) const;
    // Waits until a line holds the text; returns that line (without the time) or "".
    std::string waitFor(const std::string& text, DWORD timeoutMs = 5000) const;
    size_t count(const std::string& event) const { return events(event).size(); }

  private:
    std::string path_;
};

// The stand-in stock program, started with a journal in the current directory.
struct StockSim {
    Program program;
    Journal journal{""};
    HWND window = nullptr;
};
// arguments: extra command line options such as "--title 2 --suffix \" - 600000\"".
bool startStockSim(StockSim& sim, const std::string& arguments = "",
                   const std::string& name = "stocksim");

// The stand-in terminal, started with a journal in the current directory.
struct TermSim {
    Program program;
    Journal journal{""};
    HWND window = nullptr;
    HWND mdiClient = nullptr;
};
bool startTermSim(TermSim& sim, const std::string& arguments = "",
                  const std::string& name = "termsim");

// Parses "name=0x1234" out of a journal line.
HWND handleField(const std::string& line, const std::string& name);

// The window's text read with the ANSI functions, as another program sees it.
std::string windowTextAnsi(HWND window);
// The class name of a window.
std::string className(HWND window);

// Talvero's main window built in this process, as start-up builds it; destroyed at the end.
// Resets the process-wide state that one window leaves behind for the next.
class TalveroWindow {
  public:
    explicit TalveroWindow(bool show = true);
    ~TalveroWindow();
    HWND window() const;
    HWND control(int id) const;
};

// The recent-codes list of a combo box, top to bottom, as UTF-8.
std::vector<std::string> comboItems(HWND combo);

// The 4 bytes of a window handle, least significant first, as fxwindows.dat holds them.
std::string handleBytes(HWND window);

// Icons: the one a static control shows, one of the program's own by number, and whether two
// show the same picture (status icons are told apart by their pixels).
HICON iconOf(HWND control);
HICON programIcon(int number);
bool sameIcon(HICON a, HICON b);
// The status picture (112, 113 or 114) an icon control shows; 0 for any other.
int iconNumber(HWND control);

// Every icon handle alive in this process. Icon handles are a small index with a generation in
// the high word, and Wine accepts the index alone, so trying every even index finds them all
// there. Windows refuses such handles: use userObjects() to compare there.
std::vector<UINT_PTR> liveIcons();
// The process's window-system objects to compare before and after: on Windows the count that
// GetGuiResources gives (icons among them); under Wine, which answers 0 there, its live icons.
size_t userObjects();

// Watches this process for message boxes from another thread for as long as a test runs, notes
// what each one shows and dismisses it as the user would, with its OK button, so that the query
// waiting in the box's nested message loop goes on (and an unexpected box fails the test instead
// of hanging it).
class MessageBoxGuard {
  public:
    struct Box {
        std::string title;
        std::string text;
        bool othersDisabled = false; // every other window of the thread, while it showed
        bool dismissedByClick = false;
    };

    MessageBoxGuard() : thread_([this] { run(); }) {}
    ~MessageBoxGuard() { stop(); }

    void stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    std::vector<Box> boxes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return boxes_;
    }

  private:
    // A dialog of this process with a message box's text control (ID 0xFFFF).
    static BOOL CALLBACK findBox(HWND window, LPARAM found) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && className(window) == "#32770" &&
            IsWindowVisible(window) && GetDlgItem(window, 0xFFFF)) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
        return TRUE;
    }

    static BOOL CALLBACK checkDisabled(HWND window, LPARAM param) {
        auto* search = reinterpret_cast<std::pair<HWND, bool>*>(param);
        if (window != search->first && IsWindowVisible(window) && IsWindowEnabled(window))
            search->second = false;
        return TRUE;
    }

    static bool waitGone(HWND window, DWORD timeoutMs) {
        DWORD start = GetTickCount();
        while (IsWindow(window)) {
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(5);
        }
        return true;
    }

    void run() {
        while (!stop_) {
            HWND box = nullptr;
            EnumWindows(findBox, reinterpret_cast<LPARAM>(&box));
            if (box)
                dismiss(box);
            else
                Sleep(5);
        }
    }

    void dismiss(HWND box) {
        Box seen;
        seen.title = windowTextAnsi(box);
        seen.text = windowTextAnsi(GetDlgItem(box, 0xFFFF));
        std::pair<HWND, bool> search(box, true);
        EnumThreadWindows(GetWindowThreadProcessId(box, nullptr), checkDisabled,
                          reinterpret_cast<LPARAM>(&search));
        seen.othersDisabled = search.second;
        // Activated first, as a user's click would do: a click on an inactive dialog can be lost.
        for (int attempt = 0; attempt < 3 && !seen.dismissedByClick; ++attempt) {
            SetForegroundWindow(box);
            SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            seen.dismissedByClick = waitGone(box, 2000);
        }
        if (!seen.dismissedByClick) {
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            waitGone(box, 5000);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(seen);
    }

    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
    std::thread thread_;
};

// The period buttons as the two programs must see them: the button's ID, the period name of its
// own offline chart, and the command the stock program receives.
struct PeriodButton {
    int id;
    const char* multiPeriod; // the period name of its own chart
    const char* command;     // posted to the stock program
};

inline const PeriodButton periodButtons[] = {
    {1002, "M1", "32873"},    {1003, "M5", "32874"},     {1004, "M15", "32875"},
    {1005, "M30", "32876"},   {1006, "H1", "32877"},     {1007, "H4", "33284"},
    {1008, "Daily", "32878"}, {1009, "Weekly", "32879"}, {1010, "Monthly", "32880"},
};

// Sends a WM_COMMAND to the window as a control would.
void sendCommand(HWND window, int controlId, int notificationCode = 0);

} // namespace testkit
