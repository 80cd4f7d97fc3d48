#include "app/main_window.h"

#include "app/balloon.h"
#include "app/dispatch.h"
#include "app/toolbar.h"
#include "base/ui_text.h"
#include "res/resource.h"
#include "stocklink/discovery.h"
#include "stocklink/recent_codes_file.h"
#include "termlink/status_timer.h"

#include <commctrl.h>

namespace {

constexpr DWORD mainWindowStyle = WS_POPUP | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU |
                                  WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT | DS_NOFAILCREATE |
                                  DS_3DLOOK;
static_assert(mainWindowStyle == 0x84CA00D4, "the main window's style");
constexpr DWORD mainWindowExStyle = WS_EX_CONTROLPARENT;
// Position on the screen and client size, in dialog units.
constexpr short mainWindowRect[4] = {221, 171, 320, 44};
constexpr WORD dialogFontPoints = 8;
constexpr const wchar_t* dialogFontFace = L"MS Sans Serif";
constexpr int comboFontPoints = 9;

// Position and size in dialog units.
struct DialogRect {
    short x, y, width, height;
};

struct ControlLayout {
    int id;
    const wchar_t* className;
    const char* text; // ANSI; nullptr for none
    int icon;         // icon resource shown, 0 for none
    DialogRect rect;
    DWORD style;
    DWORD exStyle;
};

constexpr DWORD child = WS_CHILD | WS_VISIBLE;
constexpr DWORD toolbarStyle = child | WS_TABSTOP | TBSTYLE_LIST | TBSTYLE_FLAT | TBSTYLE_WRAPABLE |
                               TBSTYLE_TOOLTIPS | CCS_BOTTOM;
constexpr DWORD label = child | SS_LEFT;
constexpr DWORD icon = child | SS_ICON;

// The main window's controls, in creation order. Texts are GBK.
// clang-format off
constexpr ControlLayout mainControls[] = {
    {periodToolbarId, TOOLBARCLASSNAMEW, "", 0, {10, 0, 0, 440}, toolbarStyle, WS_EX_WINDOWEDGE},
    {codeLabelId, L"STATIC", "\xB4\xFA\xC2\xEB\xCA\xE4\xC8\xEB\xA3\xBA", 0, {5, 8, 40, 11}, label, 0}, // 代码输入：
    {queryButtonId, L"BUTTON", "\xB2\xE9\xD1\xAF", 0, {103, 4, 30, 15}, child | WS_TABSTOP | BS_PUSHBUTTON, 0}, // 查询
    {adjustLabelId, L"STATIC", "\xC8\xA8", 0, {160, 6, 14, 11}, child | SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN, 0}, // 权
    {boltIconId, L"STATIC", nullptr, IDI_BOLT_TABLE, {145, 5, 13, 13}, icon | SS_CENTERIMAGE, 0},
    {terminalIconId, L"STATIC", nullptr, IDI_SCREENS_DARK, {225, 3, 21, 19}, icon, 0},
    {terminalLabelId, L"STATIC", "MT4", 0, {208, 4, 15, 15}, label, 0},
    {stockLabelId, L"STATIC", "\xB7\xC9\xBA\xFC", 0, {240, 4, 20, 10}, label, 0}, // 飞狐
    {stockIconId, L"STATIC", nullptr, IDI_SCREENS_DARK, {258, 3, 21, 20}, icon, 0},
    {adjustCheckId, L"BUTTON", "", 0, {180, 3, 15, 17}, child | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {codeComboId, L"COMBOBOX", nullptr, 0, {45, 5, 55, 15}, child | WS_TABSTOP | CBS_DROPDOWN | CBS_SORT, 0},
    {noticeLabelId, L"STATIC", "Talvero \xD0\xD0\xC7\xE9\xC1\xAA\xB6\xAF", 0, {205, 17, 90, 10}, label, 0}, // 行情联动
    {singleOptionId, L"BUTTON", "\xB5\xA5\xBF\xD8", 0, {280, 4, 30, 10}, child | BS_AUTORADIOBUTTON | BS_NOTIFY, 0}, // 单控
    {multiOptionId, L"BUTTON", "\xB6\xE0\xBF\xD8", 0, {280, 14, 30, 10}, child | WS_TABSTOP | BS_AUTORADIOBUTTON, 0}, // 多控
};
// clang-format on

// The item that the list always starts with, before the codes of the file.
constexpr const char* firstRecentCode = "1A0001";

// Every tick looks at both programs: the stock program's window, found again when it has gone,
// and its rights, once per process; and the terminal.
void CALLBACK watchBothPrograms(HWND window, UINT message, UINT_PTR timerId, DWORD time) {
    if (message == WM_TIMER) {
        watchStockWindow();
        tellStockProgramRights();
    }
    handleStatusTimer(window, message, timerId, time);
}

WNDPROC dialogWindowProc = nullptr;

// The default dialog handling answers Close with an IDCANCEL that destroys nothing, and the
// event procedure leaves every message unhandled, so the shell ends the run itself.
LRESULT CALLBACK closingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CallWindowProcW(dialogWindowProc, window, message, wParam, lParam);
    if (message == WM_CLOSE)
        DestroyWindow(window);
    return result;
}

// The dialog comes from an in-memory extended template (DLGTEMPLATEEX) with no items; the
// controls are created one by one afterwards.
HWND createMainDialog(HWND owner) {
    alignas(4) WORD words[64] = {};
    WORD* at = words;
    auto putWord = [&at](WORD value) { *at++ = value; };
    auto putDword = [&](DWORD value) {
        putWord(LOWORD(value));
        putWord(HIWORD(value));
    };
    auto putText = [&at](const wchar_t* text) {
        do {
            *at++ = static_cast<WORD>(*text);
        } while (*text++);
    };
    wchar_t title[16];
    gbkToWide(programTitle, title, 16);

    putWord(1);      // version
    putWord(0xFFFF); // extended template
    putDword(0);     // help ID
    putDword(mainWindowExStyle);
    putDword(mainWindowStyle);
    putWord(0); // no items
    for (short value : mainWindowRect)
        putWord(static_cast<WORD>(value));
    putWord(0); // no menu
    putWord(0); // the standard dialog class
    putText(title);
    putWord(dialogFontPoints);
    putWord(FW_NORMAL);
    putWord(MAKEWORD(FALSE, ANSI_CHARSET)); // not italic, character set 0
    putText(dialogFontFace);
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<LPCDLGTEMPLATEW>(words), owner, nullptr, 0);
}

void createControls() {
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(mainWindow, WM_GETFONT, 0, 0));
    for (const ControlLayout& layout : mainControls) {
        RECT rect = {layout.rect.x, layout.rect.y, layout.rect.x + layout.rect.width,
                     layout.rect.y + layout.rect.height};
        MapDialogRect(mainWindow, &rect);
        wchar_t text[64] = L"";
        if (layout.text)
            gbkToWide(layout.text, text, 64);
        HWND control = CreateWindowExW(
            layout.exStyle, layout.className, layout.text ? text : nullptr, layout.style, rect.left,
            rect.top, rect.right - rect.left, rect.bottom - rect.top, mainWindow,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), GetModuleHandleW(nullptr),
            nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(dialogFont), TRUE);
        if (layout.icon)
            setIconByNumber(mainWindow, layout.id, layout.icon);
        if (layout.id == periodToolbarId)
            SendMessageW(control, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    }
}

// The combo box gets a font of its own, one point larger; it lives as long as the process.
void setComboFont(HWND combo) {
    HDC screen = GetDC(nullptr);
    int height = -MulDiv(comboFontPoints, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    HFONT font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH, dialogFontFace);
    SendMessageW(combo, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

} // namespace

void initCommonControls() {
    HMODULE comctl = LoadLibraryA("COMCTL32.DLL");
    if (!comctl)
        return;
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto initEx = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
    if (initEx) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES | ICC_DATE_CLASSES |
                                                            ICC_INTERNET_CLASSES};
        initEx(&classes);
    } else {
        InitCommonControls();
    }
    FreeLibrary(comctl);
}

HWND buildMainWindow(HWND owner) {
    mainWindow = createMainDialog(owner); // 1. the hidden dialog
    createControls();                     // 2. its controls
    CheckRadioButton(mainWindow, singleOptionId, multiOptionId,
                     singleOptionId); // 3. single control shown
    HWND combo = GetDlgItem(mainWindow, codeComboId);
    addComboItemGbk(combo, firstRecentCode); // 4. the list and its font
    setComboFont(combo);
    loadRecentCodes(combo);                          // 5. codes of earlier runs
    buildPeriodToolbar(mainWindow, periodToolbarId); // 6. period buttons
    SetWindowPos(mainWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE); // 7. always on top
    desktopWindow = GetDesktopWindow();                                          // 8.
    findTerminal(); // 9, 10. the terminal
    if (terminalWindow)
        setIconByNumber(mainWindow, terminalIconId, IDI_SCREENS_LIT);
    EnumChildWindows(desktopWindow, matchStockWindow, 0); // 11. the stock program
    SetTimer(mainWindow, statusTimerId, statusTimerInterval, watchBothPrograms); // 12. status timer
    return mainWindow;
}

void attachAndShowMainWindow() {
    dialogWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(closingWindowProc)));
    SetWindowLongPtrW(mainWindow, DWLP_DLGPROC,
                      reinterpret_cast<LONG_PTR>(dispatchMainWindowEvent));
    SendMessageW(mainWindow, WM_INITDIALOG, 0, 0);
    ShowWindow(mainWindow, SW_SHOW);
    SetFocus(mainWindow);
}

void runMainWindowLoop() {
    MSG message;
    while (IsWindow(mainWindow)) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam)); // leave it for an outer loop
            break;
        }
        if (got == -1)
            break;
        if (!IsDialogMessageW(mainWindow, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

int runMainWindow(HWND owner) {
    buildMainWindow(owner);
    attachAndShowMainWindow();
    runMainWindowLoop();
    return 0;
}
