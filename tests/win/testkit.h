// What the Windows tests share: scratch directories, file bytes, GBK texts, polling with a
// bound, the stand-in programs and their journals, and Talvero's main window built in-process.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
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

// The directory of the test program, where Talvero.exe and the stand-ins are built too.
std::string binDirectory();

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
// the high word, and the index alone is accepted, so trying every even index finds them all.
std::vector<UINT_PTR> liveIcons();

// Sends a WM_COMMAND to the window as a control would.
void sendCommand(HWND window, int controlId, int notificationCode = 0);

} // namespace testkit
