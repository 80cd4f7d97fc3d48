#include "app/balloon.h"

#include "base/state.h"
#include "base/ui_text.h"
#include "stocklink/rights.h"
#include "termlink/period.h"
#include "termlink/status_timer.h"

#include <commctrl.h>

namespace {

// 没有找到行情软件，请先启动飞狐交易师或股道。
constexpr const char* noStockProgramText =
    "\xC3\xBB\xD3\xD0\xD5\xD2\xB5\xBD\xD0\xD0\xC7\xE9\xC8\xED\xBC\xFE\xA3\xAC\xC7\xEB\xCF\xC8\xC6"
    "\xF4\xB6\xAF\xB7\xC9\xBA\xFC\xBD\xBB\xD2\xD7\xCA\xA6\xBB\xF2\xB9\xC9\xB5\xC0\xA1\xA3";
// 行情软件没有来到前台，代码没有输入。
constexpr const char* notInFrontText =
    "\xD0\xD0\xC7\xE9\xC8\xED\xBC\xFE\xC3\xBB\xD3\xD0\xC0\xB4\xB5\xBD\xC7\xB0\xCC\xA8\xA3\xAC\xB4"
    "\xFA\xC2\xEB\xC3\xBB\xD3\xD0\xCA\xE4\xC8\xEB\xA1\xA3";
// 行情软件的键盘精灵没有打开，代码没有输入。
constexpr const char* noWizardText =
    "\xD0\xD0\xC7\xE9\xC8\xED\xBC\xFE\xB5\xC4\xBC\xFC\xC5\xCC\xBE\xAB\xC1\xE9\xC3\xBB\xD3\xD0\xB4"
    "\xF2\xBF\xAA\xA3\xAC\xB4\xFA\xC2\xEB\xC3\xBB\xD3\xD0\xCA\xE4\xC8\xEB\xA1\xA3";
// 行情软件还在处理按键，代码没有发送，请稍后再查询。
constexpr const char* stillTakingKeysText =
    "\xD0\xD0\xC7\xE9\xC8\xED\xBC\xFE\xBB\xB9\xD4\xDA\xB4\xA6\xC0\xED\xB0\xB4\xBC\xFC\xA3\xAC\xB4"
    "\xFA\xC2\xEB\xC3\xBB\xD3\xD0\xB7\xA2\xCB\xCD\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF3\xD4\xD9\xB2\xE9"
    "\xD1\xAF\xA1\xA3";
// 行情软件以管理员身份运行，Talvero 无法控制它。请以管理员身份运行
// Talvero，或以普通方式启动行情软件。
constexpr const char* higherRightsText =
    "\xD0\xD0\xC7\xE9\xC8\xED\xBC\xFE\xD2\xD4\xB9\xDC\xC0\xED\xD4\xB1\xC9\xED\xB7\xDD\xD4\xCB\xD0"
    "\xD0\xA3\xACTalvero \xCE\xDE\xB7\xA8\xBF\xD8\xD6\xC6\xCB\xFC\xA1\xA3\xC7\xEB\xD2\xD4\xB9\xDC"
    "\xC0\xED\xD4\xB1\xC9\xED\xB7\xDD\xD4\xCB\xD0\xD0 Talvero\xA3\xAC\xBB\xF2\xD2\xD4\xC6\xD5\xCD"
    "\xA8\xB7\xBD\xCA\xBD\xC6\xF4\xB6\xAF\xD0\xD0\xC7\xE9\xC8\xED\xBC\xFE\xA1\xA3";

// 股票代码由数字和字母组成，请重新输入。
constexpr const char* noLettersOrDigitsText =
    "\xB9\xC9\xC6\xB1\xB4\xFA\xC2\xEB\xD3\xC9\xCA\xFD\xD7\xD6\xBA\xCD\xD7\xD6\xC4\xB8\xD7\xE9\xB3"
    "\xC9\xA3\xAC\xC7\xEB\xD6\xD8\xD0\xC2\xCA\xE4\xC8\xEB\xA1\xA3";
// 本机“非 Unicode 程序的语言”不是中文(简体)：请在区域设置里把它改为中文(简体)，或用转区工具
// 启动行情软件。
// On a system of another code page the stock program's title is usually what was not found: a
// program that is not Unicode shows its Chinese title correctly only under that setting or such
// a tool.
constexpr const char* codePageText =
    "\xB1\xBE\xBB\xFA\xA1\xB0\xB7\xC7 Unicode \xB3\xCC\xD0\xF2\xB5\xC4\xD3\xEF\xD1\xD4\xA1\xB1"
    "\xB2\xBB\xCA\xC7\xD6\xD0\xCE\xC4(\xBC\xF2\xCC\xE5)\xA3\xBA\xC7\xEB\xD4\xDA\xC7\xF8\xD3\xF2"
    "\xC9\xE8\xD6\xC3\xC0\xEF\xB0\xD1\xCB\xFC\xB8\xC4\xCE\xAA\xD6\xD0\xCE\xC4(\xBC\xF2\xCC\xE5)"
    "\xA3\xAC\xBB\xF2\xD3\xC3\xD7\xAA\xC7\xF8\xB9\xA4\xBE\xDF\xC6\xF4\xB6\xAF\xD0\xD0\xC7\xE9"
    "\xC8\xED\xBC\xFE\xA1\xA3";

// 没有找到 MT4 终端，请先启动 MT4。
constexpr const char* noTerminalText =
    "\xC3\xBB\xD3\xD0\xD5\xD2\xB5\xBD MT4 \xD6\xD5\xB6\xCB\xA3\xAC\xC7\xEB\xCF\xC8\xC6\xF4\xB6\xAF "
    "MT4\xA1\xA3";
// MT4 里没有打开「<chart>」图表，请在 MT4 里用“文件 → 打开离线图表”打开它。
constexpr const char* missingChartBefore = "MT4 \xC0\xEF\xC3\xBB\xD3\xD0\xB4\xF2\xBF\xAA\xA1\xB8";
constexpr const char* missingChartAfter =
    "\xA1\xB9\xCD\xBC\xB1\xED\xA3\xAC\xC7\xEB\xD4\xDA MT4 \xC0\xEF\xD3\xC3\xA1\xB0\xCE\xC4\xBC\xFE "
    "\xA1\xFA "
    "\xB4\xF2\xBF\xAA\xC0\xEB\xCF\xDF\xCD\xBC\xB1\xED\xA1\xB1\xB4\xF2\xBF\xAA\xCB\xFC\xA1\xA3";

// The status tick is timer 1.
constexpr UINT_PTR noticeTimerId = 2;
constexpr UINT_PTR noticeToolId = 1;
constexpr int noticeWidth = 300; // pixels at 96 dpi; a longer sentence wraps
constexpr int noticeTextCapacity = 256;

// A notice of a few sentences, as GBK bytes.
using NoticeText = FixedText<noticeTextCapacity * 2>;

HWND balloon = nullptr;
wchar_t noticeText[noticeTextCapacity];

// The balloon's one tool, tracked at a position of its own; the record has the size that every
// version of the common controls takes.
TTTOOLINFOW noticeTool() {
    TTTOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    tool.hwnd = mainWindow;
    tool.uId = noticeToolId;
    tool.lpszText = noticeText;
    return tool;
}

// The balloon lives with the main window, which owns it and destroys it.
HWND balloonWindow() {
    if (balloon && IsWindow(balloon) && GetWindow(balloon, GW_OWNER) == mainWindow)
        return balloon;
    balloon = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, mainWindow, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (!balloon)
        return nullptr;
    TTTOOLINFOW tool = noticeTool();
    SendMessageW(balloon, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(balloon, TTM_SETMAXTIPWIDTH, 0, scaledPixels(noticeWidth));
    return balloon;
}

void CALLBACK hideNotice(HWND window, UINT, UINT_PTR timerId, DWORD) {
    KillTimer(window, timerId);
    if (!balloon || !IsWindow(balloon))
        return;
    TTTOOLINFOW tool = noticeTool();
    SendMessageW(balloon, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
}

} // namespace

void showNotice(const char* text) {
    HWND tip = balloonWindow();
    if (!tip)
        return;
    gbkToWide(text, noticeText, noticeTextCapacity);
    TTTOOLINFOW tool = noticeTool();
    SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    // The window's own text is the sentence too, for screen readers.
    SetWindowTextW(tip, noticeText);
    RECT box;
    GetWindowRect(GetDlgItem(mainWindow, codeComboId), &box);
    SendMessageW(tip, TTM_TRACKPOSITION, 0, MAKELPARAM((box.left + box.right) / 2, box.bottom));
    SendMessageW(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    SetTimer(mainWindow, noticeTimerId, noticeDuration, hideNotice);
}

const char* queryOutcomeText(QueryOutcome outcome) {
    switch (outcome) {
    case QueryOutcome::noStockProgram:
        return noStockProgramText;
    case QueryOutcome::notInFront:
        return notInFrontText;
    case QueryOutcome::noWizard:
        return noWizardText;
    case QueryOutcome::stillTakingKeys:
        return stillTakingKeysText;
    case QueryOutcome::higherRights:
        return higherRightsText;
    case QueryOutcome::noLettersOrDigits:
        return noLettersOrDigitsText;
    case QueryOutcome::shown:
    case QueryOutcome::refused:
        break;
    }
    return nullptr;
}

// The sentence for a missing stock program, with the setting that makes its title readable when
// the system's code page is not GBK.
void appendNoStockProgram(NoticeText& text) {
    text.append(noStockProgramText);
    if (!systemCodePageIsGbk())
        text.append(codePageText);
}

void tellQueryOutcome(QueryOutcome outcome) {
    const char* text = queryOutcomeText(outcome);
    if (!text)
        return;
    NoticeText notice;
    if (outcome == QueryOutcome::noStockProgram)
        appendNoStockProgram(notice);
    else
        notice.assign(text);
    showNotice(notice.c_str());
}

void tellPeriodOutcome(bool stockProgramThere) {
    NoticeText notice;
    if (!stockProgramThere)
        appendNoStockProgram(notice);
    if (!terminalWindow || !IsWindow(terminalWindow)) {
        notice.append(noTerminalText);
    } else if (!periodChartWindow) {
        notice.append(missingChartBefore);
        notice.append(periodChartTitle);
        notice.append(missingChartAfter);
    }
    if (!notice.empty())
        showNotice(notice.c_str());
}

void tellAdjustOutcome(bool stockProgramThere) {
    if (stockProgramThere)
        return;
    NoticeText notice;
    appendNoStockProgram(notice);
    showNotice(notice.c_str());
}

void tellStockProgramRights() {
    DWORD process = 0;
    if (stockWindow && IsWindow(stockWindow) && GetWindowThreadProcessId(stockWindow, &process) &&
        takeRightsNotice(process))
        showNotice(higherRightsText);
}
