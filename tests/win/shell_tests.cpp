// The main window as start-up builds it, its toolbar, the recent-codes list loaded from the file,
// and the event procedure, driven in this process through the real window system.
#include "testkit.h"

#include "app/dispatch.h"
#include "app/main_window.h"
#include "base/ui_text.h"
#include "res/resource.h"
#include "termlink/period.h"

#include <commctrl.h>
#include <gtest/gtest.h>

using namespace testkit;

namespace {

struct ExpectedControl {
    int id;
    const char* className;
    const char* text; // UTF-8; nullptr where the control has no text to check
    RECT dialogUnits; // x, y, width, height
    DWORD style;
};

// The controls in creation order, which is also their order below the main window.
const ExpectedControl expectedControls[] = {
    {1001, "ToolbarWindow32", nullptr, {10, 0, 0, 440}, 0x50011B03},
    {1016, "Static", "代码输入：", {5, 8, 40, 11}, 0x50000000},
    {1018, "Button", "查询", {103, 4, 30, 15}, 0x50010000},
    {1019, "Static", "权", {160, 6, 14, 11}, 0x50001201},
    {1020, "Static", nullptr, {145, 5, 13, 13}, 0x50000203},
    {1022, "Static", nullptr, {225, 3, 21, 19}, 0x50000003},
    {1023, "Static", "MT4", {208, 4, 15, 15}, 0x50000000},
    {1024, "Static", "飞狐", {240, 4, 20, 10}, 0x50000000},
    {1025, "Static", nullptr, {258, 3, 21, 20}, 0x50000003},
    {1026, "Button", "", {180, 3, 15, 17}, 0x50010003},
    {1027, "ComboBox", nullptr, {45, 5, 55, 15}, 0x50010102},
    {1030, "Static", nullptr, {205, 17, 90, 10}, 0x50000000},
    {1028, "Button", "单控", {280, 4, 30, 10}, 0x50004009},
    {1029, "Button", "多控", {280, 14, 30, 10}, 0x50010009},
};

std::vector<HWND> childrenInOrder(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

RECT pixelsOf(HWND dialog, RECT units) {
    RECT rect = {units.left, units.top, units.left + units.right, units.top + units.bottom};
    MapDialogRect(dialog, &rect);
    return rect;
}

} // namespace

TEST(MainWindow, HasTheFourteenControlsInCreationOrderWithTheirClassesTextsStylesAndRects) {
    ScratchDirectory scratch;
    TalveroWindow talvero(false);
    std::vector<HWND> children = childrenInOrder(talvero.window());
    ASSERT_EQ(children.size(), std::size(expectedControls));
    for (size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& expected = expectedControls[i];
        SCOPED_TRACE(expected.id);
        HWND child = children[i];
        EXPECT_EQ(GetDlgCtrlID(child), expected.id);
        EXPECT_EQ(className(child), expected.className);
        if (expected.text) {
            EXPECT_EQ(windowTextAnsi(child), gbk(expected.text));
        }
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)) & ~WS_TABSTOP & ~WS_GROUP,
                  expected.style & ~WS_TABSTOP & ~WS_GROUP);
        // Checking an option moves the tab stop to it, so the options' tab stops follow the check.
        if (expected.id != singleOptionId && expected.id != multiOptionId) {
            EXPECT_EQ((GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0,
                      (expected.style & WS_TABSTOP) != 0);
        }
        if (expected.id == periodToolbarId || expected.id == codeComboId ||
            (expected.style & SS_TYPEMASK) == SS_ICON)
            continue; // these size themselves: the toolbar docks, the combo box and icons fit their
                      // content
        RECT want = pixelsOf(talvero.window(), expected.dialogUnits);
        RECT got;
        GetWindowRect(child, &got);
        MapWindowPoints(nullptr, talvero.window(), reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        EXPECT_EQ(got.right - got.left, want.right - want.left);
        EXPECT_EQ(got.bottom - got.top, want.bottom - want.top);
    }
}

TEST(MainWindow, IsATopmostDialogWithTheProgramCaptionAndSize) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    HWND window = talvero.window();
    EXPECT_EQ(className(window), "#32770");
    EXPECT_EQ(windowTextAnsi(window), "Talvero");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & ~WS_VISIBLE, 0x84CA00D4u);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    EXPECT_TRUE(IsWindowVisible(window));
    RECT client;
    GetClientRect(window, &client);
    RECT want = pixelsOf(window, {0, 0, 320, 44});
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
}

TEST(PeriodToolbar, HoldsNineButtonsWithTextsImagesAndCommandsAndAThirteenImageList) {
    ScratchDirectory scratch;
    TalveroWindow talvero(false);
    HWND toolbar = talvero.control(periodToolbarId);
    const char* texts[] = {"M1", "M5", "M15", "M30", "M60", "M240", "日线", "周线", "月线"};
    ASSERT_EQ(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0), 9);
    for (int i = 0; i < 9; ++i) {
        TBBUTTON button = {};
        ASSERT_TRUE(SendMessageW(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)));
        EXPECT_EQ(button.idCommand, 1002 + i);
        EXPECT_EQ(button.iBitmap, i);
        EXPECT_EQ(button.fsState & TBSTATE_ENABLED, TBSTATE_ENABLED);
        EXPECT_EQ(button.fsStyle, BTNS_BUTTON | BTNS_AUTOSIZE);
        wchar_t text[64] = L"";
        SendMessageW(toolbar, TB_GETBUTTONTEXTW, button.idCommand, reinterpret_cast<LPARAM>(text));
        char utf8[64];
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        EXPECT_STREQ(utf8, texts[i]);
    }
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETIMAGELIST, 0, 0));
    EXPECT_EQ(ImageList_GetImageCount(images), 13);
    int width = 0, height = 0;
    ImageList_GetIconSize(images, &width, &height);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 16);
    // The list style puts each text to the right of its icon.
    EXPECT_TRUE(GetWindowLongW(toolbar, GWL_STYLE) & TBSTYLE_LIST);
}

TEST(PeriodToolbar, DocksAlongTheBottomAcrossTheFullWidthBelowTheControls) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    RECT client, bar, combo;
    GetClientRect(talvero.window(), &client);
    GetWindowRect(talvero.control(periodToolbarId), &bar);
    MapWindowPoints(nullptr, talvero.window(), reinterpret_cast<POINT*>(&bar), 2);
    GetWindowRect(talvero.control(codeComboId), &combo);
    MapWindowPoints(nullptr, talvero.window(), reinterpret_cast<POINT*>(&combo), 2);
    EXPECT_EQ(bar.left, 0);
    EXPECT_EQ(bar.right, client.right);
    // Wine docks the bar two pixels above the bottom edge; Windows puts it on the edge.
    EXPECT_GE(bar.bottom, client.bottom - (onWine() ? 2 : 0));
    EXPECT_LE(bar.bottom, client.bottom);
    EXPECT_GT(bar.bottom - bar.top, 16);
    RECT buttonRect;
    SendMessageW(talvero.control(periodToolbarId), TB_GETITEMRECT, 0,
                 reinterpret_cast<LPARAM>(&buttonRect));
    EXPECT_GT(buttonRect.right - buttonRect.left, 16) << "the text stands beside the icon";
}

TEST(MainWindow, StartsWithSingleControlShownAndTheStatusIconsDark) {
    ScratchDirectory scratch;
    TalveroWindow talvero(false);
    EXPECT_EQ(IsDlgButtonChecked(talvero.window(), singleOptionId), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(talvero.window(), multiOptionId), BST_UNCHECKED);
    EXPECT_TRUE(sameIcon(iconOf(talvero.control(terminalIconId)), programIcon(IDI_SCREENS_DARK)));
    EXPECT_TRUE(sameIcon(iconOf(talvero.control(boltIconId)), programIcon(IDI_BOLT_TABLE)));
    EXPECT_FALSE(sameIcon(programIcon(IDI_SCREENS_DARK), programIcon(IDI_SCREENS_LIT)));
}

TEST(RecentCodes, WithoutAFileTheListHoldsOnlyTheFirstCode) {
    ScratchDirectory scratch;
    TalveroWindow talvero(false);
    EXPECT_EQ(comboItems(talvero.control(codeComboId)), std::vector<std::string>({"1A0001"}));
}

TEST(RecentCodes, LinesAreStrippedUnquotedAndSorted) {
    ScratchDirectory scratch;
    writeFile("DAIMA.DAT", "\"600036\"\r\n 000001 \r\n600000\r\n");
    TalveroWindow talvero(false);
    EXPECT_EQ(comboItems(talvero.control(codeComboId)),
              std::vector<std::string>({"000001", "1A0001", "600000", "600036"}));
}

TEST(RecentCodes, AnyLineEndsAndALastLineWithoutOneLoad) {
    ScratchDirectory scratch;
    writeFile("DAIMA.DAT", "\"600001\"\n\"600002\"\r\"600003\"\r\n\r\n\"600004\"");
    TalveroWindow talvero(false);
    EXPECT_EQ(comboItems(talvero.control(codeComboId)),
              std::vector<std::string>({"", "1A0001", "600001", "600002", "600003", "600004"}));
}

TEST(RecentCodes, LongAndBinaryLinesLoadWithinTheCodeBuffer) {
    ScratchDirectory scratch;
    std::string longLine(1 << 20, '7');
    std::string binary("\x01\x02\x00\xff\xfe\"6\x00"
                       "0\r\n",
                       12);
    // A two-byte character straddling byte 254 is dropped whole.
    std::string straddling = std::string(253, '1') + gbk("股") + "2";
    writeFile("DAIMA.DAT", longLine + "\r\n" + binary + straddling + "\r\n");
    TalveroWindow talvero(false);
    std::vector<std::string> items = comboItems(talvero.control(codeComboId));
    ASSERT_EQ(items.size(), 4u);
    bool sawLong = false, sawStraddling = false;
    for (const std::string& item : items) {
        if (item == std::string(254, '7'))
            sawLong = true;
        if (item == std::string(253, '1'))
            sawStraddling = true;
    }
    EXPECT_TRUE(sawLong);
    EXPECT_TRUE(sawStraddling);
}

namespace {

HWND handleInFile() {
    std::string bytes = readFile("fxwindows.dat");
    unsigned value = 0;
    for (size_t i = 0; i < bytes.size() && i < 4; ++i)
        value |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
}

// Any message makes the event procedure reload the handle file.
void nudge(HWND window) {
    SendMessageW(window, WM_NULL, 0, 0);
}

struct FirstMessage {
    UINT message = 0;
    bool visible = true;
    LRESULT buttons = 0;
};
FirstMessage firstSeen;
HWND watchedWindow;

// Sent messages pass this hook just before the window procedure that hands them on.
LRESULT CALLBACK recordFirstMessage(int code, WPARAM wParam, LPARAM lParam) {
    auto* sent = reinterpret_cast<CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->hwnd == watchedWindow && firstSeen.message == 0 &&
        GetWindowLongPtrW(watchedWindow, DWLP_DLGPROC) != 0) {
        firstSeen.message = sent->message;
        firstSeen.visible = IsWindowVisible(watchedWindow) != FALSE;
        firstSeen.buttons =
            SendDlgItemMessageW(watchedWindow, periodToolbarId, TB_BUTTONCOUNT, 0, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

TEST(EventProcedure, CreatesAMissingHandleFileEmptyAndReadsZero) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    nudge(talvero.window());
    EXPECT_TRUE(fileExists("fxwindows.dat"));
    EXPECT_EQ(readFile("fxwindows.dat"), "");
    EXPECT_EQ(stockWindow, nullptr);
}

TEST(EventProcedure, ReadsShortLongAndRewrittenHandleFilesOnEveryMessage) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    writeFile("fxwindows.dat", std::string("\x34\x12", 2));
    nudge(talvero.window());
    EXPECT_EQ(stockWindow, reinterpret_cast<HWND>(0x1234));

    writeFile("fxwindows.dat", std::string("\x78\x56\x34\x12\xAA\xBB\xCC\xDD\xEE\xFF", 10));
    nudge(talvero.window());
    EXPECT_EQ(stockWindow, reinterpret_cast<HWND>(0x12345678));

    // Another program rewrites the file between two messages: the next message sees it.
    writeFile("fxwindows.dat", std::string("\x01\x00\x02\x00", 4));
    nudge(talvero.window());
    EXPECT_EQ(stockWindow, reinterpret_cast<HWND>(0x00020001));
    EXPECT_EQ(readFile("fxwindows.dat").size(), 4u) << "reading never changes the file";
}

TEST(EventProcedure, KeepsTheLastHandleWhileTheFileIsHeldOpenElsewhere) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    writeFile("fxwindows.dat", std::string("\x44\x33\x22\x11", 4));
    nudge(talvero.window());
    ASSERT_EQ(stockWindow, reinterpret_cast<HWND>(0x11223344));
    // Held without sharing: every open fails, from this process as from any other.
    HANDLE held = CreateFileA("fxwindows.dat", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    SetFilePointer(held, 0, nullptr, FILE_BEGIN);
    WriteFile(held, "\x99\x99\x99\x99", 4, &written, nullptr);
    nudge(talvero.window());
    EXPECT_EQ(stockWindow, reinterpret_cast<HWND>(0x11223344));
    CloseHandle(held);
    nudge(talvero.window());
    // A 64-bit Talvero widens the four bytes with their sign, as Windows widens window handles.
    EXPECT_EQ(stockWindow, reinterpret_cast<HWND>(static_cast<LONG_PTR>(
                               static_cast<LONG>(static_cast<DWORD>(0x99999999)))));
}

TEST(EventProcedure, ReturnsZeroForEveryMessageAndSeesWmInitDialogFirstWhileHidden) {
    ScratchDirectory scratch;
    TalveroWindow talvero(false);
    firstSeen = FirstMessage();
    watchedWindow = talvero.window();
    HHOOK hook =
        SetWindowsHookExW(WH_CALLWNDPROC, recordFirstMessage, nullptr, GetCurrentThreadId());
    attachAndShowMainWindow();
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(firstSeen.message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_FALSE(firstSeen.visible);
    EXPECT_EQ(firstSeen.buttons, 9);
    EXPECT_TRUE(IsWindowVisible(talvero.window()));

    for (UINT message : {WM_INITDIALOG, WM_NCACTIVATE, WM_COMMAND, WM_TIMER, WM_PAINT, WM_CLOSE})
        EXPECT_EQ(dispatchMainWindowEvent(talvero.window(), message, 0, 0), 0) << message;
}

TEST(EventProcedure, OptionsSetTheControlModeOnlyWhenClicked) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    EXPECT_TRUE(controlMode.empty()) << "single control is shown selected but not yet chosen";
    sendCommand(talvero.window(), multiOptionId);
    EXPECT_STREQ(controlMode.c_str(), "duo");
    sendCommand(talvero.window(), singleOptionId);
    EXPECT_STREQ(controlMode.c_str(), "dan");
    sendCommand(talvero.window(), singleOptionId, 1);
    EXPECT_STREQ(controlMode.c_str(), "dan");
    // Focus notifications of the options and other codes change nothing.
    sendCommand(talvero.window(), multiOptionId, BN_SETFOCUS);
    sendCommand(talvero.window(), multiOptionId, 2);
    EXPECT_STREQ(controlMode.c_str(), "dan");
    // A real click on the option goes the same way.
    SendMessageW(talvero.control(multiOptionId), BM_CLICK, 0, 0);
    EXPECT_STREQ(controlMode.c_str(), "duo");
}

TEST(EventProcedure, CommandsFromTheLabelAndTheCodeBoxDoNothing) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    for (int code : {0, 1, 2, CBN_EDITCHANGE, CBN_SELCHANGE}) {
        sendCommand(talvero.window(), adjustLabelId, code);
        sendCommand(talvero.window(), codeComboId, code);
    }
    EXPECT_TRUE(controlMode.empty());
    EXPECT_FALSE(fileExists("DAIMA.DAT"));
}

TEST(EventProcedure, GivesTheFocusBackAfterAnotherWindowWasActive) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                 nullptr, nullptr, nullptr, nullptr);
    HWND combo = talvero.control(codeComboId);
    HWND comboEdit = FindWindowExW(combo, nullptr, L"Edit", nullptr);
    SetForegroundWindow(talvero.window());
    SetFocus(comboEdit);
    ASSERT_TRUE(waitUntil([&] { return GetFocus() == comboEdit; }));
    SetForegroundWindow(other);
    ASSERT_TRUE(waitUntil([&] { return GetForegroundWindow() == other; }));
    EXPECT_EQ(savedFocus, comboEdit);
    SetForegroundWindow(talvero.window());
    EXPECT_TRUE(waitUntil([&] { return GetFocus() == comboEdit; }));
    EXPECT_EQ(savedFocus, nullptr);

    // Two deactivations in a row: the second one's focus is the one kept.
    SendMessageW(talvero.window(), WM_NCACTIVATE, FALSE, 0);
    SetFocus(talvero.control(queryButtonId));
    SendMessageW(talvero.window(), WM_NCACTIVATE, FALSE, 0);
    EXPECT_EQ(savedFocus, talvero.control(queryButtonId));
    DestroyWindow(other);
}

namespace {

WNDPROC activationWithheldFrom = nullptr;

// Keeps WM_ACTIVATE from the dialog manager, whose own focus memory lives there.
LRESULT CALLBACK withholdActivation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ACTIVATE)
        return 0;
    return CallWindowProcW(activationWithheldFrom, window, message, wParam, lParam);
}

} // namespace

// The user types in the code box, works in another window and comes back. The dialog manager gives
// the focus back on such a switch too, and nothing Wine can do gets past it (clicks, minimising,
// hiding, message boxes and other processes all leave it in charge), so it is kept out of
// WM_ACTIVATE here: only the window's own keeping can bring the code box back.
TEST(EventProcedure, GivesTheFocusBackItselfWhenTheDialogManagerDoesNot) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    HWND window = talvero.window();
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                 nullptr, nullptr, nullptr, nullptr);
    HWND comboEdit = FindWindowExW(talvero.control(codeComboId), nullptr, L"Edit", nullptr);
    SetForegroundWindow(window);
    SetFocus(comboEdit);
    ASSERT_TRUE(waitUntil([&] { return GetFocus() == comboEdit; }));
    activationWithheldFrom = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(withholdActivation)));
    SetForegroundWindow(other);
    ASSERT_TRUE(waitUntil([&] { return GetForegroundWindow() == other; }));
    SetForegroundWindow(window);
    // Left to the dialog manager, the focus lands on the first tab stop, the toolbar.
    EXPECT_TRUE(waitUntil([&] { return GetFocus() == comboEdit; }, 1000))
        << "the focus went to control " << GetDlgCtrlID(GetFocus());
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(activationWithheldFrom));
    DestroyWindow(other);
}

TEST(Program, RunsUntilClosedThenShowsTheStockProgramNormallyAndExitsWithZero) {
    ScratchDirectory scratch;
    StockSim stock;
    ASSERT_TRUE(startStockSim(stock, "--minimized"));
    Program talvero;
    ASSERT_TRUE(talvero.start("Talvero.exe", ""));
    HWND window = nullptr;
    ASSERT_TRUE(waitUntil(
        [&] {
            window = FindWindowW(L"#32770", L"Talvero");
            return window && IsWindowVisible(window) && GetDlgItem(window, multiOptionId);
        },
        15000));
    // The start-up search found the stand-in and recorded it.
    EXPECT_TRUE(waitUntil([&] { return handleInFile() == stock.window; }));
    size_t restoredBefore = stock.journal.events("showstate restored").size();
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(talvero.waitForExit(10000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(waitUntil(
        [&] { return stock.journal.events("showstate restored").size() > restoredBefore; }));
    EXPECT_FALSE(IsIconic(stock.window));
}

TEST(PeriodToolbar, KeepsAllNineButtonsInOneRowClearOfTheControls) {
    ScratchDirectory scratch;
    TalveroWindow talvero;
    HWND toolbar = talvero.control(periodToolbarId);
    RECT last = {};
    SendMessageW(toolbar, TB_GETITEMRECT, 8, reinterpret_cast<LPARAM>(&last));
    DWORD padding = static_cast<DWORD>(SendMessageW(toolbar, TB_GETPADDING, 0, 0));
    EXPECT_EQ(SendMessageW(toolbar, TB_GETROWS, 0, 0), 1)
        << "last button ends at " << last.right << ", padding " << LOWORD(padding) << "x"
        << HIWORD(padding);
    // The toolbar is above the other controls, so where it overlaps them it takes their clicks.
    RECT bar, options;
    GetWindowRect(toolbar, &bar);
    GetWindowRect(talvero.control(multiOptionId), &options);
    EXPECT_GE(bar.top, options.bottom - 2);
}

// --- Display scaling ----------------------------------------------------------------------------

namespace {

const char scalingReport[] = "scaling.txt";

// The pixel width of an icon.
int iconWidth(HICON icon) {
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

// Sets the density that Wine gives the programs started after it, and puts back the one there
// was (or none) when it ends.
class ScreenDensity {
  public:
    ScreenDensity() {
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key_);
        DWORD size = sizeof old_;
        had_ = RegQueryValueExW(key_, L"LogPixels", nullptr, nullptr,
                                reinterpret_cast<BYTE*>(&old_), &size) == ERROR_SUCCESS;
    }
    ~ScreenDensity() {
        if (had_)
            set(old_);
        else
            RegDeleteValueW(key_, L"LogPixels");
        RegCloseKey(key_);
    }
    void set(DWORD dpi) {
        RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                       sizeof dpi);
    }

  private:
    HKEY key_ = nullptr;
    DWORD old_ = 0;
    bool had_ = false;
};

} // namespace

// One start of Talvero at the screen's density, run by the test below in a process of its own:
// the density is read when a program starts.
TEST(DisplayScaling, DISABLED_OneStartAtTheScreensDensity) {
    TalveroWindow talvero;
    int dpi = screenDpi();
    int icon = MulDiv(16, dpi, 96);
    writeFile(scalingReport, std::to_string(dpi));
    RECT client;
    GetClientRect(talvero.window(), &client);
    for (HWND control : childrenInOrder(talvero.window())) {
        RECT rect;
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, talvero.window(), reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_TRUE(rect.left >= 0 && rect.top >= 0 && rect.right <= client.right &&
                    rect.bottom <= client.bottom)
            << "control " << GetDlgCtrlID(control) << " at " << rect.left << "," << rect.top << "-"
            << rect.right << "," << rect.bottom << " outside 0,0-" << client.right << ","
            << client.bottom;
    }
    HWND toolbar = talvero.control(periodToolbarId);
    EXPECT_EQ(SendMessageW(toolbar, TB_GETROWS, 0, 0), 1);
    int width = 0, height = 0;
    ImageList_GetIconSize(
        reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETIMAGELIST, 0, 0)), &width,
        &height);
    EXPECT_EQ(width, icon);
    EXPECT_EQ(height, icon);
    EXPECT_GT(HIWORD(SendMessageW(toolbar, TB_GETBUTTONSIZE, 0, 0)), icon) << "button height";
    for (int id : {boltIconId, terminalIconId, stockIconId})
        EXPECT_EQ(iconWidth(iconOf(talvero.control(id))), icon) << "icon " << id;
}

TEST(DisplayScaling, EveryControlFitsAndTheIconsFollowTheDensityFrom96To192Dpi) {
    ScratchDirectory scratch;
    // On Windows the density changes only at the next sign-in: the one of this session is tested.
    std::vector<DWORD> densities = {96, 120, 144, 192};
    if (!onWine())
        densities = {0};
    ScreenDensity density;
    for (DWORD dpi : densities) {
        SCOPED_TRACE(dpi);
        if (dpi)
            density.set(dpi);
        DeleteFileA(scalingReport);
        // The child's counts are not this run's: it is started without the file to write them.
        char counts[MAX_PATH] = "";
        GetEnvironmentVariableA("TALVERO_COUNTS", counts, MAX_PATH);
        SetEnvironmentVariableA("TALVERO_COUNTS", nullptr);
        Program child;
        bool started =
            child.start("shell_tests.exe",
                        "--gtest_also_run_disabled_tests "
                        "--gtest_filter=DisplayScaling.DISABLED_OneStartAtTheScreensDensity");
        if (counts[0])
            SetEnvironmentVariableA("TALVERO_COUNTS", counts);
        ASSERT_TRUE(started);
        DWORD exitCode = 1;
        ASSERT_TRUE(child.waitForExit(60000, &exitCode));
        EXPECT_EQ(exitCode, 0u) << "the start at this density failed: see its output above";
        if (dpi) {
            EXPECT_EQ(readFile(scalingReport), std::to_string(dpi)) << "the density was not taken";
        }
    }
}
