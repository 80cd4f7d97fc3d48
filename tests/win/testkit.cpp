#include "testkit.h"

#include "app/dispatch.h"
#include "app/main_window.h"
#include "stocklink/query.h"
#include "termlink/period.h"
#include "termlink/status_timer.h"

#include <cstdio>
#include <cstdlib>

namespace testkit {

namespace {

std::wstring wideFromUtf8(const std::string& text) {
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string fromWide(const std::wstring& wide, UINT codePage) {
    int size = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], size,
                        nullptr, nullptr);
    return bytes;
}

void removeTree(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = directory + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(directory.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(directory.c_str());
}

} // namespace

std::string gbk(const std::string& utf8) {
    return fromWide(wideFromUtf8(utf8), 936);
}

std::wstring wide(const std::string& utf8) {
    return wideFromUtf8(utf8);
}

std::string utf8FromGbk(const std::string& bytes) {
    int size =
        MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], size);
    return fromWide(wide, CP_UTF8);
}

ScratchDirectory::ScratchDirectory() {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    previous_ = current;
    char name[64];
    std::snprintf(name, sizeof name, "talvero-%lu-%d-%lu", GetCurrentProcessId(), ++counter,
                  GetTickCount());
    path_ = std::string(temp) + name;
    CreateDirectoryA(path_.c_str(), nullptr);
    SetCurrentDirectoryA(path_.c_str());
}

ScratchDirectory::~ScratchDirectory() {
    SetCurrentDirectoryA(previous_.c_str());
    removeTree(path_);
}

void writeFile(const std::string& name, const std::string& bytes) {
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string readFile(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool fileExists(const std::string& name) {
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void pumpFor(DWORD milliseconds) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (GetTickCount() - start >= milliseconds)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return condition();
        pumpFor(10);
    }
}

std::string binDirectory() {
    char path[MAX_PATH];
    DWORD size = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full(path, size);
    return full.substr(0, full.find_last_of("\\/"));
}

bool onWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

Program::Program(Program&& other) noexcept : info_(other.info_) {
    other.info_ = {};
}

Program& Program::operator=(Program&& other) noexcept {
    if (this != &other) {
        kill();
        info_ = other.info_;
        other.info_ = {};
    }
    return *this;
}

Program::~Program() {
    kill();
}

bool Program::start(const std::string& exe, const std::string& arguments) {
    kill();
    std::string path =
        exe.find_first_of("\\/:") == std::string::npos ? binDirectory() + "\\" + exe : exe;
    std::wstring commandLine = L"\"" + wideFromUtf8(path) + L"\" " + wideFromUtf8(arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info_) != FALSE;
}

void Program::kill() {
    if (!info_.hProcess)
        return;
    if (running()) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
    info_ = {};
}

bool Program::waitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!info_.hProcess)
        return true;
    bool ended = waitUntil([this] { return !running(); }, timeoutMs);
    if (ended && exitCode)
        GetExitCodeProcess(info_.hProcess, exitCode);
    return ended;
}

bool Program::running() const {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<std::string> Journal::lines() const {
    std::vector<std::string> result;
    std::string bytes = readFile(path_);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            break; // a line still being written
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
        start = end + 1;
    }
    return result;
}

std::vector<std::string> Journal::events(const std::string& event) const {
    std::vector<std::string> result;
    for (const std::string& line : lines()) {
        size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        std::string rest = line.substr(space + 1);
        if (rest.compare(0, event.size(), event) == 0 &&
            (rest.size() == event.size() || rest[event.size()] == ' '))
            result.push_back(rest);
    }
    return result;
}

std::string Journal::waitFor(const std::string& text, DWORD timeoutMs) const {
    std::string found;
    waitUntil(
        [&] {
            for (const std::string& line : lines()) {
                if (line.find(text) != std::string::npos) {
                    found = line.substr(line.find(' ') + 1);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

HWND handleField(const std::string& line, const std::string& name) {
    size_t at = line.find(name + "=");
    if (at == std::string::npos)
        return nullptr;
    return reinterpret_cast<HWND>(
        static_cast<UINT_PTR>(std::strtoul(line.c_str() + at + name.size() + 1, nullptr, 16)));
}

namespace {

std::string journalPath(const std::string& name) {
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    return std::string(current) + "\\" + name + ".journal";
}

} // namespace

bool startStockSim(StockSim& sim, const std::string& arguments, const std::string& name) {
    sim.journal = Journal(journalPath(name));
    DeleteFileA(sim.journal.path().c_str());
    if (!sim.program.start("stocksim.exe", "--journal \"" + sim.journal.path() + "\" " + arguments))
        return false;
    std::string line = sim.journal.waitFor(" start ", 15000);
    sim.window = handleField(line, "hwnd");
    return sim.window != nullptr;
}

bool startTermSim(TermSim& sim, const std::string& arguments, const std::string& name) {
    sim.journal = Journal(journalPath(name));
    DeleteFileA(sim.journal.path().c_str());
    if (!sim.program.start("termsim.exe", "--journal \"" + sim.journal.path() + "\" " + arguments))
        return false;
    std::string line = sim.journal.waitFor(" start ", 15000);
    sim.window = handleField(line, "hwnd");
    sim.mdiClient = handleField(line, "mdiclient");
    return sim.window != nullptr;
}

std::string windowTextAnsi(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(window, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::string className(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

TalveroWindow::TalveroWindow(bool show) {
    buildMainWindow(nullptr);
    if (show)
        attachAndShowMainWindow();
}

TalveroWindow::~TalveroWindow() {
    if (IsWindow(mainWindow))
        DestroyWindow(mainWindow);
    pumpFor(0);
    resetSharedState();
    resetDispatchState();
    resetStatusTimerState();
    resetPeriodState();
    resetQueryState();
}

HWND TalveroWindow::window() const {
    return mainWindow;
}

HWND TalveroWindow::control(int id) const {
    return GetDlgItem(mainWindow, id);
}

std::vector<std::string> comboItems(HWND combo) {
    std::vector<std::string> items;
    int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring text(static_cast<size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1,
                          L'\0');
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        items.push_back(fromWide(text.c_str(), CP_UTF8));
    }
    return items;
}

std::string handleBytes(HWND window) {
    auto value = static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window));
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

HICON iconOf(HWND control) {
    return reinterpret_cast<HICON>(SendMessageW(control, STM_GETIMAGE, IMAGE_ICON, 0));
}

HICON programIcon(int number) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(number),
                                         IMAGE_ICON, 16, 16, LR_SHARED));
}

bool sameIcon(HICON a, HICON b) {
    ICONINFO infoA = {}, infoB = {};
    if (!GetIconInfo(a, &infoA) || !GetIconInfo(b, &infoB))
        return false;
    BITMAP bitmapA = {}, bitmapB = {};
    GetObject(infoA.hbmColor, sizeof bitmapA, &bitmapA);
    GetObject(infoB.hbmColor, sizeof bitmapB, &bitmapB);
    std::vector<unsigned char> bitsA(16 * 16 * 4), bitsB(16 * 16 * 4);
    GetBitmapBits(infoA.hbmColor, static_cast<LONG>(bitsA.size()), bitsA.data());
    GetBitmapBits(infoB.hbmColor, static_cast<LONG>(bitsB.size()), bitsB.data());
    for (HBITMAP bitmap : {infoA.hbmColor, infoA.hbmMask, infoB.hbmColor, infoB.hbmMask})
        DeleteObject(bitmap);
    return bitmapA.bmWidth == bitmapB.bmWidth && bitsA == bitsB;
}

int iconNumber(HWND control) {
    for (int number : {112, 113, 114}) {
        if (sameIcon(iconOf(control), programIcon(number)))
            return number;
    }
    return 0;
}

std::vector<UINT_PTR> liveIcons() {
    std::vector<UINT_PTR> live;
    for (UINT_PTR index = 0x20; index <= 0xFFFE; index += 2) {
        ICONINFO info = {};
        if (GetIconInfo(reinterpret_cast<HICON>(index), &info)) {
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            live.push_back(index);
        }
    }
    return live;
}

size_t userObjects() {
    if (onWine())
        return liveIcons().size();
    return GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
}

void sendCommand(HWND window, int controlId, int notificationCode) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(controlId, notificationCode),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, controlId)));
}

} // namespace testkit
