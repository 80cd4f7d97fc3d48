// Talvero against hostile input and faults, through the real window system: damaged recent-codes
// files, handle files of any length and handles of the wrong window, codes at and past every
// bound, terminal captions of any size and shape, windows that only pretend to be the stock
// program, the other programs closing or hanging in the middle of a step, files that are locked or
// read-only, and Talvero itself killed in the middle of a save.
//
// The program has one extra mode: "robustness_tests --hold PATH" opens PATH without sharing and
// keeps it open until it is ended, playing another program that holds a file.
#include "testkit.h"

#include "app/dispatch.h"
#include "app/main_window.h"
#include "base/pause.h"
#include "res/resource.h"
#include "stocklink/query.h"
#include "termlink/caption.h"
#include "termlink/period.h"
#include "termlink/status_timer.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

using namespace testkit;

namespace {

constexpr char handleFile[] = "fxwindows.dat";
constexpr char recentFile[] = "DAIMA.DAT";
constexpr char recentTempFile[] = "DAIMA.DAT.new";
constexpr char stockTitle1[] = "飞狐交易师 - 缠友版";
constexpr char stockTitle2[] = "股道黄金版 - 普及版";
constexpr char refusalText[] = "对不起，您输入的代码超过6位，请重新输入!";

// Messages the stand-in programs answer.
constexpr UINT hangMessage = WM_APP + 1; // wParam: milliseconds
constexpr UINT closeMessage = WM_APP + 2;

// A query holds Talvero for at most 3.5 s, whatever the stock program does; handing the code to
// the wizard waits at most 2 s. The margin covers Wine on a shared two-CPU machine.
constexpr double boundedSend = 2000;
constexpr double margin = 1000;
constexpr double queryBound = 3500 + margin;
// A tick sleeps 300 ms while it blinks.
constexpr double tickBound = 300 + margin;

constexpr int entryLimit = 254; // bytes of a code or a list entry

class Stopwatch {
  public:
    Stopwatch() { QueryPerformanceCounter(&start_); }
    double ms() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 /
               static_cast<double>(frequency.QuadPart);
    }

  private:
    LARGE_INTEGER start_;
};

std::wstring wideFrom(const std::string& bytes, UINT codePage) {
    int size =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

std::string bytesFrom(const std::wstring& text, UINT codePage) {
    int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                        nullptr, nullptr);
    return bytes;
}

// ANSI bytes as they come back from a Unicode window that was given them.
std::string roundTrip(const std::string& ansi) {
    return bytesFrom(wideFrom(ansi, CP_ACP), CP_ACP);
}

std::string repeat(const std::string& part, size_t times) {
    std::string text;
    text.reserve(part.size() * times);
    for (size_t i = 0; i < times; ++i)
        text += part;
    return text;
}

std::string hexDump(const std::string& bytes, size_t limit = 120) {
    std::string out;
    char hex[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(hex, sizeof hex, "%02X ", static_cast<unsigned char>(bytes[i]));
        out += hex;
    }
    if (bytes.size() > limit)
        out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

// The recent-codes list, top to bottom, as ANSI bytes: what the query saves of each entry.
std::vector<std::string> listEntries(HWND combo) {
    std::vector<std::string> entries;
    int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(length));
        entries.push_back(bytesFrom(text, CP_ACP));
    }
    return entries;
}

std::vector<std::string> sorted(std::vector<std::string> entries) {
    std::sort(entries.begin(), entries.end());
    return entries;
}

// DAIMA.DAT as a completed query leaves it: the first ten entries of the list, each non-empty one
// quoted on a line of its own ended by CR LF.
std::string savedListFile(const std::vector<std::string>& list) {
    std::string bytes;
    for (size_t i = 0; i < list.size() && i < 10; ++i) {
        if (!list[i].empty())
            bytes += "\"" + list[i] + "\"\r\n";
    }
    return bytes;
}

// The file is whole: lines of a quoted entry of at most 254 bytes, each ended by CR LF.
void expectWellFormedListFile(const std::string& bytes) {
    size_t start = 0, lines = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "a line without CR LF: " << hexDump(bytes);
        std::string line = bytes.substr(start, end - start);
        EXPECT_GE(line.size(), 2u);
        EXPECT_LE(line.size(), entryLimit + 2u);
        EXPECT_EQ(line.front(), '"');
        EXPECT_EQ(line.back(), '"');
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        start = end + 2;
        ++lines;
    }
    EXPECT_LE(lines, 10u);
}

HWND handleFromBytes(const std::string& bytes) {
    unsigned value = 0;
    for (size_t i = 0; i < bytes.size() && i < 4; ++i)
        value |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
}

DWORD processOf(HWND window) {
    DWORD process = 0;
    if (window && IsWindow(window))
        GetWindowThreadProcessId(window, &process);
    return process;
}

// Any message makes the event procedure reload the handle file.
void nudge(HWND window) {
    SendMessageW(window, WM_NULL, 0, 0);
}

// Whether a window's thread answers a sent message within the time, asked from another thread
// while this one goes on pumping (the window may belong to this thread).
bool answersWithin(HWND window, DWORD timeoutMs) {
    std::atomic<bool> done{false};
    bool answered = false;
    std::thread probe([&] {
        DWORD_PTR result = 0;
        answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
        done = true;
    });
    waitUntil([&] { return done.load(); }, timeoutMs + 2000);
    probe.join();
    return answered;
}

// The key events a stand-in took from the given journal line on, as "down N" and "up N".
std::vector<std::string> keyEvents(const Journal& journal, size_t fromLine = 0) {
    std::vector<std::string> keys;
    std::vector<std::string> lines = journal.lines();
    for (size_t i = fromLine; i < lines.size(); ++i) {
        size_t space = lines[i].find(' ');
        if (space == std::string::npos)
            continue;
        std::string rest = lines[i].substr(space + 1);
        for (const char* kind : {"keydown vk=", "keyup vk="}) {
            std::string prefix = kind;
            if (rest.compare(0, prefix.size(), prefix) == 0) {
                std::string vk =
                    rest.substr(prefix.size(), rest.find(' ', prefix.size()) - prefix.size());
                keys.push_back((prefix[3] == 'd' ? "down " : "up ") + vk);
            }
        }
    }
    return keys;
}

// The journal's last lines, for a failure's message.
std::string journalTail(const Journal& journal, size_t count = 24) {
    std::vector<std::string> lines = journal.lines();
    std::string text;
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
        text += "\n    " + lines[i];
    return text;
}

// Each key pressed and released, in order.
std::vector<std::string> pressed(const std::vector<int>& keys) {
    std::vector<std::string> events;
    for (int key : keys) {
        events.push_back("down " + std::to_string(key));
        events.push_back("up " + std::to_string(key));
    }
    return events;
}

// The keys of a code of ASCII bytes: its letters in upper case and its digits, then Enter.
std::vector<int> keysOf(const std::string& code) {
    std::vector<int> keys;
    for (char byte : code) {
        if (isalnum(static_cast<unsigned char>(byte)))
            keys.push_back(toupper(static_cast<unsigned char>(byte)));
    }
    keys.push_back(VK_RETURN);
    return keys;
}

// A text as the stand-ins journal it: a backslash doubled, control characters as \xNN.
std::string journaled(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        if (c == '\\') {
            out += "\\\\";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// How often the stand-in showed exactly this code after Enter in its wizard.
size_t timesShown(const StockSim& sim, const std::string& utf8Code) {
    std::vector<std::string> shown = sim.journal.events("show");
    return static_cast<size_t>(
        std::count(shown.begin(), shown.end(), "show " + journaled(utf8Code)));
}

// Full path of a file in the current directory.
std::string fullPath(const std::string& name) {
    char path[MAX_PATH];
    GetFullPathNameA(name.c_str(), MAX_PATH, path, nullptr);
    return path;
}

bool heldWithoutSharing(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

std::string thisProgram() {
    char path[MAX_PATH];
    DWORD size = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, size);
}

// Another process that holds a file of the current directory open without sharing, as an editor
// or a backup tool might, until it is released.
class HeldElsewhere {
  public:
    bool hold(const std::string& name) {
        path_ = fullPath(name);
        if (!holder_.start(thisProgram(), "--hold \"" + path_ + "\""))
            return false;
        return waitUntil([&] { return heldWithoutSharing(path_); }, 10000);
    }
    void release() {
        holder_.kill();
        waitUntil([&] { return !heldWithoutSharing(path_); });
    }

  private:
    Program holder_;
    std::string path_;
};

// Whether this run's file permissions bind: root's capabilities let it write anything, so the
// read-only cases only hold when the tests run without them, as scripts/test runs them.
bool readOnlyFilesRefuseWrites() {
    const char* probe = "read-only-probe";
    writeFile(probe, "x");
    SetFileAttributesA(probe, FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool refused = file == INVALID_HANDLE_VALUE;
    if (!refused)
        CloseHandle(file);
    SetFileAttributesA(probe, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe);
    return refused;
}

// Makes the current directory refuse new files for as long as it lives. Neither Wine nor Windows
// refuses them for a directory's read-only attribute. On Windows an entry in the directory's access
// list that denies everyone the adding of files does. Wine keeps such entries without applying
// them, so there this changes the Unix permissions of the directory behind it (found with Wine's
// wine_get_unix_file_name) by starting /bin/chmod, which Wine runs as a Unix program. Without
// root's file capabilities a mode of 0555 then refuses new files as the denying entry does.
class ReadOnlyCurrentDirectory {
  public:
    ReadOnlyCurrentDirectory() {
        GetCurrentDirectoryW(MAX_PATH, current_);
        if (!onWine()) {
            denyNewFiles();
            if (!saved_)
                return;
        } else {
            using UnixName = char*(CDECL*)(const wchar_t*);
            auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
            char* name = unixName ? unixName(current_) : nullptr;
            if (!name)
                return;
            unixPath_ = name;
            HeapFree(GetProcessHeap(), 0, name);
            chmod("555");
        }
        refusing_ = waitUntil([] { return !canCreateFile(); }, 5000);
    }
    ~ReadOnlyCurrentDirectory() {
        if (saved_) {
            SetNamedSecurityInfoW(current_, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, savedList_, nullptr);
            LocalFree(saved_);
        } else if (!unixPath_.empty()) {
            chmod("755");
        } else {
            return;
        }
        waitUntil(canCreateFile, 5000);
    }
    // How the directory was made to refuse, for a skip's message.
    std::string how() const {
        return onWine() ? "chmod 555 on the Unix path '" + unixPath_ + "'"
                        : std::string("an entry denying everyone new files in its access list");
    }
    bool refusing() const { return refusing_; }

  private:
    // Puts the denying entry in front of the directory's own ones; the old list comes back at the
    // end. The owner may always change the list, so the test can undo it.
    void denyNewFiles() {
        if (GetNamedSecurityInfoW(current_, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &savedList_, nullptr, &saved_) != ERROR_SUCCESS) {
            saved_ = nullptr;
            return;
        }
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                      &everyone))
            return;
        EXPLICIT_ACCESSW deny = {};
        deny.grfAccessPermissions = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
        deny.grfAccessMode = DENY_ACCESS;
        deny.grfInheritance = NO_INHERITANCE;
        deny.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        deny.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        deny.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
        PACL list = nullptr;
        if (SetEntriesInAclW(1, &deny, savedList_, &list) == ERROR_SUCCESS) {
            SetNamedSecurityInfoW(current_, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, list, nullptr);
            LocalFree(list);
        }
        FreeSid(everyone);
    }

    // A new name for each try: a probe made just before the mode changed cannot be removed.
    static bool canCreateFile() {
        static int probes = 0;
        std::string name = "write-probe-" + std::to_string(++probes);
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(file);
        DeleteFileA(name.c_str());
        return true;
    }

    // Wine starts a Unix program without a process handle to wait on; the callers poll the effect.
    void chmod(const char* mode) {
        std::string commandLine = std::string("Z:\\bin\\chmod ") + mode + " \"" + unixPath_ + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            if (info.hProcess) {
                WaitForSingleObject(info.hProcess, 5000);
                CloseHandle(info.hProcess);
                CloseHandle(info.hThread);
            }
        }
    }

    wchar_t current_[MAX_PATH] = {};
    std::string unixPath_;
    PSECURITY_DESCRIPTOR saved_ = nullptr;
    PACL savedList_ = nullptr; // inside saved_
    bool refusing_ = false;
};

// Watches a stand-in's journal from another thread and posts it a message the moment a line
// with the given text appears: a fault injected at an exact step of the stand-in's work.
class FaultOnJournalLine {
  public:
    FaultOnJournalLine(const StockSim& sim, const std::string& text, UINT message, WPARAM wParam)
        : thread_([this, &sim, text, message, wParam] {
              size_t before = count(sim, text);
              DWORD start = GetTickCount();
              while (!stop_ && GetTickCount() - start < 10000) {
                  if (count(sim, text) > before) {
                      PostMessageW(sim.window, message, wParam, 0);
                      fired_ = true;
                      return;
                  }
                  Sleep(1);
              }
          }) {}
    ~FaultOnJournalLine() {
        stop_ = true;
        thread_.join();
    }
    bool fired() const { return fired_; }

  private:
    static size_t count(const StockSim& sim, const std::string& text) {
        size_t found = 0;
        for (const std::string& line : sim.journal.lines())
            found += line.find(text) != std::string::npos ? 1 : 0;
        return found;
    }

    std::atomic<bool> stop_{false};
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

// A window of this process that records the WM_COMMAND messages it receives.
class OwnWindow {
  public:
    OwnWindow(const wchar_t* className, const std::string& utf8Text, DWORD style,
              HWND parent = nullptr, int x = 600, int y = 20) {
        window_ = CreateWindowExW(0, className, wide(utf8Text).c_str(), style, x, y, 200, 60,
                                  parent, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(recordingProc)));
    }
    ~OwnWindow() {
        if (IsWindow(window_))
            DestroyWindow(window_);
    }
    OwnWindow(const OwnWindow&) = delete;
    OwnWindow& operator=(const OwnWindow&) = delete;

    HWND window() const { return window_; }
    const std::vector<WPARAM>& commands() const { return commands_; }

  private:
    static LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<OwnWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_COMMAND)
            self->commands_.push_back(wParam);
        return CallWindowProcW(self->original_, window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    WNDPROC original_ = nullptr;
    std::vector<WPARAM> commands_;
};

// Makes the window the foreground window and waits until its own thread has taken the
// activation and the focus, and kept them for a moment. The window system reports the new
// foreground at once, while the program's thread activates its window a little later; moving the
// foreground on before that can leave no window active, and keys then reach nobody. Under Wine
// the X server's focus events for a window shown just before come later still and can hand the
// foreground to the desktop, so the change is asked for again until it holds.
bool takeForeground(HWND window) {
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    DWORD asked = 0;
    DWORD heldSince = 0;
    return waitUntil(
        [&] {
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            if (GetForegroundWindow() == window && GetGUIThreadInfo(thread, &info) &&
                info.hwndActive == window && info.hwndFocus != nullptr) {
                if (!heldSince)
                    heldSince = GetTickCount();
                return GetTickCount() - heldSince >= 150;
            }
            heldSince = 0;
            if (GetTickCount() - asked > 250) {
                SetForegroundWindow(window);
                asked = GetTickCount();
            }
            return false;
        },
        8000);
}

struct PauseHookScope {
    explicit PauseHookScope(PauseHook hook) { pauseHook = hook; }
    ~PauseHookScope() { pauseHook = nullptr; }
};

// Talvero's window built in this process beside the stand-in stock program, which start-up finds,
// and a second stand-in with an unrelated title, "sink", that takes the keys whenever the query's
// own target cannot: keys go to whichever window has the focus, and the sink makes that visible.
class StockLink : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startStockSim(sink, "--exact-title sink --pos 600 370", "sink"));
        ASSERT_TRUE(startStockSim(stock));
    }

    void TearDown() override {
        talvero.reset();
        pumpFor(50);
    }

    // Builds Talvero's window and lets it settle as the foreground window: under Wine the X
    // server's focus events for a window just shown come later, and a query straight away could
    // have them take the focus from the stock program between its steps (Windows has no such lag).
    void buildWindow() {
        talvero = std::make_unique<TalveroWindow>();
        ASSERT_TRUE(takeForeground(talvero->window()));
    }

    void build() {
        ASSERT_NO_FATAL_FAILURE(buildWindow());
        ASSERT_EQ(readFile(handleFile), handleBytes(stock.window));
    }

    HWND window() const { return talvero->window(); }
    HWND combo() const { return talvero->control(codeComboId); }
    std::vector<std::string> list() const { return listEntries(combo()); }

    // Types the code into the code box and presses the query button; returns how long the
    // query kept Talvero's thread.
    double query(const std::string& utf8Code) {
        SetWindowTextW(combo(), wide(utf8Code).c_str());
        Stopwatch watch;
        sendCommand(window(), queryButtonId);
        return watch.ms();
    }

    void focusSink() { ASSERT_TRUE(takeForeground(sink.window)); }

    // Waits until a stand-in showed the code once more than before and closed its wizard.
    ::testing::AssertionResult waitShown(const StockSim& sim, const std::string& code,
                                         size_t before) {
        if (waitUntil([&] {
                return timesShown(sim, code) > before &&
                       sim.journal.count("wizard close") >= sim.journal.count("wizard open");
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "not shown; stock:" << journalTail(stock.journal)
               << "\nsink:" << journalTail(sink.journal) << "\nforeground " << GetForegroundWindow()
               << ", stock " << stock.window << ", sink " << sink.window;
    }

    ScratchDirectory scratch;
    StockSim sink;
    StockSim stock;
    std::unique_ptr<TalveroWindow> talvero;
};

// --- Damaged recent-codes files ----------------------------------------------------------------

struct DamagedFile {
    const char* name;
    std::string bytes;
    // The entries the file gives besides "1A0001", as ANSI bytes; ignored when count is set.
    std::vector<std::string> entries;
    int count = -1; // for random bytes: only the number of entries is known
};

std::string utf16(const std::string& ascii, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        if (bigEndian)
            bytes += std::string(1, '\0') + c;
        else
            bytes += std::string(1, c) + '\0';
    }
    return bytes;
}

std::vector<DamagedFile> damagedFiles() {
    const std::string nul(1, '\0');
    std::vector<DamagedFile> files = {
        {"empty", "", {}},
        {"only line ends", "\r\n\r\n\n\r", {"", "", "", ""}},
        {"LF line ends", "600000\n600036\n000001", {"600000", "600036", "000001"}},
        {"CR line ends", "\"600000\"\r\"600036\"\r", {"600000", "600036"}},
        // LF CR is two line ends; CR CR LF is a lone CR and then a CR LF.
        {"mixed line ends",
         "600000\n\r600036\r\r\n000001\r\n",
         {"600000", "", "600036", "", "000001"}},
        // NUL bytes are dropped; a line of nothing else is an empty entry.
        {"NUL bytes",
         "\"60" + nul + nul + "0000\"\r\n" + nul + nul + nul + "\r\n" + nul,
         {"600000", "", ""}},
        // The mark is no line end and no blank: it stays in front of the first entry.
        {"UTF-8 byte-order mark",
         "\xEF\xBB\xBF\"600000\"\r\n\"600036\"\r\n",
         {"\xEF\xBB\xBF"
          "600000",
          "600036"}},
        // UTF-16 loses its NUL bytes; the high byte after each CR makes the LF a line of its own.
        {"UTF-16 LE byte-order mark",
         utf16("\"600000\"\r\n\"600036\"\r\n", false),
         {"\xFF\xFE"
          "600000",
          "", "600036", "", ""}},
        {"UTF-16 BE byte-order mark",
         utf16("\"600000\"\r\n\"600036\"\r\n", true),
         {"\xFE\xFF"
          "600000",
          "", "600036", ""}},
        // Every quote goes; blanks inside quotes stay, blanks outside them go.
        {"quotes inside codes",
         "\"60\"00\"00\"\r\n\" 600036 \"\r\n\"\"\r\n\"\"\"\r\n6\"0 0\"0\r\n  \"  \"  \r\n",
         {"600000", " 600036 ", "", "", "60 00", "  "}},
        // A line of a megabyte in double-byte characters keeps 127 of them: 254 bytes.
        {"1 MiB line of double-byte characters without a line end",
         repeat(gbk("股"), 1 << 19),
         {repeat(gbk("股"), 127)}},
        // One byte in front puts a character across byte 254: it is dropped whole.
        {"1 MiB line with a character across byte 254",
         "a" + repeat(gbk("股"), (1 << 19) - 1) + "\r\n",
         {"a" + repeat(gbk("股"), 126)}},
    };
    // Random bytes in 16 lines of 600, any byte but CR and LF (the line ends between them).
    std::minstd_rand random(20240611);
    std::string binary;
    for (int line = 0; line < 16; ++line) {
        for (int i = 0; i < 600; ++i) {
            char byte;
            do {
                byte = static_cast<char>(random() % 256);
            } while (byte == '\r' || byte == '\n');
            binary += byte;
        }
        binary += "\r\n";
    }
    DamagedFile random16 = {"random bytes", binary, {}};
    random16.count = 16;
    files.push_back(random16);
    return files;
}

void expectLoaded(const DamagedFile& file, const std::vector<std::string>& list) {
    for (const std::string& entry : list) {
        EXPECT_LE(entry.size(), static_cast<size_t>(entryLimit));
        EXPECT_EQ(entry.find('"'), std::string::npos) << "quotes are removed";
    }
    if (file.count >= 0) {
        EXPECT_EQ(list.size(), static_cast<size_t>(file.count) + 1);
        return;
    }
    std::vector<std::string> expected = {"1A0001"};
    for (const std::string& entry : file.entries)
        expected.push_back(roundTrip(entry));
    EXPECT_EQ(sorted(list), sorted(expected));
}

} // namespace

TEST(DamagedRecentCodesFile, EachLineLoadsAsAtMostOneBoundedEntry) {
    for (const DamagedFile& file : damagedFiles()) {
        SCOPED_TRACE(file.name);
        ScratchDirectory scratch;
        writeFile(recentFile, file.bytes);
        TalveroWindow talvero(false);
        expectLoaded(file, listEntries(talvero.control(codeComboId)));
        EXPECT_EQ(readFile(recentFile), file.bytes) << "start-up only reads the file";
    }
}

TEST_F(StockLink, AQueryWithADamagedListLoadedWritesAWholeFile) {
    for (const DamagedFile& file : damagedFiles()) {
        SCOPED_TRACE(file.name);
        ScratchDirectory inner;
        writeFile(recentFile, file.bytes);
        build();
        size_t before = timesShown(stock, "600000");
        query("600000");
        EXPECT_TRUE(waitShown(stock, "600000", before));
        std::string saved = readFile(recentFile);
        expectWellFormedListFile(saved);
        EXPECT_EQ(saved, savedListFile(list())) << hexDump(saved);
        EXPECT_NE(saved.find("\"600000\"\r\n"), std::string::npos);
        EXPECT_FALSE(fileExists(recentTempFile));
        talvero.reset();
    }
}

TEST_F(StockLink, AHundredThousandLinesAllLoadAndTheNextQuerySavesTen) {
    // The codes in a shuffled order, so that the sorted list takes each one at a different place.
    std::vector<int> codes(100000);
    for (int i = 0; i < 100000; ++i)
        codes[static_cast<size_t>(i)] = i;
    std::shuffle(codes.begin(), codes.end(), std::minstd_rand(7));
    std::string bytes;
    char line[16];
    for (int code : codes) {
        std::snprintf(line, sizeof line, "\"%06d\"\r\n", code);
        bytes += line;
    }
    writeFile(recentFile, bytes);

    Stopwatch startUp;
    build();
    double startUpMs = startUp.ms();
    std::printf("[ figures  ] start-up with a DAIMA.DAT of 100,000 lines: %.0f ms\n", startUpMs);
    RecordProperty("startUpMsWith100000Lines", static_cast<int>(startUpMs));
    ASSERT_EQ(SendMessageW(combo(), CB_GETCOUNT, 0, 0), 100001);

    size_t before = timesShown(stock, "600519");
    double queryMs = query("600519");
    EXPECT_LT(queryMs, queryBound);
    EXPECT_TRUE(waitShown(stock, "600519", before));
    EXPECT_EQ(SendMessageW(combo(), CB_GETCOUNT, 0, 0), 100001) << "the full list no longer grows";
    std::string saved = readFile(recentFile);
    expectWellFormedListFile(saved);
    EXPECT_EQ(saved, savedListFile(list()));
    EXPECT_EQ(saved.substr(0, 10), "\"600519\"\r\n") << "the new code stands on top";
}

// --- The handle file -----------------------------------------------------------------------------

TEST_F(StockLink, HandleFilesOfNoneToTenBytesAndAClosedWindowsHandleNeverStopAQuery) {
    build();
    StockSim gone;
    ASSERT_TRUE(startStockSim(gone, "--exact-title gone", "gone"));
    HWND closedWindow = gone.window;
    PostMessageW(gone.window, closeMessage, 0, 0);
    ASSERT_TRUE(gone.program.waitForExit(5000));
    ASSERT_FALSE(IsWindow(closedWindow));

    struct Case {
        std::string name;
        std::string bytes;
    };
    std::vector<Case> cases;
    for (size_t size = 0; size <= 10; ++size) {
        std::string bytes = handleBytes(stock.window).substr(0, std::min<size_t>(size, 4));
        bytes += std::string(size > 4 ? size - 4 : 0, '\xEE');
        cases.push_back({std::to_string(size) + " bytes", bytes});
    }
    cases.push_back({"a closed window", handleBytes(closedWindow)});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(handleFile, c.bytes);
        ASSERT_NO_FATAL_FAILURE(focusSink());
        size_t stockBefore = timesShown(stock, "600000");
        size_t sinkBefore = timesShown(sink, "600000");
        double ms = query("600000");
        // Bytes 0 to 3, missing high-order bytes 0. A handle cut short can still name the stock
        // program: the window system takes a handle whose high word is 0 by its low word alone.
        // One that names no window is replaced by a new search, which finds the stock program
        // and records it over bytes 0 to 3.
        HWND read = handleFromBytes(c.bytes);
        bool live = IsWindow(read) != FALSE;
        EXPECT_EQ(stockWindow, live ? read : stock.window);
        EXPECT_LT(ms, queryBound);
        if (!live || processOf(read) == stock.program.processId()) {
            EXPECT_TRUE(waitShown(stock, "600000", stockBefore));
        }
        EXPECT_EQ(timesShown(sink, "600000"), sinkBefore) << "no key for the focused program";
        std::string rest = c.bytes.size() > 4 ? c.bytes.substr(4) : "";
        EXPECT_EQ(readFile(handleFile), live ? c.bytes : handleBytes(stock.window) + rest);
        EXPECT_TRUE(answersWithin(window(), 1000));
    }
}

TEST_F(StockLink, AHandleOfAnUnrelatedWindowGetsTheActivationTheKeysAndTheCommands) {
    build();
    TermSim term;
    ASSERT_TRUE(startTermSim(term));
    OwnWindow own(L"STATIC", "own window", WS_POPUP | WS_VISIBLE);
    writeFile(recentFile, "\"600036\"\r\n");
    struct Case {
        const char* name;
        HWND target;
    };
    const Case cases[] = {{"a terminal frame", term.window},
                          {"a window of Talvero's own process", own.window()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(handleFile, handleBytes(c.target));
        ASSERT_NO_FATAL_FAILURE(focusSink());
        size_t sinkKeys = keyEvents(sink.journal).size();
        double ms = query("600000");
        // That window is activated and takes the keys; it opens no keyboard wizard, so the query
        // ends when it has waited its bound for one, and leaves the file alone.
        EXPECT_LT(ms, queryBound);
        EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == c.target; }));
        EXPECT_EQ(keyEvents(sink.journal).size(), sinkKeys);
        EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
        EXPECT_FALSE(fileExists(recentTempFile));
        pumpFor(100); // keys that went to this thread reach the window with the focus here

        // A period press posts that window the stock program's command.
        sendCommand(window(), 1002);
        if (c.target == term.window) {
            EXPECT_FALSE(term.journal.waitFor("command 32873").empty());
        } else {
            EXPECT_TRUE(waitUntil([&] {
                return std::count(own.commands().begin(), own.commands().end(), 32873) == 1;
            }));
        }
        EXPECT_TRUE(answersWithin(window(), 1000));
    }
}

// --- Codes at and past every bound -------------------------------------------------------------

TEST_F(StockLink, CodesAtAndPastEveryLengthBoundAreStoredCutAtACharacterAndRefusedPastSix) {
    MessageBoxGuard boxes;
    build();
    struct Case {
        std::string typed; // UTF-8
        std::string kept;  // in the list and the file
        bool refused;
    };
    const std::string gu = "股";
    // The refused ones first, so that the last completed query saves every entry (ten in all).
    const Case cases[] = {
        {"6000000", "6000000", true},
        {std::string(254, '1'), std::string(254, '1'), true},
        {std::string(255, '2'), std::string(254, '2'), true},
        {std::string(300, '3'), std::string(254, '3'), true},
        {std::string(252, '4') + gu, std::string(252, '4') + gu, true},
        {std::string(253, '5') + gu, std::string(253, '5'), true},
        {"a" + repeat(gu, 149), "a" + repeat(gu, 126), true},
        {"600000", "600000", false},
        {"600001 ", "600001 ", false}, // seven bytes, six once trimmed
    };
    size_t refusals = 0;
    std::vector<std::string> kept = {"1A0001"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.size());
        std::string trimmed = c.typed.substr(0, c.typed.find_last_not_of(' ') + 1);
        size_t shownBefore = timesShown(stock, trimmed);
        size_t keysBefore = keyEvents(stock.journal).size();
        double ms = query(c.typed);
        EXPECT_LT(ms, queryBound);
        kept.push_back(gbk(c.kept));
        std::vector<std::string> entries = list();
        EXPECT_EQ(sorted(entries), sorted(kept));
        if (c.refused) {
            ++refusals;
            // The query goes on once the box is gone; the guard notes it right after.
            waitUntil([&] { return boxes.boxes().size() >= refusals; });
            std::vector<std::string> texts;
            for (const MessageBoxGuard::Box& box : boxes.boxes())
                texts.push_back(box.text);
            ASSERT_EQ(texts.size(), refusals);
            EXPECT_EQ(texts.back(), gbk(refusalText));
            EXPECT_EQ(keyEvents(stock.journal).size(), keysBefore) << "a refused code is not typed";
        } else {
            EXPECT_TRUE(waitShown(stock, trimmed, shownBefore));
            EXPECT_EQ(readFile(recentFile), savedListFile(entries));
        }
    }
    std::string saved = readFile(recentFile);
    expectWellFormedListFile(saved);
    for (const std::string& entry : kept)
        EXPECT_NE(saved.find("\"" + entry + "\"\r\n"), std::string::npos) << entry.size();

    // The next start reads every entry back as it was saved.
    talvero.reset();
    build();
    std::vector<std::string> reloaded = kept;
    reloaded.push_back("1A0001"); // the file holds it too
    EXPECT_EQ(sorted(list()), sorted(reloaded));
}

TEST_F(StockLink, PictureCharactersAndQuotesInACodeGetNoKeyButAreSetIntoTheWizardAndKept) {
    build();
    for (char special : std::string("#.,+*$^!&\\_\"")) {
        std::string code = std::string("60") + special + "000";
        SCOPED_TRACE(code);
        size_t fromLine = stock.journal.lines().size();
        size_t before = timesShown(stock, code);
        query(code);
        EXPECT_TRUE(waitShown(stock, code, before));
        // Key-downs and key-ups of the digits alone, then Enter.
        EXPECT_EQ(keyEvents(stock.journal, fromLine), pressed(keysOf(code)));
        EXPECT_EQ(stock.journal.events("settext").back(), "settext " + journaled(code));
        std::vector<std::string> entries = list();
        EXPECT_NE(std::find(entries.begin(), entries.end(), code), entries.end());
        std::string saved = readFile(recentFile);
        EXPECT_EQ(saved, savedListFile(entries));
        EXPECT_NE(saved.find("\"" + code + "\"\r\n"), std::string::npos);
    }
    // Quotes are written as they are and every quote is removed when the file is read back, so
    // the code with a quote comes back without it; the others come back unchanged.
    std::vector<std::string> saved = list();
    saved.resize(std::min<size_t>(saved.size(), 10));
    talvero.reset();
    build();
    std::vector<std::string> reloaded = list();
    for (const std::string& entry : saved) {
        std::string unquoted = entry;
        unquoted.erase(std::remove(unquoted.begin(), unquoted.end(), '"'), unquoted.end());
        EXPECT_NE(std::find(reloaded.begin(), reloaded.end(), unquoted), reloaded.end()) << entry;
    }
}

// --- Terminal captions -------------------------------------------------------------------------

namespace {

// What the tool shows for a chart title: its caption, of which a half character at the end of a
// title cut to its bound cannot be shown.
std::string shownPrefix(const std::string& ansi) {
    size_t end = 0;
    while (end < ansi.size()) {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(ansi[end])) ? 2 : 1;
        if (end + step > ansi.size())
            break;
        end += step;
    }
    return ansi.substr(0, end);
}

std::string ansiCaption(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return bytesFrom(text, CP_ACP);
}

} // namespace

TEST(TerminalCaption, CaptionsOfAnySizeAndShapeMakeABoundedTitleAndATickThatCompletes) {
    ScratchDirectory scratch;
    const std::string daily = "国内A股,Daily (offline)";
    std::string big = repeat("Srv-1, ", 65536 / 7) + " - [" + daily + "]";
    writeFile("caption.txt", big);
    TermSim term;
    ASSERT_TRUE(startTermSim(term, "--caption-file \"" + scratch.path() + "\\caption.txt\""));
    TalveroWindow talvero;
    KillTimer(talvero.window(), statusTimerId);

    struct Case {
        const char* name;
        std::string caption; // UTF-8
        bool chartFound;
    };
    const Case cases[] = {
        {"64 KiB ending in the active chart", big, true},
        {"64 KiB in the last two fields",
         "[" + std::string(32768, 'x') + "," + std::string(32768, 'y') + "]", false},
        {"64 KiB of double-byte characters with one byte before them",
         "a" + repeat("股", 65536 / 2), false},
        {"64 KiB of hyphens", std::string(65536, '-'), false},
        {"64 KiB of quotes and commas",
         repeat("\"a,b\",\"\"\",,\"", 65536 / 12) + " - [" + daily + "]", false},
        {"the chart in quotes", "\"" + daily + "\"", false},
        {"an unclosed quote before the chart", "Demo - \"[" + daily + "]", false},
        {"quotes inside the brackets", "Demo - [\"国内A股,Daily (offline)\"]", false},
        {"no brackets", "MetaTrader 4", false},
        {"no brackets but the chart's fields", "Demo - " + daily, true},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (&c != &cases[0])
            SendMessageW(term.window, WM_SETTEXT, 0,
                         reinterpret_cast<LPARAM>(wide(c.caption).c_str()));
        ASSERT_EQ(windowTextAnsi(term.window), gbk(c.caption)) << "the terminal shows it whole";

        Stopwatch watch;
        handleStatusTimer(talvero.window(), WM_TIMER, statusTimerId, GetTickCount());
        EXPECT_LT(watch.ms(), tickBound);

        std::string caption = gbk(c.caption);
        ChartTitle expected;
        bool whole = chartTitleFromCaption(&caption[0], caption.size(), expected);
        // Only this caption's title is cut inside a double-byte character; the half goes.
        bool cutInHalf = std::string(c.name).find("one byte before") != std::string::npos;
        EXPECT_EQ(!whole && cutInHalf, cutInHalf);
        if (cutInHalf)
            expected.truncate(expected.size() - 1);
        EXPECT_EQ(std::string(activeChartTitle.c_str()), std::string(expected.c_str()));
        EXPECT_LE(activeChartTitle.size(), ChartTitle::maxSize);
        std::string shown = ansiCaption(talvero.window());
        std::string wanted = shownPrefix(std::string("Talvero   ") + expected.c_str());
        EXPECT_EQ(shown, wanted) << "ends " << hexDump(shown.substr(shown.size() - 8)) << "; "
                                 << hexDump(wanted.substr(wanted.size() - 8));
        EXPECT_EQ(activeChartView != nullptr, c.chartFound);
        EXPECT_EQ(iconNumber(talvero.control(terminalIconId)),
                  c.chartFound ? IDI_SCREEN_ONE_LIT : IDI_SCREENS_DARK);
        EXPECT_TRUE(answersWithin(talvero.window(), 1000));
    }
}

// --- Windows that pretend to be the stock program ----------------------------------------------

namespace {

BOOL CALLBACK collectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// The first window below the desktop, in the start-up search's order, whose title holds either
// of the stock program's titles.
HWND firstBearingAStockTitle() {
    std::vector<HWND> windows;
    EnumChildWindows(GetDesktopWindow(), collectWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
        std::string title = windowTextAnsi(window);
        if (title.find(gbk(stockTitle1)) != std::string::npos ||
            title.find(gbk(stockTitle2)) != std::string::npos)
            return window;
    }
    return nullptr;
}

} // namespace

// As designed, the start-up search takes the first window whose text holds a title, whatever
// that window is: here a label and then an edit box of another program (this one, created before
// Talvero's window), both met before the stock program. The query then goes to that window, which
// takes the activation and the keys but opens no keyboard wizard, so nothing is typed into the
// stock program and DAIMA.DAT is left alone.
TEST_F(StockLink, ThePretenderMetFirstIsTakenAndTheRealStockProgramGetsNothing) {
    auto host = std::make_unique<OwnWindow>(L"STATIC", "notes", WS_POPUP | WS_VISIBLE);
    auto label = std::make_unique<OwnWindow>(L"STATIC", std::string("使用说明：") + stockTitle1,
                                             WS_CHILD | WS_VISIBLE, host->window(), 0, 0);
    auto edit = std::make_unique<OwnWindow>(L"EDIT", std::string(stockTitle2) + " 的笔记",
                                            WS_CHILD | WS_VISIBLE, host->window(), 0, 30);
    writeFile(recentFile, "\"600036\"\r\n");

    struct Case {
        const char* name;
        OwnWindow* pretender; // the one taken; none once the pretenders are gone
    };
    const Case cases[] = {
        {"a label and an edit box", label.get()}, {"an edit box", edit.get()}, {"none", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.pretender == edit.get())
            label.reset();
        if (!c.pretender) {
            edit.reset();
            host.reset();
        }
        HWND expected = c.pretender ? c.pretender->window() : stock.window;
        ASSERT_EQ(firstBearingAStockTitle(), expected);
        ASSERT_NO_FATAL_FAILURE(buildWindow());
        EXPECT_EQ(readFile(handleFile), handleBytes(expected));
        EXPECT_EQ(iconNumber(talvero->control(stockIconId)), IDI_SCREENS_LIT);

        size_t stockKeys = keyEvents(stock.journal).size();
        size_t shown = timesShown(stock, "600000");
        double ms = query("600000");
        EXPECT_LT(ms, queryBound);
        if (!c.pretender) {
            EXPECT_TRUE(waitShown(stock, "600000", shown));
            EXPECT_EQ(readFile(recentFile), savedListFile(list()));
        } else {
            pumpFor(100); // the keys went to this process, which opens no wizard
            EXPECT_EQ(keyEvents(stock.journal).size(), stockKeys);
            EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
            // A period press posts the pretender the stock program's command.
            sendCommand(window(), 1002);
            EXPECT_TRUE(waitUntil([&] {
                return std::count(c.pretender->commands().begin(), c.pretender->commands().end(),
                                  32873) == 1;
            }));
        }
        EXPECT_TRUE(answersWithin(window(), 1000));
        talvero.reset();
    }
}

// --- The stock program closing or hanging ------------------------------------------------------

TEST_F(StockLink, AStockProgramHungBeforeStartUpIsFoundAtOnceAndAQueryToItEndsAfterItsPauses) {
    PostMessageW(stock.window, hangMessage, 10000, 0);
    ASSERT_FALSE(stock.journal.waitFor(" hang ").empty());
    writeFile(recentFile, "\"600036\"\r\n");
    Stopwatch startUp;
    build();
    EXPECT_LT(startUp.ms(), 1000 + margin) << "the search reads titles without asking the program";
    EXPECT_EQ(iconNumber(talvero->control(stockIconId)), IDI_SCREENS_LIT);

    double ms = query("600000");
    // The hung program cannot open its wizard: the query ends once it has waited its bound.
    EXPECT_LT(ms, queryBound);
    EXPECT_TRUE(answersWithin(window(), 1000));
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
    EXPECT_EQ(stock.journal.count("hang-end"), 0u) << "the query did not wait for the program";
}

TEST_F(StockLink, AStockProgramThatHangsAsItsWizardOpensGetsNeitherTheCodeNorEnterWithinTheBound) {
    build();
    double ms = 0;
    {
        FaultOnJournalLine hang(stock, " wizard open", hangMessage, 10000);
        ms = query("600000");
        EXPECT_TRUE(hang.fired());
    }
    // The keys after the first wait in the hung program: the code, sent now, would overtake them.
    // The hand-over gave up after two seconds, and nothing followed the keys.
    EXPECT_GE(ms, boundedSend - 100);
    EXPECT_LT(ms, queryBound);
    EXPECT_TRUE(answersWithin(window(), 1000));
    EXPECT_EQ(stock.journal.count("settext"), 0u);
    EXPECT_EQ(stock.journal.count("hang-end"), 0u);
    EXPECT_FALSE(fileExists(recentFile));
    EXPECT_FALSE(fileExists(recentTempFile));
}

TEST_F(StockLink, AClosedStockProgramLeavesTheFocusedProgramWithoutAKeyAndTheFileAsItWas) {
    writeFile(recentFile, "\"600036\"\r\n");
    build();
    std::string recorded = handleBytes(stock.window);
    PostMessageW(stock.window, closeMessage, 0, 0);
    ASSERT_TRUE(stock.program.waitForExit(5000));
    ASSERT_NO_FATAL_FAILURE(focusSink());
    size_t sinkKeys = keyEvents(sink.journal).size();
    double ms = query("600000");
    EXPECT_LT(ms, queryBound);
    // The search found nothing to record: the file keeps the closed window's handle.
    EXPECT_EQ(readFile(handleFile), recorded);
    pumpFor(300);
    EXPECT_EQ(keyEvents(sink.journal).size(), sinkKeys);
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
    EXPECT_TRUE(answersWithin(window(), 1000));
}

TEST_F(StockLink, AStockProgramClosingAsItsWizardOpensLeavesTheFileOldOrNewAndWhole) {
    writeFile(recentFile, "\"600036\"\r\n");
    build();
    double ms = 0;
    {
        FaultOnJournalLine close(stock, " wizard open", closeMessage, 0);
        ms = query("600000");
        EXPECT_TRUE(close.fired());
    }
    EXPECT_LT(ms, queryBound);
    EXPECT_TRUE(stock.program.waitForExit(5000));
    EXPECT_TRUE(answersWithin(window(), 1000));
    // Whether the wizard was still there to be found depends on how fast the program went.
    std::string saved = readFile(recentFile);
    if (saved != "\"600036\"\r\n") {
        EXPECT_EQ(saved, savedListFile(list()));
    }
    EXPECT_FALSE(fileExists(recentTempFile));
}

// --- The terminal closing or hanging -----------------------------------------------------------

namespace {

class TerminalFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startStockSim(stock, "--minimized"));
        ASSERT_TRUE(startTermSim(term));
        talvero = std::make_unique<TalveroWindow>();
        KillTimer(talvero->window(), statusTimerId);
    }

    void TearDown() override { talvero.reset(); }

    // One tick, as the timer makes it; returns how long it kept Talvero's thread.
    double tick() {
        Stopwatch watch;
        handleStatusTimer(talvero->window(), WM_TIMER, statusTimerId, GetTickCount());
        return watch.ms();
    }

    ScratchDirectory scratch;
    StockSim stock;
    TermSim term;
    std::unique_ptr<TalveroWindow> talvero;
};

std::string chartCaption(const std::string& utf8Title) {
    return "Talvero   " + gbk(utf8Title);
}

TermSim* closingTerminal;

} // namespace

TEST_F(TerminalFaults, AHungTerminalDelaysNeitherATickNorAPeriodPressAndTakesTheRaiseLater) {
    PostMessageW(term.window, hangMessage, 3000, 0);
    PostMessageW(stock.window, hangMessage, 3000, 0);
    ASSERT_FALSE(term.journal.waitFor(" hang ").empty());
    ASSERT_FALSE(stock.journal.waitFor(" hang ").empty());

    double tickMs = tick();
    EXPECT_LT(tickMs, tickBound);
    EXPECT_EQ(windowTextAnsi(talvero->window()), chartCaption("国内A股,Daily (offline)"));
    EXPECT_EQ(iconNumber(talvero->control(terminalIconId)), IDI_SCREEN_ONE_LIT)
        << "its windows are there, hung or not";

    sendCommand(talvero->window(), multiOptionId);
    HWND m1 = FindWindowExA(term.mdiClient, nullptr, nullptr, gbk("国内A股,M1 (offline)").c_str());
    ASSERT_NE(m1, nullptr);
    Stopwatch press;
    sendCommand(talvero->window(), 1002);
    EXPECT_LT(press.ms(), 100 + margin) << "raising and showing do not wait for the terminal";
    EXPECT_EQ(periodChartWindow, m1);
    EXPECT_TRUE(answersWithin(talvero->window(), 1000));
    EXPECT_EQ(term.journal.count("hang-end"), 0u) << "the press did not wait for the hang";

    // Once the programs answer again they carry out what was handed to them.
    EXPECT_FALSE(term.journal.waitFor("hang-end", 6000).empty());
    EXPECT_TRUE(waitUntil([&] { return GetWindow(term.mdiClient, GW_CHILD) == m1; }));
    EXPECT_FALSE(stock.journal.waitFor("command 32873", 6000).empty());
}

TEST_F(TerminalFaults, ATerminalClosedDuringATickEndsThatTickAsFoundAndTheNextAsGone) {
    closingTerminal = &term;
    auto closeAtFirstPause = [](unsigned milliseconds) {
        if (closingTerminal) {
            PostMessageW(closingTerminal->window, closeMessage, 0, 0);
            closingTerminal->program.waitForExit(5000);
            closingTerminal = nullptr;
        }
        Sleep(milliseconds);
    };
    {
        PauseHookScope hook(closeAtFirstPause);
        tick();
    }
    ASSERT_EQ(closingTerminal, nullptr) << "the tick blinked";
    EXPECT_FALSE(term.program.running());
    EXPECT_EQ(windowTextAnsi(talvero->window()), chartCaption("国内A股,Daily (offline)"));
    EXPECT_EQ(iconNumber(talvero->control(terminalIconId)), IDI_SCREEN_ONE_LIT);

    EXPECT_LT(tick(), tickBound);
    EXPECT_EQ(terminalWindow, nullptr);
    EXPECT_EQ(windowTextAnsi(talvero->window()), "Talvero   ,");
    EXPECT_EQ(iconNumber(talvero->control(terminalIconId)), IDI_SCREENS_DARK);
    // A period press works on the terminal of the last tick: none, and it still posts.
    Stopwatch press;
    sendCommand(talvero->window(), 1008);
    EXPECT_LT(press.ms(), 100 + margin);
    EXPECT_EQ(periodChartWindow, nullptr);
    EXPECT_FALSE(stock.journal.waitFor("command 32878").empty());
    EXPECT_TRUE(answersWithin(talvero->window(), 1000));
}

// --- Files held by another program, read-only files and directories ----------------------------

TEST_F(StockLink, AHandleFileHeldElsewhereAtStartUpKeepsItsBytesAndTheHandleKeepsItsLastValue) {
    const std::string old = std::string("\x44\x33\x22\x11", 4);
    writeFile(handleFile, old);
    HeldElsewhere holder;
    ASSERT_TRUE(holder.hold(handleFile));
    ASSERT_NO_FATAL_FAILURE(buildWindow());
    // The search found the program and shows it, but could not record it.
    EXPECT_EQ(iconNumber(talvero->control(stockIconId)), IDI_SCREENS_LIT);
    nudge(window());
    EXPECT_EQ(stockWindow, nullptr) << "nothing could be read yet";
    holder.release();
    EXPECT_EQ(readFile(handleFile), old);
    nudge(window());
    EXPECT_EQ(stockWindow, handleFromBytes(old));

    // Held again in the middle of the run: every message keeps the last handle read.
    writeFile(handleFile, handleBytes(stock.window));
    nudge(window());
    ASSERT_EQ(stockWindow, stock.window);
    ASSERT_TRUE(holder.hold(handleFile));
    size_t before = timesShown(stock, "600000");
    double ms = query("600000");
    EXPECT_LT(ms, queryBound);
    EXPECT_EQ(stockWindow, stock.window);
    EXPECT_TRUE(waitShown(stock, "600000", before)) << "the query reached the last handle read";
    holder.release();
    EXPECT_EQ(readFile(handleFile), handleBytes(stock.window));
}

TEST_F(StockLink, AReadOnlyHandleFileIsReadButNotRewrittenByTheSearch) {
    if (!readOnlyFilesRefuseWrites())
        GTEST_SKIP() << "read-only files do not refuse writes here: run without root's file "
                        "capabilities (setpriv), as scripts/test does";
    const std::string old = handleBytes(sink.window);
    writeFile(handleFile, old);
    SetFileAttributesA(handleFile, FILE_ATTRIBUTE_READONLY);
    ASSERT_NO_FATAL_FAILURE(buildWindow());
    EXPECT_EQ(iconNumber(talvero->control(stockIconId)), IDI_SCREENS_LIT);
    EXPECT_EQ(readFile(handleFile), old);
    nudge(window());
    EXPECT_EQ(stockWindow, sink.window) << "the handle of the file, not the one found";
    size_t before = timesShown(sink, "600000");
    query("600000");
    EXPECT_TRUE(waitShown(sink, "600000", before));
    EXPECT_TRUE(answersWithin(window(), 1000));
    SetFileAttributesA(handleFile, FILE_ATTRIBUTE_NORMAL);
}

TEST_F(StockLink, InAReadOnlyDirectoryAMissingHandleFileStaysMissingAndNothingBreaks) {
    ReadOnlyCurrentDirectory readOnly;
    if (!readOnly.refusing())
        GTEST_SKIP() << "cannot make a directory refuse new files here (" << readOnly.how()
                     << (onWine() ? "): run without root's file capabilities (setpriv), as "
                                    "scripts/test does"
                                  : "): the directory's access list could not be changed");
    ASSERT_NO_FATAL_FAILURE(buildWindow());
    EXPECT_EQ(iconNumber(talvero->control(stockIconId)), IDI_SCREENS_LIT);
    nudge(window());
    EXPECT_FALSE(fileExists(handleFile));
    EXPECT_EQ(stockWindow, nullptr);
    ASSERT_NO_FATAL_FAILURE(focusSink());
    double ms = query("600000");
    EXPECT_LT(ms, queryBound);
    // No handle: the query searched again and used what it found, though the file could not
    // record it; the list could not be saved.
    EXPECT_EQ(stockWindow, stock.window);
    EXPECT_TRUE(waitShown(stock, "600000", 0));
    EXPECT_EQ(timesShown(sink, "600000"), 0u);
    EXPECT_FALSE(fileExists(handleFile));
    EXPECT_FALSE(fileExists(recentFile));
    EXPECT_FALSE(fileExists(recentTempFile));
    EXPECT_TRUE(answersWithin(window(), 1000));
}

TEST_F(StockLink, ARecentCodesFileHeldElsewhereAtStartUpLoadsNothingAndIsReplacedLater) {
    writeFile(recentFile, "\"600036\"\r\n\"000001\"\r\n");
    HeldElsewhere holder;
    ASSERT_TRUE(holder.hold(recentFile));
    build();
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001"}));
    holder.release();
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n\"000001\"\r\n");
    // As designed, the next completed query writes the list of this run over it: the entries the
    // file held are gone.
    size_t before = timesShown(stock, "600000");
    query("600000");
    EXPECT_TRUE(waitShown(stock, "600000", before));
    EXPECT_EQ(readFile(recentFile), "\"1A0001\"\r\n\"600000\"\r\n");
}

TEST_F(StockLink, ASaveThatCannotReplaceTheFileLeavesItsBytesAndNoTemporaryFile) {
    bool permissionsBind = readOnlyFilesRefuseWrites();
    const std::string old = "\"600036\"\r\n\"000001\"\r\n";
    const std::string staleTemp = "stale";
    enum class Obstacle { heldElsewhere, readOnly, readOnlyDirectory, directory, heldTempFile };
    struct Case {
        const char* name;
        Obstacle obstacle;
        bool needsPermissions;
    };
    const Case cases[] = {
        {"held open by another program", Obstacle::heldElsewhere, false},
        {"read-only", Obstacle::readOnly, true},
        {"in a read-only directory", Obstacle::readOnlyDirectory, true},
        {"a directory", Obstacle::directory, false},
        {"with a stale temporary file held open by another program", Obstacle::heldTempFile, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsPermissions && !permissionsBind) {
            std::printf("[ skipped  ] %s: file permissions do not bind in this run\n", c.name);
            continue;
        }
        ScratchDirectory inner;
        if (c.obstacle == Obstacle::directory)
            CreateDirectoryA(recentFile, nullptr);
        else
            writeFile(recentFile, old);
        build();
        HeldElsewhere holder;
        std::unique_ptr<ReadOnlyCurrentDirectory> readOnly;
        switch (c.obstacle) {
        case Obstacle::heldElsewhere:
            ASSERT_TRUE(holder.hold(recentFile));
            break;
        case Obstacle::readOnly:
            SetFileAttributesA(recentFile, FILE_ATTRIBUTE_READONLY);
            break;
        case Obstacle::readOnlyDirectory:
            readOnly = std::make_unique<ReadOnlyCurrentDirectory>();
            if (!readOnly->refusing()) {
                std::printf("[ skipped  ] %s: cannot make a directory refuse new files here\n",
                            c.name);
                talvero.reset();
                continue;
            }
            break;
        case Obstacle::directory:
            break;
        case Obstacle::heldTempFile:
            writeFile(recentTempFile, staleTemp);
            ASSERT_TRUE(holder.hold(recentTempFile));
            break;
        }
        size_t before = timesShown(stock, "600000");
        double ms = query("600000");
        EXPECT_LT(ms, queryBound);
        EXPECT_TRUE(waitShown(stock, "600000", before)) << "the query itself completes";
        EXPECT_TRUE(answersWithin(window(), 1000));
        holder.release();
        readOnly.reset();
        if (c.obstacle == Obstacle::directory) {
            EXPECT_TRUE(GetFileAttributesA(recentFile) & FILE_ATTRIBUTE_DIRECTORY);
        } else {
            EXPECT_EQ(readFile(recentFile), old);
        }
        if (c.obstacle == Obstacle::heldTempFile) {
            EXPECT_EQ(readFile(recentTempFile), staleTemp) << "not ours to remove";
        } else {
            EXPECT_FALSE(fileExists(recentTempFile));
        }
        SetFileAttributesA(recentFile, FILE_ATTRIBUTE_NORMAL);
        talvero.reset();
    }
}

// --- Talvero killed in the middle of a save ----------------------------------------------------

namespace {

struct ProgramWindowSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK findMainWindowOf(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ProgramWindowSearch*>(param);
    if (processOf(window) == search->process && className(window) == "#32770" &&
        IsWindowVisible(window) && GetDlgItem(window, multiOptionId)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Starts Talvero.exe in the current directory and waits until its window runs its event loop.
HWND startTalveroProgram(Program& talvero) {
    if (!talvero.start("Talvero.exe", ""))
        return nullptr;
    ProgramWindowSearch search = {talvero.processId(), nullptr};
    waitUntil(
        [&] {
            EnumWindows(findMainWindowOf, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        15000);
    // Settled as the foreground window first, as a window the user clicks is.
    if (search.found && !takeForeground(search.found))
        return nullptr;
    return search.found;
}

FILETIME lastWriteTime(const char* name) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(name, GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// Waits until the save has moved a new file over the one written at that time. It looks without
// opening the file: while anyone has it open, however shared, the save cannot replace it.
bool waitReplaced(const char* name, FILETIME writtenAt) {
    return waitUntil(
        [&] {
            FILETIME now = lastWriteTime(name);
            return CompareFileTime(&now, &writtenAt) != 0 && !fileExists(recentTempFile);
        },
        10000);
}

// Sets the code box's text from outside and clicks the query button by a posted command, as a
// fault test may: the user's click would take the same path.
void postQuery(HWND talvero, const wchar_t* code) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(talvero, codeComboId), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(code), SMTO_NORMAL, 5000, &result);
    PostMessageW(talvero, WM_COMMAND, MAKEWPARAM(queryButtonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(talvero, queryButtonId)));
}

} // namespace

TEST(KilledDuringASave, DaimaDatAlwaysHoldsTheOldListOrTheNewOneWhole) {
    ScratchDirectory scratch;
    StockSim stock;
    ASSERT_TRUE(startStockSim(stock));
    std::string oldList;
    for (int i = 1; i <= 10; ++i)
        oldList += "\"6000" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\"\r\n";

    // One query run to its end gives the new list.
    writeFile(recentFile, oldList);
    FILETIME writtenAt = lastWriteTime(recentFile);
    std::string newList;
    {
        Program talvero;
        HWND window = startTalveroProgram(talvero);
        ASSERT_NE(window, nullptr);
        postQuery(window, L"600519");
        ASSERT_TRUE(waitReplaced(recentFile, writtenAt));
        newList = readFile(recentFile);
    }
    expectWellFormedListFile(newList);
    ASSERT_EQ(newList.substr(0, 10), "\"600519\"\r\n");

    int keptOld = 0, tookNew = 0, killedWithTempFile = 0, tempFileLeft = 0;
    std::string outcomes; // per round: o or n, capital when killed with the temporary file there
    constexpr int rounds = 50;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        writeFile(recentFile, oldList);
        bool atTempFile = round % 2 == 0;
        if (atTempFile)
            DeleteFileA(recentTempFile); // else a stale one from an earlier kill stays
        Program talvero;
        HWND window = startTalveroProgram(talvero);
        ASSERT_NE(window, nullptr);
        postQuery(window, L"600519");
        bool tempAtKill = false;
        if (atTempFile) {
            // The moment the new list is being written beside the file, a little later each round.
            Stopwatch watch;
            while (!fileExists(recentTempFile) && watch.ms() < 3000) {
            }
            Stopwatch extra;
            while (extra.ms() < (round / 2 % 5) * 0.2) {
            }
            tempAtKill = fileExists(recentTempFile);
            killedWithTempFile += tempAtKill ? 1 : 0;
        } else {
            // Anywhere from before the first key to after the save.
            Sleep(static_cast<DWORD>(50 + (round * 53) % 500));
        }
        talvero.kill();
        std::string now = readFile(recentFile);
        char outcome = '?';
        if (now == oldList) {
            ++keptOld;
            outcome = 'o';
        } else if (now == newList) {
            ++tookNew;
            outcome = 'n';
        } else {
            ADD_FAILURE() << "DAIMA.DAT is neither list: " << hexDump(now);
        }
        outcomes += tempAtKill ? static_cast<char>(std::toupper(outcome)) : outcome;
        tempFileLeft += fileExists(recentTempFile) ? 1 : 0;
    }
    std::printf("[ figures  ] %d kills: old list %d, new list %d; killed while the temporary file "
                "existed %d; temporary file left behind %d; rounds %s\n",
                rounds, keptOld, tookNew, killedWithTempFile, tempFileLeft, outcomes.c_str());
    RecordProperty("keptOld", keptOld);
    RecordProperty("tookNew", tookNew);
    RecordProperty("killedWithTempFile", killedWithTempFile);
    EXPECT_EQ(keptOld + tookNew, rounds);
    EXPECT_GT(killedWithTempFile, 0) << "no kill landed inside a save";

    // A temporary file that a killed run left behind is taken over by the next complete save.
    writeFile(recentTempFile, "\"half");
    writeFile(recentFile, oldList);
    writtenAt = lastWriteTime(recentFile);
    Program talvero;
    HWND window = startTalveroProgram(talvero);
    ASSERT_NE(window, nullptr);
    postQuery(window, L"600519");
    EXPECT_TRUE(waitReplaced(recentFile, writtenAt)) << "stock:" << journalTail(stock.journal);
    EXPECT_EQ(readFile(recentFile), newList);
    EXPECT_FALSE(fileExists(recentTempFile));
}

namespace {

// Holds a file open without sharing until the process is ended.
int holdFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    Sleep(INFINITE);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--hold") == 0)
        return holdFile(argv[2]);
    return runAllTests(argc, argv);
}
