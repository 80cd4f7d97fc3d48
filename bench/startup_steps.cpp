// Talvero's start-up step by step, for the breakdown of the start-up benchmark: the program's
// own start-up steps (those of WinMain and runMainWindow) timed from process creation, then,
// in the same process, the parts of building the window that cost most, each timed on a hidden
// dialog of its own, and the cheaper way of filling the toolbar's image list that BENCHMARKS.md
// proposes.
//
// bench_startup_steps.exe START FILE: START is the performance-counter time in milliseconds
// taken by the starting program before CreateProcess; one line of times is appended to FILE.
#include "benchkit.h"

#include "app/main_window.h"
#include "app/toolbar.h"
#include "res/resource.h"
#include "stocklink/discovery.h"
#include "termlink/period.h"

#include <commctrl.h>

#include <cstdlib> // __argc, __argv
#include <cstring>

#include "steps_file.h"

using namespace benchkit;

namespace {

constexpr int firstListIcon = IDI_PERIOD_M1;
constexpr int listIcons = IDI_SCREEN_ONE_LIT - IDI_PERIOD_M1 + 1;

// The time spent on the messages of the first pump, by message and window class.
struct MessageCost {
    UINT message;
    wchar_t className[32];
    double ms;
};
MessageCost messageCosts[64];
int messageCostCount = 0;

void addMessageCost(const MSG& message, double ms) {
    wchar_t name[32] = L"";
    GetClassNameW(message.hwnd, name, 32);
    for (int i = 0; i < messageCostCount; ++i) {
        if (messageCosts[i].message == message.message &&
            !lstrcmpW(messageCosts[i].className, name)) {
            messageCosts[i].ms += ms;
            return;
        }
    }
    if (messageCostCount == 64)
        return;
    MessageCost& cost = messageCosts[messageCostCount++];
    cost.message = message.message;
    lstrcpynW(cost.className, name, 32);
    cost.ms = ms;
}

// Entries into the event procedure from the moment it is attached: each reloads fxwindows.dat.
int dialogMessages = 0;

LRESULT CALLBACK countSentToDialog(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && reinterpret_cast<const CWPSTRUCT*>(lParam)->hwnd == mainWindow)
        ++dialogMessages;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Drains the queue once, as the main window's loop would before it first waits.
void handlePending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.hwnd == mainWindow)
            ++dialogMessages;
        double start = nowMs();
        if (!IsDialogMessageW(mainWindow, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        addMessageCost(message, nowMs() - start);
    }
}

INT_PTR CALLBACK unhandled(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// A hidden dialog of the main window's template with a toolbar of the main window's style.
HWND hiddenDialogWithToolbar() {
    HWND dialog = createDialogLikeTalvero(unhandled, "steps", talveroX, referenceY);
    CreateWindowExW(WS_EX_WINDOWEDGE, TOOLBARCLASSNAMEW, L"",
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBSTYLE_LIST | TBSTYLE_FLAT |
                        TBSTYLE_WRAPABLE | TBSTYLE_TOOLTIPS | CCS_BOTTOM,
                    15, 0, 0, 660, dialog, reinterpret_cast<HMENU>(periodToolbarId),
                    GetModuleHandleW(nullptr), nullptr);
    SendDlgItemMessageW(dialog, periodToolbarId, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    return dialog;
}

// The image list as the toolbar fills it: each icon loaded and added on its own.
HIMAGELIST imagesIconByIcon() {
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 1);
    for (int number = firstListIcon; number < firstListIcon + listIcons; ++number) {
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(number), IMAGE_ICON, 16, 16, 0));
        ImageList_ReplaceIcon(images, -1, icon);
        DestroyIcon(icon);
    }
    return images;
}

// The same thirteen pictures copied from the icon resources (16 x 16, 32-bit with alpha) into
// one strip and added in one call.
HIMAGELIST imagesFromOneStrip() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 16 * listIcons;
    info.bmiHeader.biHeight = 16; // bottom-up, as the icons' own rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP strip = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!strip)
        return nullptr;
    HMODULE module = GetModuleHandleW(nullptr);
    for (int i = 0; i < listIcons; ++i) {
        HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(firstListIcon + i), RT_GROUP_ICON);
        auto* directory =
            group ? static_cast<BYTE*>(LockResource(LoadResource(module, group))) : nullptr;
        int id = directory ? LookupIconIdFromDirectoryEx(directory, TRUE, 16, 16, 0) : 0;
        HRSRC image = id ? FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON) : nullptr;
        auto* header =
            image ? static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)))
                  : nullptr;
        if (!header || header->biBitCount != 32 || header->biWidth != 16)
            continue;
        const auto* pixels = reinterpret_cast<const DWORD*>(header + 1);
        for (int row = 0; row < 16; ++row)
            std::memcpy(static_cast<DWORD*>(bits) + row * 16 * listIcons + i * 16,
                        pixels + row * 16, 16 * sizeof(DWORD));
    }
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, listIcons, 1);
    ImageList_Add(images, strip, nullptr);
    DeleteObject(strip);
    return images;
}

// The toolbar filled the cheaper way: the strip image list, the nine texts in one string-pool
// call, the nine buttons in one TB_ADDBUTTONS and one TB_AUTOSIZE, then the same fitting into
// one row as the shipped toolbar.
void buildToolbarInOneGo(HWND dialog) {
    HWND toolbar = GetDlgItem(dialog, periodToolbarId);
    SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(imagesFromOneStrip()));
    wchar_t texts[128];
    int at = 0;
    for (const PeriodRow& row : periodTable) {
        at += MultiByteToWideChar(CP_ACP, 0, row.toolbarText, -1, texts + at, 128 - at - 1);
    }
    texts[at] = L'\0';
    int firstString =
        static_cast<int>(SendMessageW(toolbar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(texts)));
    TBBUTTON buttons[periodCount] = {};
    for (int position = 0; position < periodCount; ++position) {
        buttons[position].iBitmap = position;
        buttons[position].idCommand = periodTable[position].controlId;
        buttons[position].fsState = TBSTATE_ENABLED;
        buttons[position].fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
        buttons[position].iString = firstString + position;
    }
    SendMessageW(toolbar, TB_ADDBUTTONSW, periodCount, reinterpret_cast<LPARAM>(buttons));
    SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
    DWORD padding = static_cast<DWORD>(SendMessageW(toolbar, TB_GETPADDING, 0, 0));
    for (int across = LOWORD(padding) - 1;
         across >= 0 && SendMessageW(toolbar, TB_GETROWS, 0, 0) > 1; --across) {
        SendMessageW(toolbar, TB_SETPADDING, 0, MAKELPARAM(across, HIWORD(padding)));
        SendMessageW(toolbar, WM_SETFONT, SendMessageW(toolbar, WM_GETFONT, 0, 0), FALSE);
        SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
    }
}

// Whether the two ways give the same pictures: each image of both lists drawn onto white.
bool sameImages() {
    HIMAGELIST lists[2] = {imagesIconByIcon(), imagesFromOneStrip()};
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = 16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    bool same = ImageList_GetImageCount(lists[0]) == ImageList_GetImageCount(lists[1]);
    HDC dc = CreateCompatibleDC(nullptr);
    for (int image = 0; same && image < listIcons; ++image) {
        DWORD pixels[2][256];
        for (int list = 0; list < 2; ++list) {
            void* bits = nullptr;
            HBITMAP canvas = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
            HGDIOBJ previous = SelectObject(dc, canvas);
            std::memset(bits, 0xFF, 256 * sizeof(DWORD));
            ImageList_Draw(lists[list], image, dc, 0, 0, ILD_NORMAL);
            GdiFlush();
            std::memcpy(pixels[list], bits, sizeof pixels[list]);
            SelectObject(dc, previous);
            DeleteObject(canvas);
        }
        same = std::memcmp(pixels[0], pixels[1], sizeof pixels[0]) == 0;
    }
    DeleteDC(dc);
    ImageList_Destroy(lists[0]);
    ImageList_Destroy(lists[1]);
    return same;
}

double timeImages(HIMAGELIST (*fill)()) {
    double start = nowMs();
    HIMAGELIST images = fill();
    double ms = nowMs() - start;
    ImageList_Destroy(images);
    return ms;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    double atMain = nowMs();
    initCommonControls();
    double atControls = nowMs();
    buildMainWindow(nullptr);
    // Counting from here, where the event procedure is attached; installing the hook takes
    // microseconds.
    HHOOK hook =
        SetWindowsHookExW(WH_CALLWNDPROC, countSentToDialog, nullptr, GetCurrentThreadId());
    double atBuilt = nowMs();
    attachAndShowMainWindow();
    double atShown = nowMs();
    handlePending();
    double atPumped = nowMs();
    UnhookWindowsHookEx(hook);

    // The costly parts of building the window, each on a hidden dialog of its own.
    HWND dialog = hiddenDialogWithToolbar();
    double start = nowMs();
    buildPeriodToolbar(dialog, periodToolbarId);
    double toolbar = nowMs() - start;
    HWND second = hiddenDialogWithToolbar();
    start = nowMs();
    buildToolbarInOneGo(second);
    double toolbarInOneGo = nowMs() - start;
    int oneGoButtons =
        static_cast<int>(SendDlgItemMessageW(second, periodToolbarId, TB_BUTTONCOUNT, 0, 0));
    DestroyWindow(second);
    double iconByIcon = timeImages(imagesIconByIcon);
    double oneStrip = timeImages(imagesFromOneStrip);
    start = nowMs();
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    double topmost = nowMs() - start;
    DestroyWindow(dialog);
    start = nowMs();
    EnumChildWindows(GetDesktopWindow(), matchStockWindow, 0);
    double discovery = nowMs() - start;
    bool samePictures = sameImages();

    if (__argc > 2) {
        double begin = static_cast<double>(stepsfile::parseMicroseconds(__argv[1])) / 1000.0;
        stepsfile::Line line;
        line.add("main", atMain - begin);
        line.add("controls", atControls - atMain);
        line.add("built", atBuilt - atControls);
        line.add("shown", atShown - atBuilt);
        line.add("pumped", atPumped - atShown);
        line.add("toolbar", toolbar);
        line.add("iconbyicon", iconByIcon);
        line.add("onestrip", oneStrip);
        line.add("toolbaronego", toolbarInOneGo);
        line.add("onegobuttons", oneGoButtons);
        line.add("topmost", topmost);
        line.add("discovery", discovery);
        line.add("samepictures", samePictures ? 1 : 0);
        line.add("dialogmessages", dialogMessages);
        for (int i = 0; i < messageCostCount; ++i) {
            const MessageCost& cost = messageCosts[i];
            char name[80];
            if (cost.message == WM_PAINT)
                wsprintfA(name, "pump:paint@%ls", cost.className);
            else
                wsprintfA(name, "pump:0x%X@%ls", cost.message, cost.className);
            line.add(name, cost.ms);
        }
        line.appendTo(__argv[2]);
    }
    runMainWindowLoop();
    return 0;
}
