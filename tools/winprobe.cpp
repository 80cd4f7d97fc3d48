// Reports what a user sees of the running programs' windows, for the end-to-end tests that drive
// them through the X display. Texts are printed as UTF-8, with control characters as \xNN and a
// backslash as \\, one line each.
//
//   winprobe state TITLE        Talvero's main window (the window titled TITLE... that holds the
//                               code box): caption, visibility, topmost, activation, whether its
//                               middle is in sight, the code box's text and items in order, the
//                               check box and the options, the texts of its labels and
//                               buttons (textID=...), the status icons
//   winprobe charts TITLE       the titles of the window's MDI children, top of the Z order first
//   winprobe point TITLE [CHILD] a point where a click lands on the window's caption, or on the
//                               caption or client area of its descendant titled exactly CHILD
//   winprobe close TITLE        a point on the window's caption close button
//   winprobe msgbox TITLE       a message box titled TITLE...: its text and its OK button
//   winprobe foreground         the title of the active (foreground) window
//   winprobe balloon TITLE      the notice balloon of Talvero's process: its text, and whether its
//                               stem points at the code box (exit code 1 while none is shown)
//   winprobe rect TITLE         the window's rectangle: "left top right bottom"
//   winprobe control TITLE ID [BUTTON]
//                               the middle of the window's control ID, or of its toolbar button
//                               BUTTON (0-based), covered or not
//
// TITLE is the start of a visible top-level window's title (Talvero's caption grows behind it).
// Points are screen coordinates (under Wine the same as X root coordinates), "x y", and except
// for `control` only ever where the window itself would take the click, not another window above
// it. Exit code 1 when the window or point is not there, 2 for a wrong command line, 3 when a text
// cannot be read back.
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <io.h>
#include <string>
#include <vector>

namespace {

// Control IDs and icon numbers of Talvero's main window.
constexpr int codeComboId = 1027;
constexpr int stateChecks[] = {1026, 1028, 1029};
constexpr int statusIcons[] = {1022, 1025};
constexpr int iconNumbers[] = {112, 113, 114};
constexpr int messageTextId = 0xFFFF; // the static control that holds a message box's text

// Talvero's thread sleeps up to 400 ms inside a query or a tick; a hung one fails the probe.
constexpr UINT sendTimeout = 5000;

// --- output ---------------------------------------------------------------------------------

std::string utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                        nullptr, nullptr);
    return bytes;
}

std::string escaped(const std::wstring& text) {
    std::string out;
    for (unsigned char byte : utf8(text)) {
        if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else if (byte == '\\') {
            out += "\\\\";
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

void printField(const char* name, const std::string& value) {
    std::printf("%s=%s\n", name, value.c_str());
}

void printPoint(POINT point) {
    std::printf("%ld %ld\n", point.x, point.y);
}

// --- finding windows ------------------------------------------------------------------------

std::wstring windowText(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

bool titleStartsWith(HWND window, const std::wstring& start) {
    return windowText(window).compare(0, start.size(), start) == 0;
}

// The first top-level window, from the top of the Z order, whose title starts with TITLE and
// that passes the test.
struct TopLevelSearch {
    const std::wstring* title;
    std::function<bool(HWND)> test;
    HWND found;
};

BOOL CALLBACK matchTopLevel(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<TopLevelSearch*>(context);
    if (!titleStartsWith(window, *search.title) || !search.test(window))
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND findTopLevel(const std::wstring& title, std::function<bool(HWND)> test) {
    TopLevelSearch search{&title, std::move(test), nullptr};
    EnumWindows(matchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct DescendantSearch {
    const std::wstring* title;
    HWND found;
};

BOOL CALLBACK matchDescendant(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<DescendantSearch*>(context);
    if (windowText(window) != *search.title)
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND findDescendant(HWND parent, const std::wstring& title) {
    DescendantSearch search{&title, nullptr};
    EnumChildWindows(parent, matchDescendant, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool hasControl(HWND window, int id) {
    return GetDlgItem(window, id) != nullptr;
}

LRESULT sendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* ok) {
    DWORD_PTR result = 0;
    *ok = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, sendTimeout,
                              &result) != 0;
    return static_cast<LRESULT>(result);
}

// --- points a click lands on ----------------------------------------------------------------

LRESULT hitTest(HWND window, POINT point) {
    bool ok = false;
    LRESULT hit = sendWithTimeout(window, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y), &ok);
    return ok ? hit : HTNOWHERE;
}

// Scans the window's rectangle row by row from the top and takes the first point where the
// window system would give the click to `target` (or a window inside it) with a hit-test code
// that `wanted` accepts, so that a click there never lands on a window in front of it.
template <typename Wanted>
bool findPoint(HWND target, bool fromRight, Wanted wanted, POINT& found) {
    RECT rect;
    if (!GetWindowRect(target, &rect))
        return false;
    for (LONG y = rect.top + 2; y < rect.bottom - 1; y += 3) {
        for (LONG step = 4; step < rect.right - rect.left - 3; step += 3) {
            POINT point = {fromRight ? rect.right - step : rect.left + step, y};
            HWND hit = WindowFromPoint(point);
            if (hit != target && !IsChild(target, hit))
                continue;
            if (wanted(hitTest(hit, point), hit)) {
                found = point;
                return true;
            }
        }
    }
    return false;
}

int printCaptionPoint(HWND window) {
    POINT point;
    if (!findPoint(
            window, false,
            [window](LRESULT hit, HWND at) { return at == window && hit == HTCAPTION; }, point))
        return 1;
    // Further in, away from the frame, where a click could start a resize.
    point.x += 16;
    if (WindowFromPoint(point) != window || hitTest(window, point) != HTCAPTION)
        point.x -= 16;
    printPoint(point);
    return 0;
}

int printChildPoint(HWND window, const std::wstring& childTitle) {
    HWND child = findDescendant(window, childTitle);
    POINT point;
    if (!child || !findPoint(
                      child, false,
                      [](LRESULT hit, HWND) { return hit == HTCAPTION || hit == HTCLIENT; }, point))
        return 1;
    printPoint(point);
    return 0;
}

int printClosePoint(HWND window) {
    POINT point;
    if (!findPoint(
            window, true, [window](LRESULT hit, HWND at) { return at == window && hit == HTCLOSE; },
            point))
        return 1;
    // The middle of the button, not its edge.
    POINT middle = {point.x - 5, point.y + 5};
    printPoint(hitTest(window, middle) == HTCLOSE && WindowFromPoint(middle) == window ? middle
                                                                                       : point);
    return 0;
}

// A button's rectangle, found through the toolbar's hot tracking: a mouse move sent at each x of
// the toolbar's middle row, and the hot item read back. Neither message carries a pointer, so this
// works across processes of either bitness (TB_GETITEMRECT from a 64-bit process into a 32-bit
// toolbar wrote nothing that could be read back under Wine). The last move lies past the last
// button, so no button stays hot.
bool toolbarButtonRect(HWND toolbar, int index, RECT& rect) {
    RECT client;
    if (!GetClientRect(toolbar, &client))
        return false;
    int middle = (client.top + client.bottom) / 2;
    rect = {-1, client.top, -1, client.bottom};
    bool ok = false;
    for (int x = 0; x <= client.right; ++x) {
        sendWithTimeout(toolbar, WM_MOUSEMOVE, 0, MAKELPARAM(x, middle), &ok);
        LRESULT hot = ok ? sendWithTimeout(toolbar, TB_GETHOTITEM, 0, 0, &ok) : -1;
        if (!ok)
            return false;
        if (hot == index) {
            rect.left = rect.left < 0 ? x : rect.left;
            rect.right = x + 1;
        }
    }
    sendWithTimeout(toolbar, WM_MOUSEMOVE, 0, MAKELPARAM(client.right + 1, middle), &ok);
    if (rect.left < 0)
        return false;
    MapWindowPoints(toolbar, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return true;
}

int printControlPoint(HWND window, int id, const wchar_t* button) {
    HWND control = GetDlgItem(window, id);
    RECT rect;
    if (!control || !(button ? toolbarButtonRect(control, _wtoi(button), rect)
                             : GetWindowRect(control, &rect) != FALSE))
        return 1;
    printPoint({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    return 0;
}

// --- the status icons, as they are drawn on the screen --------------------------------------

// A 32-bit top-down bitmap of the given size with its pixels reachable.
struct Pixels {
    HBITMAP bitmap = nullptr;
    const DWORD* bits = nullptr;
    int width = 0, height = 0;

    Pixels(HDC dc, int w, int h) : width(w), height(h) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* raw = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &raw, nullptr, 0);
        bits = static_cast<const DWORD*>(raw);
    }
    ~Pixels() { DeleteObject(bitmap); }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    DWORD at(int i) const { return bits[i] & 0xFFFFFF; }
};

bool nearlyEqual(DWORD a, DWORD b) {
    for (int shift = 0; shift < 24; shift += 8) {
        int difference =
            static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (difference > 2 || difference < -2)
            return false;
    }
    return true;
}

void drawIcon(HDC memory, Pixels& target, HICON icon, COLORREF background) {
    HGDIOBJ old = SelectObject(memory, target.bitmap);
    RECT all = {0, 0, target.width, target.height};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, icon, target.width, target.height, 0, nullptr, DI_NORMAL);
    GdiFlush();
    SelectObject(memory, old);
}

// Which of Talvero's icons 112, 113 and 114 the icon control shows. Wine refuses another process's
// icon handle (from STM_GETIMAGE) to GetIconInfo with error 1402, so the control's pixels are read
// from the screen (as the user sees them; Talvero is topmost) and compared with each icon drawn at
// the control's size from Talvero's own executable: every pixel that the icon covers opaquely (the
// same over black and over white) must match. Prints the number, "hidden", or "unknown".
std::string shownIcon(HWND control, HMODULE talvero) {
    if (!IsWindowVisible(control))
        return "hidden";
    RECT client;
    GetClientRect(control, &client);
    POINT origin = {0, 0};
    ClientToScreen(control, &origin);
    int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0 || !talvero)
        return "unknown";

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    Pixels shown(screen, width, height);
    HGDIOBJ old = SelectObject(memory, shown.bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);

    std::string result = "unknown";
    int matches = 0;
    for (int number : iconNumbers) {
        HICON icon = static_cast<HICON>(
            LoadImageW(talvero, MAKEINTRESOURCEW(number), IMAGE_ICON, width, height, 0));
        if (!icon)
            continue;
        Pixels overBlack(screen, width, height), overWhite(screen, width, height);
        drawIcon(memory, overBlack, icon, RGB(0, 0, 0));
        drawIcon(memory, overWhite, icon, RGB(255, 255, 255));
        DestroyIcon(icon);
        int opaque = 0, different = 0;
        for (int i = 0; i < width * height; ++i) {
            if (overBlack.at(i) != overWhite.at(i))
                continue;
            ++opaque;
            if (!nearlyEqual(overBlack.at(i), shown.at(i)))
                ++different;
        }
        if (opaque * 4 >= width * height && different == 0) {
            result = std::to_string(number);
            ++matches;
        }
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return matches == 1 ? result : "unknown";
}

HMODULE loadExecutableOf(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // Looked up, not imported: Windows XP has neither the call nor the access right, and winprobe
    // travels in the test zip, so there it starts and says "unknown" here.
    using QueryImageName = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    auto queryImageName = reinterpret_cast<QueryImageName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    HANDLE process =
        queryImageName ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId) : nullptr;
    if (!process)
        return nullptr;
    wchar_t path[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    BOOL got = queryImageName(process, 0, path, &size);
    CloseHandle(process);
    return got ? LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
}

// --- Talvero's main window ------------------------------------------------------------------

// Reads a sent text back through a buffer filled with a mark beforehand, so that a message that
// did not carry the text across the processes is noticed.
bool readItem(HWND combo, int index, std::wstring& text) {
    bool ok = false;
    LRESULT length = sendWithTimeout(combo, CB_GETLBTEXTLEN, index, 0, &ok);
    if (!ok || length < 0)
        return false;
    std::vector<wchar_t> buffer(length + 1, L'\xFFFF');
    LRESULT copied =
        sendWithTimeout(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()), &ok);
    if (!ok || copied != length || buffer[length] != L'\0')
        return false;
    text.assign(buffer.data(), length);
    return text.find(L'\xFFFF') == std::wstring::npos;
}

bool readEditText(HWND combo, std::wstring& text) {
    bool ok = false;
    LRESULT length = sendWithTimeout(combo, WM_GETTEXTLENGTH, 0, 0, &ok);
    if (!ok || length < 0)
        return false;
    std::vector<wchar_t> buffer(length + 1, L'\xFFFF');
    LRESULT copied = sendWithTimeout(combo, WM_GETTEXT, length + 1,
                                     reinterpret_cast<LPARAM>(buffer.data()), &ok);
    if (!ok || copied < 0 || copied > length || buffer[copied] != L'\0')
        return false;
    text.assign(buffer.data(), copied);
    return true;
}

int printState(HWND window) {
    printField("caption", escaped(windowText(window)));
    printField("visible", IsWindowVisible(window) ? "1" : "0");
    printField("topmost", GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST ? "1" : "0");
    printField("enabled", IsWindowEnabled(window) ? "1" : "0");
    printField("foreground", GetForegroundWindow() == window ? "1" : "0");
    // Whether the window's middle is in sight, not covered by another window.
    RECT rect;
    GetWindowRect(window, &rect);
    HWND atMiddle = WindowFromPoint({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    printField("uncovered", atMiddle == window || IsChild(window, atMiddle) ? "1" : "0");

    HWND combo = GetDlgItem(window, codeComboId);
    std::wstring text;
    if (!readEditText(combo, text))
        return 3;
    printField("code", escaped(text));
    bool ok = false;
    LRESULT count = sendWithTimeout(combo, CB_GETCOUNT, 0, 0, &ok);
    if (!ok || count < 0)
        return 3;
    printField("items", std::to_string(count));
    for (int index = 0; index < count; ++index) {
        if (!readItem(combo, index, text))
            return 3;
        printField("item", escaped(text));
    }

    for (int id : stateChecks) {
        LRESULT state = sendWithTimeout(GetDlgItem(window, id), BM_GETCHECK, 0, 0, &ok);
        if (!ok)
            return 3;
        printField(("check" + std::to_string(id)).c_str(), std::to_string(state));
    }
    // The labels and buttons as Unicode, whatever code page Talvero runs under.
    for (HWND control = GetWindow(window, GW_CHILD); control;
         control = GetWindow(control, GW_HWNDNEXT)) {
        const std::wstring label = windowText(control);
        if (!label.empty())
            printField(("text" + std::to_string(GetDlgCtrlID(control))).c_str(), escaped(label));
    }
    HMODULE talvero = loadExecutableOf(window);
    for (int id : statusIcons)
        printField(("icon" + std::to_string(id)).c_str(),
                   shownIcon(GetDlgItem(window, id), talvero));
    if (talvero)
        FreeLibrary(talvero);
    return 0;
}

// --- the terminal's charts and message boxes ------------------------------------------------

int printCharts(HWND window) {
    HWND client = FindWindowExW(window, nullptr, L"MDIClient", nullptr);
    if (!client)
        return 1;
    for (HWND chart = GetWindow(client, GW_CHILD); chart; chart = GetWindow(chart, GW_HWNDNEXT))
        printField("chart", escaped(windowText(chart)));
    return 0;
}

int printMessageBox(HWND box) {
    printField("caption", escaped(windowText(box)));
    printField("text", escaped(windowText(GetDlgItem(box, messageTextId))));
    POINT point;
    HWND ok = GetDlgItem(box, IDOK);
    if (!findPoint(
            ok, false, [ok](LRESULT hit, HWND at) { return at == ok && hit == HTCLIENT; }, point))
        return 1;
    // The middle of the button's part that takes the click, not its edge.
    RECT rect;
    GetWindowRect(ok, &rect);
    POINT middle = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    if (WindowFromPoint(middle) == ok)
        point = middle;
    std::printf("ok=%ld %ld\n", point.x, point.y);
    return 0;
}

// A shown balloon is a visible tooltip window of the process with a text of its own (the
// toolbar's tooltip window has none).
struct BalloonSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK matchBalloon(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<BalloonSearch*>(context);
    DWORD process = 0;
    wchar_t name[64] = L"";
    GetWindowThreadProcessId(window, &process);
    GetClassNameW(window, name, 64);
    if (process != search.process || _wcsicmp(name, L"tooltips_class32") != 0 ||
        !IsWindowVisible(window) || windowText(window).empty())
        return TRUE;
    search.found = window;
    return FALSE;
}

int printBalloon(HWND talvero) {
    BalloonSearch search{0, nullptr};
    GetWindowThreadProcessId(talvero, &search.process);
    EnumWindows(matchBalloon, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return 1;
    printField("text", escaped(windowText(search.found)));
    // The stem's tip lies on the code box's bottom edge, so the balloon touches or overlaps it
    // horizontally and starts near that edge.
    RECT balloon, box;
    GetWindowRect(search.found, &balloon);
    GetWindowRect(GetDlgItem(talvero, codeComboId), &box);
    bool atCodeBox = balloon.left < box.right && balloon.right > box.left &&
                     std::labs(balloon.top - box.bottom) < 40;
    printField("atcodebox", atCodeBox ? "1" : "0");
    return 0;
}

} // namespace

int main() {
    // Exact bytes: no CR before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
    // The wide command line keeps a Chinese title intact whatever the code page.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 2 && std::wstring(argv[1]) == L"foreground") {
        printField("title", escaped(windowText(GetForegroundWindow())));
        return 0;
    }
    if (argc < 3)
        return 2;
    const std::wstring command = argv[1];
    const std::wstring title = argv[2];
    auto visible = [](HWND window) { return IsWindowVisible(window) != FALSE; };

    if (command == L"state") {
        HWND window = findTopLevel(title, [](HWND w) { return hasControl(w, codeComboId); });
        return window ? printState(window) : 1;
    }
    if (command == L"balloon") {
        HWND window = findTopLevel(title, [](HWND w) { return hasControl(w, codeComboId); });
        return window ? printBalloon(window) : 1;
    }
    if (command == L"msgbox") {
        HWND box = findTopLevel(title, [](HWND w) {
            return IsWindowVisible(w) && hasControl(w, IDOK) && hasControl(w, messageTextId);
        });
        return box ? printMessageBox(box) : 1;
    }
    HWND window = findTopLevel(title, visible);
    if (!window)
        return 1;
    if (command == L"charts")
        return printCharts(window);
    if (command == L"point")
        return argc >= 4 ? printChildPoint(window, argv[3]) : printCaptionPoint(window);
    if (command == L"close")
        return printClosePoint(window);
    if (command == L"rect") {
        RECT rect;
        GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (command == L"control" && argc >= 4)
        return printControlPoint(window, _wtoi(argv[3]), argc >= 5 ? argv[4] : nullptr);
    return 2;
}
