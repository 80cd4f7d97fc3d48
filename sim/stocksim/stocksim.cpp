// A stand-in for the stock-analysis program that Talvero drives. It shows what it is told (a
// stock code through its keyboard wizard, a chart period and the adjustment state through menu
// commands) and, when asked, writes every key, text, command and show-state change that reaches
// it to a journal that tests read while it runs. Options and journal format: README.md.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <deque>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr wchar_t mainClassName[] = L"TalveroStockSim";
constexpr wchar_t wizardTitle[] = L"键盘精灵";
constexpr UINT hangMessage = WM_APP + 1; // wParam: milliseconds to stop answering
constexpr UINT closeMessage = WM_APP + 2;
// Sent by tests in place of WM_IME_CONTROL to the default IME window, which Wine only stubs:
// wParam an IMC_* command, lParam the value of a SET command.
constexpr UINT imeControlMessage = WM_APP + 3;
constexpr UINT giveFrontAwayMessage = WM_APP + 4; // posted to itself while keeping the front away
constexpr UINT_PTR frontAwayTimerId = 1;
constexpr UINT_PTR keepAwayTimerId = 2;
constexpr UINT_PTR frontLateTimerId = 3;
constexpr UINT pushFrontLateMessage = WM_APP + 5; // posted to itself on an activation it delays
constexpr UINT frontAwayDelay = 80;               // ms after the last key taken into the wizard
constexpr UINT keepAwayInterval = 10;    // ms between looks at the front while keeping it away
constexpr DWORD keepAwayDuration = 5000; // longer than any query waits
constexpr int wizardEditId = 1001;
constexpr int wizardListId = 1002;
constexpr int defaultX = 12; // below Talvero's window, left of a terminal on the right
constexpr int defaultY = 370;
constexpr int defaultWidth = 560;
constexpr int defaultHeight = 380;
constexpr size_t recentEventLimit = 12;

struct TitleChoice {
    const wchar_t* option;
    const wchar_t* title;
};
constexpr TitleChoice titleTable[] = {
    {L"1", L"飞狐交易师 - 缠友版"},
    {L"2", L"股道黄金版 - 普及版"},
};

enum class CommandKind { period, adjustToggle, adjustApply };

struct CommandInfo {
    WORD id;
    CommandKind kind;
    const wchar_t* name;  // as journaled; also shown for periods
    const wchar_t* label; // as shown in the event list
    double volatility;    // per bar, for the drawn chart of a period
};
constexpr CommandInfo commandTable[] = {
    {32873, CommandKind::period, L"M1", L"M1", 0.002},
    {32874, CommandKind::period, L"M5", L"M5", 0.004},
    {32875, CommandKind::period, L"M15", L"M15", 0.006},
    {32876, CommandKind::period, L"M30", L"M30", 0.008},
    {32877, CommandKind::period, L"M60", L"M60", 0.011},
    {33284, CommandKind::period, L"M240", L"M240", 0.015},
    {32878, CommandKind::period, L"日线", L"日线", 0.021},
    {32879, CommandKind::period, L"周线", L"周线", 0.040},
    {32880, CommandKind::period, L"月线", L"月线", 0.070},
    {32806, CommandKind::adjustToggle, L"adjust-toggle", L"复权切换", 0},
    {33052, CommandKind::adjustApply, L"adjust-apply", L"复权应用", 0},
};
constexpr size_t dailyPeriod = 6;

// Names for the wizard's match list and the header; invented, only for looks.
struct StockInfo {
    const wchar_t* code;
    const wchar_t* name;
    const wchar_t* initials;
};
constexpr StockInfo stockTable[] = {
    {L"1A0001", L"上证指数", L"SZZS"}, {L"000001", L"深南发展", L"SNFZ"},
    {L"000002", L"万家地产", L"WJDC"}, {L"000858", L"五溪酒业", L"WXJY"},
    {L"300750", L"宁川能源", L"NCNY"}, {L"600000", L"东海银行", L"DHYH"},
    {L"600036", L"南山银行", L"NSYH"}, {L"600519", L"青峰酒业", L"QFJY"},
    {L"600900", L"大江电力", L"DJDL"}, {L"601318", L"平川保险", L"PCBX"},
    {L"601888", L"远行旅游", L"YXLY"},
};

// The IMC_* commands of WM_IME_CONTROL, and the conversion-mode bits that change typing.
constexpr WPARAM imcGetConversionMode = 1;
constexpr WPARAM imcSetConversionMode = 2;
constexpr WPARAM imcGetOpenStatus = 5;
constexpr WPARAM imcSetOpenStatus = 6;
constexpr DWORD imeModeNative = 1;
constexpr DWORD imeModeFullShape = 8;
constexpr wchar_t imeCandidates[] = L"的一是不了人我在有他"; // picked by digit 0-9

// An input context: what the input method does with the keys of the windows that use it.
struct ImeState {
    bool exists = false;
    bool open = false;
    DWORD mode = 0;
    std::wstring composition; // letters typed in native mode, not yet committed
};

struct ImeChoice {
    const wchar_t* option;
    bool open;
    DWORD mode;
};
constexpr ImeChoice imeChoices[] = {
    {L"chinese", true, imeModeNative},
    {L"fullwidth", true, imeModeFullShape},
    {L"off", false, 0},
};

// What becomes of the front after the keys: left alone, given to the desktop once, or kept there.
enum class FrontAway { never, once, keep };

struct Options {
    std::wstring title = titleTable[0].title;
    std::wstring journalPath;
    bool minimized = false;
    int x = defaultX;
    int y = defaultY;
    int startDelay = 0;  // ms before the main window is created
    int wizardDelay = 0; // ms busy on the key that opens the wizard, before it is created
    int keyDelay = 0;    // ms busy after each key-down
    bool wizardTakesFront = false;
    bool wizardDropsFirstKey = false;
    FrontAway frontAway = FrontAway::never;
    int frontLate = 0; // ms between being activated and taking the front; 0: takes it at once
    const ImeChoice* ime = nullptr;       // the thread's default input context
    const ImeChoice* wizardIme = nullptr; // the wizard edit's own context
};

enum class ShowState { restored, minimized, maximized };

// Process-wide state of the one UI thread.
HWND mainWindow;
HWND wizardWindow;
HWND wizardEdit;
HWND wizardList;
WNDPROC wizardEditBaseProc;
HANDLE journalFile = INVALID_HANDLE_VALUE;
bool journalStarted; // nothing is journaled before the "start" line
LARGE_INTEGER clockStart;
LARGE_INTEGER clockFrequency;
std::wstring shownCode;
int wizardDelay;
int keyDelay;
bool wizardTakesFront;
bool wizardDropsFirstKey;
FrontAway frontAway = FrontAway::never;
bool frontAwayDone;  // given away since the wizard opened
DWORD keepAwayUntil; // tick count; 0 when the front is not being kept away
int frontLate;
bool frontLatePending; // activated and pushed away; the front is taken when the timer fires
bool takingFront;      // its own SetForegroundWindow is under way
ImeState mainIme;      // the thread's default context, for every window without its own
ImeState editIme;      // the wizard edit's own context while the wizard is open
const ImeChoice* wizardImeChoice; // the state the edit's own context is created in
const CommandInfo* currentPeriod = &commandTable[dailyPeriod];
bool adjustArmed; // the toggle of the pair has arrived, the apply has not yet
bool adjusted;
ShowState lastShowState = ShowState::restored;
std::deque<std::wstring> recentEvents;
HFONT codeFont;
HFONT labelFont;
HFONT smallFont;
HFONT wizardFont;

std::string toUtf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

// Free text ends a journal line, so it must not break the line: control characters become
// \xNN and the backslash doubles.
std::wstring escapeText(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\\') {
            out += L"\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            wchar_t hex[8];
            std::swprintf(hex, 8, L"\\x%02X", static_cast<unsigned>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

bool openJournal(const std::wstring& path) {
    if (path.empty())
        return true;
    // Shared for reading, writing and deletion so that tests can read and remove it while we
    // run; append-only so every line lands at the end whoever else has it open.
    journalFile = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return journalFile != INVALID_HANDLE_VALUE;
}

long long millisecondsSinceStart() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - clockStart.QuadPart) * 1000 / clockFrequency.QuadPart;
}

// One unbuffered WriteFile per line: a reader sees the line as soon as this returns.
void journal(const std::wstring& event) {
    if (journalFile == INVALID_HANDLE_VALUE || !journalStarted)
        return;
    const std::string line = std::to_string(millisecondsSinceStart()) + ' ' + toUtf8(event) + '\n';
    DWORD written = 0;
    WriteFile(journalFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// The event list on the main window, newest first.
void remember(const std::wstring& text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[16];
    std::swprintf(stamp, 16, L"%02u:%02u:%02u  ", now.wHour, now.wMinute, now.wSecond);
    recentEvents.push_front(stamp + text);
    if (recentEvents.size() > recentEventLimit)
        recentEvents.pop_back();
    if (mainWindow)
        InvalidateRect(mainWindow, nullptr, FALSE);
}

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

const StockInfo* findStock(const std::wstring& code) {
    for (const StockInfo& stock : stockTable) {
        if (_wcsicmp(stock.code, code.c_str()) == 0)
            return &stock;
    }
    return nullptr;
}

bool startsWithIgnoringCase(const wchar_t* text, const std::wstring& prefix) {
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] == 0 || std::towupper(text[i]) != std::towupper(prefix[i]))
            return false;
    }
    return true;
}

bool parseInt(const wchar_t* text, int& out) {
    wchar_t* end = nullptr;
    const long value = std::wcstol(text, &end, 10);
    if (end == text || *end != 0)
        return false;
    out = static_cast<int>(value);
    return true;
}

bool parseMilliseconds(const wchar_t* text, int& out) {
    return parseInt(text, out) && out >= 0;
}

bool parseCommandLine(Options& options) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return false;
    std::wstring titleChoice = titleTable[0].option;
    std::wstring suffix;
    std::wstring exactTitle;
    bool exact = false;
    bool ok = true;
    auto takeValue = [&](int& i) -> const wchar_t* {
        if (i + 1 >= argc) {
            ok = false;
            return L"";
        }
        return argv[++i];
    };
    for (int i = 1; i < argc && ok; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--title") {
            titleChoice = takeValue(i);
        } else if (option == L"--suffix") {
            suffix = takeValue(i);
        } else if (option == L"--exact-title") {
            exactTitle = takeValue(i);
            exact = true;
        } else if (option == L"--journal") {
            options.journalPath = takeValue(i);
        } else if (option == L"--minimized") {
            options.minimized = true;
        } else if (option == L"--start-delay") {
            ok = ok && parseMilliseconds(takeValue(i), options.startDelay);
        } else if (option == L"--wizard-delay") {
            ok = ok && parseMilliseconds(takeValue(i), options.wizardDelay);
        } else if (option == L"--key-delay") {
            ok = ok && parseMilliseconds(takeValue(i), options.keyDelay);
        } else if (option == L"--wizard-takes-front") {
            options.wizardTakesFront = true;
        } else if (option == L"--wizard-drops-first-key") {
            options.wizardDropsFirstKey = true;
        } else if (option == L"--front-away") {
            const std::wstring mode = takeValue(i);
            if (mode == L"once")
                options.frontAway = FrontAway::once;
            else if (mode == L"keep")
                options.frontAway = FrontAway::keep;
            else
                ok = false;
        } else if (option == L"--ime" || option == L"--ime-wizard") {
            const std::wstring mode = takeValue(i);
            const ImeChoice* found = nullptr;
            for (const ImeChoice& choice : imeChoices) {
                if (mode == choice.option && (choice.open || option == L"--ime-wizard"))
                    found = &choice;
            }
            (option == L"--ime" ? options.ime : options.wizardIme) = found;
            ok = ok && found;
        } else if (option == L"--front-late") {
            ok = ok && parseMilliseconds(takeValue(i), options.frontLate);
        } else if (option == L"--pos") {
            const wchar_t* x = takeValue(i);
            const wchar_t* y = takeValue(i);
            ok = ok && parseInt(x, options.x) && parseInt(y, options.y);
        } else {
            ok = false;
        }
    }
    LocalFree(argv);

    const TitleChoice* choice = nullptr;
    for (const TitleChoice& candidate : titleTable) {
        if (titleChoice == candidate.option)
            choice = &candidate;
    }
    if (!ok || !choice)
        return false;
    options.title = exact ? exactTitle : choice->title + suffix;
    return true;
}

int CALLBACK noteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool fontInstalled(HDC dc, const wchar_t* face) {
    LOGFONTW query = {};
    query.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(query.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExW(dc, &query, noteFontFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

// The chart program's own look needs a face with Chinese glyphs; the first one installed wins,
// and with none of them the font mapper picks one for the GB2312 character set.
void createFonts() {
    constexpr const wchar_t* faces[] = {L"Microsoft YaHei", L"WenQuanYi Micro Hei", L"SimSun"};
    const wchar_t* face = L"";
    HDC screen = GetDC(nullptr);
    for (const wchar_t* candidate : faces) {
        if (fontInstalled(screen, candidate)) {
            face = candidate;
            break;
        }
    }
    ReleaseDC(nullptr, screen);
    auto make = [face](int height, int weight) {
        return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, GB2312_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, face);
    };
    codeFont = make(30, FW_BOLD);
    labelFont = make(15, FW_NORMAL);
    smallFont = make(12, FW_NORMAL);
    wizardFont = make(14, FW_NORMAL);
}

constexpr int barCount = 90;
constexpr int exDividendBar = 62; // the bar on which the price drops by the dividend
constexpr double exDividendFactor = 0.94;
constexpr int averageLength = 10;

struct Series {
    std::vector<double> close;
    std::vector<double> volume;
};

uint32_t hashText(const std::wstring& text) {
    uint32_t hash = 2166136261u;
    for (wchar_t c : text) {
        hash ^= static_cast<uint32_t>(std::towupper(c));
        hash *= 16777619u;
    }
    return hash;
}

// A random walk fixed by the code and the period, so a code always draws the same picture.
// The forward-adjusted series scales the bars before the dividend so the line runs on
// unbroken.
Series makeSeries(const std::wstring& code, const CommandInfo& period, bool forwardAdjusted) {
    const uint32_t codeHash = hashText(code);
    uint32_t state = codeHash ^ (period.id * 2654435769u);
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
    };
    Series series;
    double price = 4.0 + (codeHash % 4600) / 100.0;
    for (int i = 0; i < barCount; ++i) {
        if (i > 0)
            price *= 1.0 + period.volatility * (2.0 * next() - 1.0 + 0.04);
        if (i == exDividendBar)
            price *= exDividendFactor;
        series.close.push_back(price);
        series.volume.push_back(0.25 + next());
    }
    if (forwardAdjusted) {
        for (int i = 0; i < exDividendBar; ++i)
            series.close[static_cast<size_t>(i)] *= exDividendFactor;
    }
    return series;
}

constexpr COLORREF backgroundColor = RGB(16, 20, 28);
constexpr COLORREF headerColor = RGB(26, 32, 44);
constexpr COLORREF panelColor = RGB(21, 26, 36);
constexpr COLORREF gridColor = RGB(38, 45, 58);
constexpr COLORREF textColor = RGB(214, 220, 228);
constexpr COLORREF dimTextColor = RGB(120, 130, 146);
constexpr COLORREF riseColor = RGB(232, 84, 72); // red rises on these markets
constexpr COLORREF fallColor = RGB(64, 190, 112);
constexpr COLORREF averageColor = RGB(222, 182, 84);
constexpr COLORREF badgeColor = RGB(44, 58, 82);
constexpr int headerHeight = 64;
constexpr int eventPanelWidth = 190;
constexpr int axisWidth = 54;

void fillRect(HDC dc, const RECT& rect, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void drawText(HDC dc, const std::wstring& text, RECT rect, HFONT font, COLORREF color,
              UINT format) {
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, color);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              format | DT_NOPREFIX | DT_SINGLELINE);
    SelectObject(dc, oldFont);
}

int textWidth(HDC dc, const std::wstring& text, HFONT font) {
    HGDIOBJ oldFont = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, oldFont);
    return size.cx;
}

void drawPolyline(HDC dc, const std::vector<POINT>& points, COLORREF color, int width) {
    HPEN pen = CreatePen(PS_SOLID, width, color);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    Polyline(dc, points.data(), static_cast<int>(points.size()));
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

// A rounded tag at the right edge of the header; returns the x where the next one ends.
int drawBadge(HDC dc, const std::wstring& text, int right, COLORREF color) {
    const int width = textWidth(dc, text, labelFont) + 20;
    const RECT rect = {right - width, 20, right, 44};
    HBRUSH brush = CreateSolidBrush(color);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, 10, 10);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(brush);
    drawText(dc, text, rect, labelFont, textColor, DT_CENTER | DT_VCENTER);
    return rect.left - 8;
}

void drawHeader(HDC dc, const RECT& area) {
    fillRect(dc, area, headerColor);
    RECT codeRect = {area.left + 16, area.top, area.right, area.bottom};
    if (shownCode.empty()) {
        drawText(dc, L"------", codeRect, codeFont, dimTextColor, DT_LEFT | DT_VCENTER);
    } else {
        drawText(dc, shownCode, codeRect, codeFont, textColor, DT_LEFT | DT_VCENTER);
        if (const StockInfo* stock = findStock(shownCode)) {
            codeRect.left += textWidth(dc, shownCode, codeFont) + 12;
            drawText(dc, stock->name, codeRect, labelFont, dimTextColor, DT_LEFT | DT_VCENTER);
        }
    }
    int right = area.right - 14;
    right = drawBadge(dc, adjusted ? L"前复权" : L"不复权", right,
                      adjusted ? RGB(110, 78, 40) : badgeColor);
    drawBadge(dc, currentPeriod->name, right, badgeColor);
}

void drawChart(HDC dc, const RECT& area) {
    fillRect(dc, area, backgroundColor);
    const RECT plot = {area.left + 12, area.top + 14, area.right - axisWidth, area.bottom - 14};
    const int volumeTop = plot.bottom - (plot.bottom - plot.top) / 5;
    const RECT priceArea = {plot.left, plot.top, plot.right, volumeTop - 8};

    HPEN gridPen = CreatePen(PS_DOT, 1, gridColor);
    HGDIOBJ oldPen = SelectObject(dc, gridPen);
    SetBkMode(dc, TRANSPARENT);
    for (int line = 0; line <= 4; ++line) {
        const int y = priceArea.top + (priceArea.bottom - priceArea.top) * line / 4;
        MoveToEx(dc, plot.left, y, nullptr);
        LineTo(dc, plot.right, y);
    }
    SelectObject(dc, oldPen);
    DeleteObject(gridPen);

    if (shownCode.empty()) {
        drawText(dc, L"按字母或数字键打开键盘精灵", priceArea, labelFont, dimTextColor,
                 DT_CENTER | DT_VCENTER);
        return;
    }

    const Series series = makeSeries(shownCode, *currentPeriod, adjusted);
    const auto [lowest, highest] = std::minmax_element(series.close.begin(), series.close.end());
    const double margin = (*highest - *lowest) * 0.08 + 0.01;
    const double low = *lowest - margin;
    const double high = *highest + margin;
    const int width = plot.right - plot.left;
    auto xOf = [&](size_t i) { return plot.left + static_cast<int>(i) * width / (barCount - 1); };
    auto yOf = [&](double price) {
        return priceArea.bottom -
               static_cast<int>((price - low) / (high - low) * (priceArea.bottom - priceArea.top));
    };

    const int lastY = yOf(series.close.back());
    for (int line = 0; line <= 4; ++line) {
        const double price = high - (high - low) * line / 4;
        const int y = yOf(price);
        if (std::abs(y - lastY) < 18)
            continue; // the last-price tag covers it
        wchar_t label[32];
        std::swprintf(label, 32, L"%.2f", price);
        drawText(dc, label, {plot.right + 6, y - 8, area.right, y + 8}, smallFont, dimTextColor,
                 DT_LEFT | DT_VCENTER);
    }

    const int barWidth = std::max(1, width / barCount - 1);
    for (size_t i = 0; i < series.volume.size(); ++i) {
        const bool rising = i == 0 || series.close[i] >= series.close[i - 1];
        const int top =
            plot.bottom - static_cast<int>(series.volume[i] / 1.25 * (plot.bottom - volumeTop));
        const RECT bar = {xOf(i) - barWidth / 2, top, xOf(i) - barWidth / 2 + barWidth,
                          plot.bottom};
        fillRect(dc, bar, rising ? RGB(110, 50, 46) : RGB(40, 96, 64));
    }

    std::vector<POINT> pricePoints;
    std::vector<POINT> averagePoints;
    double sum = 0;
    for (size_t i = 0; i < series.close.size(); ++i) {
        pricePoints.push_back({xOf(i), yOf(series.close[i])});
        sum += series.close[i];
        if (i >= averageLength)
            sum -= series.close[i - averageLength];
        if (i + 1 >= averageLength)
            averagePoints.push_back({xOf(i), yOf(sum / averageLength)});
    }
    const bool rising = series.close.back() >= series.close.front();
    drawPolyline(dc, averagePoints, averageColor, 1);
    drawPolyline(dc, pricePoints, rising ? riseColor : fallColor, 2);

    wchar_t last[32];
    std::swprintf(last, 32, L"%.2f", series.close.back());
    const RECT tag = {plot.right + 2, lastY - 9, area.right - 2, lastY + 9};
    fillRect(dc, tag, rising ? riseColor : fallColor);
    drawText(dc, last, tag, smallFont, RGB(255, 255, 255), DT_CENTER | DT_VCENTER);
}

void drawEventPanel(HDC dc, const RECT& area) {
    fillRect(dc, area, panelColor);
    RECT line = {area.left + 12, area.top + 10, area.right - 8, area.top + 30};
    drawText(dc, L"最近事件", line, labelFont, textColor, DT_LEFT | DT_VCENTER);
    line.top += 28;
    for (const std::wstring& event : recentEvents) {
        line.bottom = line.top + 18;
        if (line.bottom > area.bottom - 6)
            break;
        drawText(dc, event, line, smallFont, dimTextColor, DT_LEFT | DT_VCENTER | DT_END_ELLIPSIS);
        line.top = line.bottom;
    }
}

// Drawn off screen first so the chart does not flicker on every command.
void paintMainWindow(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    const int width = std::max(1, static_cast<int>(client.right));
    const int height = std::max(1, static_cast<int>(client.bottom));
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    SetBkMode(memory, TRANSPARENT);

    const int panelLeft = std::max(0, width - eventPanelWidth);
    drawHeader(memory, {0, 0, width, headerHeight});
    drawChart(memory, {0, headerHeight, panelLeft, height});
    drawEventPanel(memory, {panelLeft, headerHeight, width, height});

    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(window, &paint);
}

void appendDword(std::vector<WORD>& out, DWORD value) {
    out.push_back(LOWORD(value));
    out.push_back(HIWORD(value));
}

void appendText(std::vector<WORD>& out, const wchar_t* text) {
    for (; *text; ++text)
        out.push_back(static_cast<WORD>(*text));
    out.push_back(0);
}

// Item records start on DWORD boundaries, counted from the start of the template.
void alignToDword(std::vector<WORD>& out) {
    if (out.size() % 2 != 0)
        out.push_back(0);
}

constexpr WORD wizardWidth = 128; // dialog units
constexpr WORD wizardHeight = 134;

struct WizardItem {
    WORD classAtom; // 0x0081 Edit, 0x0083 ListBox
    WORD id;
    DWORD style;
    short x, y, cx, cy;
};
constexpr WizardItem wizardItems[] = {
    {0x0081, wizardEditId, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 6, 6,
     116, 14},
    {0x0083, wizardListId, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 6,
     24, 116, 104},
};

// An in-memory template makes the wizard a real "#32770" dialog with a real "Edit" child,
// which is what the tool looks for.
std::vector<WORD> buildWizardTemplate() {
    std::vector<WORD> out;
    appendDword(out, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    appendDword(out, 0);
    out.push_back(static_cast<WORD>(std::size(wizardItems)));
    out.insert(out.end(), {0, 0, wizardWidth, wizardHeight}); // placed when it opens
    out.push_back(0);                                         // no menu
    out.push_back(0);                                         // the standard dialog class
    appendText(out, wizardTitle);
    out.push_back(9);
    appendText(out, L"MS Shell Dlg");
    for (const WizardItem& item : wizardItems) {
        alignToDword(out);
        appendDword(out, item.style);
        appendDword(out, 0);
        for (short value : {item.x, item.y, item.cx, item.cy})
            out.push_back(static_cast<WORD>(value));
        out.push_back(item.id);
        out.push_back(0xFFFF);
        out.push_back(item.classAtom);
        out.push_back(0); // no text
        out.push_back(0); // no creation data
    }
    return out;
}

// The input method. A window uses the edit's own context if it is the wizard's edit and has one,
// else the thread's default context, if the program has one.
ImeState* imeOf(HWND window) {
    if (window && window == wizardEdit && editIme.exists)
        return &editIme;
    return mainIme.exists ? &mainIme : nullptr;
}

void journalIme(const ImeState& ime) {
    journal(std::wstring(L"ime ") + (&ime == &editIme ? L"edit" : L"main") + L" open=" +
            (ime.open ? L"1" : L"0") + L" mode=" + std::to_wstring(ime.mode));
}

void setComposition(ImeState& ime, const std::wstring& text) {
    if (ime.composition == text)
        return;
    ime.composition = text;
    journal(L"compose " + escapeText(text));
}

// Committed text reaches the window as characters, behind nothing: posted messages come before
// the keys still waiting.
void commitText(HWND target, const std::wstring& text) {
    journal(L"commit " + escapeText(text));
    for (wchar_t c : text)
        PostMessageW(target, WM_CHAR, c, 1);
}

// Switched away in the middle of a word, common Chinese input methods put the letters in as typed.
void changeIme(ImeState& ime, bool open, DWORD mode) {
    if (open == ime.open && mode == ime.mode)
        return;
    if (!ime.composition.empty()) {
        HWND focus = GetFocus();
        commitText(&ime == &editIme ? wizardEdit : (focus ? focus : mainWindow), ime.composition);
        setComposition(ime, L"");
    }
    ime.open = open;
    ime.mode = mode;
    journalIme(ime);
}

// Answers as WM_IME_CONTROL to the default IME window does; false for a window without a
// context, which leaves the message to DefWindowProc (0, closed).
bool imeControl(HWND window, WPARAM command, LPARAM value, LRESULT& result) {
    ImeState* ime = imeOf(window);
    if (!ime)
        return false;
    result = 0;
    switch (command) {
    case imcGetOpenStatus:
        result = ime->open ? 1 : 0;
        return true;
    case imcGetConversionMode:
        result = static_cast<LRESULT>(ime->mode);
        return true;
    case imcSetOpenStatus:
        changeIme(*ime, value != 0, ime->mode);
        return true;
    case imcSetConversionMode:
        changeIme(*ime, ime->open, static_cast<DWORD>(value));
        return true;
    }
    return false;
}

// A key-down that the open input method takes instead of the usual translation: in native mode
// letters compose and a digit picks a candidate; in full shape, letters and digits become
// full-width characters. True when the key needs nothing more.
bool imeTakesKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0)
        return false;
    ImeState* ime = imeOf(msg.hwnd);
    if (!ime || !ime->open)
        return false;
    const WPARAM key = msg.wParam;
    const bool letter = key >= 'A' && key <= 'Z';
    const int digit = key >= '0' && key <= '9'                 ? static_cast<int>(key - '0')
                      : key >= VK_NUMPAD0 && key <= VK_NUMPAD9 ? static_cast<int>(key - VK_NUMPAD0)
                                                               : -1;
    if (ime->mode & imeModeNative) {
        if (letter) {
            setComposition(*ime, ime->composition +
                                     static_cast<wchar_t>(std::towlower(static_cast<wint_t>(key))));
            return true;
        }
        if (!ime->composition.empty()) {
            if (digit >= 0 || key == VK_RETURN) {
                commitText(msg.hwnd,
                           digit >= 0 ? std::wstring(1, imeCandidates[digit]) : ime->composition);
                setComposition(*ime, L"");
                return true;
            }
            if (key == VK_BACK || key == VK_ESCAPE) {
                std::wstring shorter = ime->composition;
                shorter.resize(key == VK_BACK ? shorter.size() - 1 : 0);
                setComposition(*ime, shorter);
                return true;
            }
            return false;
        }
    }
    if ((ime->mode & imeModeFullShape) && (letter || digit >= 0)) {
        // The key-down itself still arrives (it opens the wizard); only its character changes.
        DispatchMessageW(&msg);
        const int full = letter ? 0xFF21 + static_cast<int>(key - 'A') : 0xFF10 + digit;
        PostMessageW(msg.hwnd, WM_CHAR, static_cast<WPARAM>(full), msg.lParam);
        return true;
    }
    return false;
}

void refillWizardList() {
    const std::wstring typed = windowText(wizardEdit);
    SendMessageW(wizardList, LB_RESETCONTENT, 0, 0);
    if (typed.empty())
        return;
    for (const StockInfo& stock : stockTable) {
        if (startsWithIgnoringCase(stock.code, typed) ||
            startsWithIgnoringCase(stock.initials, typed)) {
            const std::wstring entry = std::wstring(stock.code) + L"   " + stock.name;
            SendMessageW(wizardList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        }
    }
    SendMessageW(wizardList, LB_SETCURSEL, 0, 0);
}

LRESULT CALLBACK wizardEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
        const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
        const std::wstring arrived = text ? text : L"";
        // What the keys left in the field, which the text replaces.
        wchar_t held[256] = L"";
        CallWindowProcW(wizardEditBaseProc, edit, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(held));
        journal(L"held " + escapeText(held));
        journal(L"settext " + escapeText(arrived));
        remember(L"精灵收到 " + arrived);
    } else if (message == imeControlMessage) {
        LRESULT result = 0;
        if (imeControl(edit, wParam, lParam, result))
            return result;
    }
    return CallWindowProcW(wizardEditBaseProc, edit, message, wParam, lParam);
}

// Like a real wizard it pops up at the lower right of the chart, kept on the screen.
void placeWizard(HWND dialog) {
    RECT owner;
    RECT self;
    RECT work;
    GetWindowRect(mainWindow, &owner);
    GetWindowRect(dialog, &self);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = self.right - self.left;
    const int height = self.bottom - self.top;
    const int x = std::clamp(static_cast<int>(owner.right) - width - 16,
                             static_cast<int>(work.left), static_cast<int>(work.right) - width);
    const int y = std::clamp(static_cast<int>(owner.bottom) - height - 16,
                             static_cast<int>(work.top), static_cast<int>(work.bottom) - height);
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void showCode(const std::wstring& code) {
    shownCode = code;
    journal(L"show " + escapeText(code));
    remember(L"显示 " + (code.empty() ? std::wstring(L"(空)") : code));
}

void closeWizard(bool accept) {
    const std::wstring code = windowText(wizardEdit);
    DestroyWindow(wizardWindow);
    if (accept)
        showCode(code);
}

INT_PTR CALLBACK wizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        wizardWindow = dialog;
        wizardEdit = GetDlgItem(dialog, wizardEditId);
        wizardList = GetDlgItem(dialog, wizardListId);
        SendMessageW(wizardEdit, WM_SETFONT, reinterpret_cast<WPARAM>(wizardFont), FALSE);
        SendMessageW(wizardList, WM_SETFONT, reinterpret_cast<WPARAM>(wizardFont), FALSE);
        wizardEditBaseProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            wizardEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(wizardEditProc)));
        placeWizard(dialog);
        return TRUE; // focus to the first tab stop, the edit field
    case WM_COMMAND:
        // Enter and Esc arrive as IDOK and IDCANCEL through IsDialogMessage.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            closeWizard(LOWORD(wParam) == IDOK);
        else if (LOWORD(wParam) == wizardEditId && HIWORD(wParam) == EN_CHANGE)
            refillWizardList();
        return TRUE;
    case WM_DESTROY:
        wizardWindow = wizardEdit = wizardList = nullptr;
        editIme = ImeState{};
        journal(L"wizard close");
        remember(L"键盘精灵 关闭");
        return TRUE;
    }
    return FALSE;
}

// A loaded program: a plain sleep on the window thread, so that keys and messages sent from
// other processes wait in its queue meanwhile.
void busy(int milliseconds) {
    if (milliseconds <= 0)
        return;
    journal(L"busy " + std::to_wstring(milliseconds));
    Sleep(static_cast<DWORD>(milliseconds));
}

void openWizard() {
    const std::vector<WORD> dialogTemplate = buildWizardTemplate();
    CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                               reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()),
                               mainWindow, wizardDialogProc, 0);
    if (!wizardWindow)
        return;
    if (wizardTakesFront) {
        // As a real dialog takes the front: on top of its owner, shown, active, with the focus.
        SetWindowPos(wizardWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        ShowWindow(wizardWindow, SW_SHOW);
        SetForegroundWindow(wizardWindow);
    } else {
        ShowWindow(wizardWindow, SW_SHOW);
    }
    SetFocus(wizardEdit);
    frontAwayDone = false;
    journal(L"wizard open");
    remember(L"键盘精灵 打开");
    if (wizardImeChoice) {
        editIme = ImeState{true, wizardImeChoice->open, wizardImeChoice->mode, L""};
        journalIme(editIme);
    }
}

bool opensWizard(WPARAM key) {
    return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') ||
           (key >= VK_NUMPAD0 && key <= VK_NUMPAD9);
}

void onMainKeyDown(WPARAM key) {
    if (!wizardWindow && opensWizard(key)) {
        busy(wizardDelay);
        openWizard();
    }
}

// The key that opened the wizard was translated while the main window had the focus, so its
// character comes here; later keys go straight to the wizard's edit field.
void onMainChar(WPARAM character) {
    if (!wizardEdit || character < 0x20 || wizardDropsFirstKey)
        return;
    const wchar_t text[2] = {static_cast<wchar_t>(character), 0};
    SendMessageW(wizardEdit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

void onCommand(WPARAM wParam) {
    const WORD id = LOWORD(wParam);
    const CommandInfo* command = nullptr;
    for (const CommandInfo& candidate : commandTable) {
        if (candidate.id == id)
            command = &candidate;
    }
    std::wstring line =
        L"command " + std::to_wstring(id) + L" " + (command ? command->name : L"unknown");
    if (HIWORD(wParam) != 0)
        line += L" code=" + std::to_wstring(HIWORD(wParam));
    journal(line);
    remember(L"命令 " + std::to_wstring(id) + L" " + (command ? command->label : L"未知"));
    if (!command)
        return;
    switch (command->kind) {
    case CommandKind::period:
        currentPeriod = command;
        break;
    case CommandKind::adjustToggle:
        adjustArmed = !adjustArmed;
        break;
    case CommandKind::adjustApply:
        if (adjustArmed)
            adjusted = !adjusted;
        adjustArmed = false;
        break;
    }
    InvalidateRect(mainWindow, nullptr, FALSE);
}

const wchar_t* showStateName(ShowState state) {
    switch (state) {
    case ShowState::minimized:
        return L"minimized";
    case ShowState::maximized:
        return L"maximized";
    case ShowState::restored:
        break;
    }
    return L"restored";
}

void onSize(HWND window, WPARAM kind) {
    ShowState state;
    if (kind == SIZE_MINIMIZED)
        state = ShowState::minimized;
    else if (kind == SIZE_MAXIMIZED)
        state = ShowState::maximized;
    else if (kind == SIZE_RESTORED)
        state = ShowState::restored;
    else
        return;
    InvalidateRect(window, nullptr, FALSE);
    if (state == lastShowState)
        return;
    lastShowState = state;
    journal(std::wstring(L"showstate ") + showStateName(state));
}

bool ownsForeground() {
    DWORD process = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &process);
    return process == GetCurrentProcessId();
}

// The front goes to the desktop, as it can under Wine after an owned dialog opened, or to an
// alert on Windows.
void giveFrontAway() {
    if (!ownsForeground())
        return;
    SetForegroundWindow(GetDesktopWindow());
    journal(L"front-away");
}

// A program slow to come to the front: activated while inactive, it hands the front to the
// desktop and takes it itself a while later. Activations meanwhile are pushed away too.
void onActivatedLate(HWND window) {
    if (frontLate <= 0 || takingFront || !journalStarted)
        return;
    if (!frontLatePending) {
        frontLatePending = true;
        SetTimer(window, frontLateTimerId, static_cast<UINT>(frontLate), nullptr);
    }
    PostMessageW(window, pushFrontLateMessage, 0, 0);
}

void pushFrontLate() {
    if (!frontLatePending || !ownsForeground())
        return;
    SetForegroundWindow(GetDesktopWindow());
    journal(L"front-late");
}

void takeFrontLate(HWND window) {
    KillTimer(window, frontLateTimerId);
    frontLatePending = false;
    takingFront = true;
    SetForegroundWindow(wizardWindow ? wizardWindow : mainWindow);
    takingFront = false;
    journal(L"front-taken");
}

void onFrontAwayTimer(HWND window, UINT_PTR timerId) {
    if (timerId == frontLateTimerId) {
        takeFrontLate(window);
    } else if (timerId == frontAwayTimerId) {
        KillTimer(window, frontAwayTimerId);
        if (!wizardWindow)
            return;
        frontAwayDone = true;
        giveFrontAway();
        if (frontAway == FrontAway::keep) {
            keepAwayUntil = GetTickCount() + keepAwayDuration;
            SetTimer(window, keepAwayTimerId, keepAwayInterval, nullptr);
        }
    } else if (timerId == keepAwayTimerId) {
        if (static_cast<LONG>(GetTickCount() - keepAwayUntil) >= 0) {
            KillTimer(window, keepAwayTimerId);
            keepAwayUntil = 0;
        } else {
            giveFrontAway();
        }
    }
}

// Each key taken while the wizard is open puts the front's departure off, so it leaves after
// the last key.
void scheduleFrontAway() {
    if (frontAway != FrontAway::never && wizardWindow && !frontAwayDone)
        SetTimer(mainWindow, frontAwayTimerId, frontAwayDelay, nullptr);
}

// Fault injection: a plain sleep, so that messages sent from other processes wait too.
void hang(WPARAM milliseconds) {
    journal(L"hang " + std::to_wstring(milliseconds));
    remember(L"停顿 " + std::to_wstring(milliseconds) + L" ms");
    Sleep(static_cast<DWORD>(milliseconds));
    journal(L"hang-end");
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
        onMainKeyDown(wParam);
        return 0;
    case WM_CHAR:
        onMainChar(wParam);
        return 0;
    case WM_COMMAND:
        onCommand(wParam);
        return 0;
    case WM_SIZE:
        onSize(window, wParam);
        return 0;
    case WM_ACTIVATEAPP:
        journal(wParam ? L"activate" : L"deactivate");
        // Taken back at once while the front is kept away, before a key can follow.
        if (wParam && keepAwayUntil != 0)
            PostMessageW(window, giveFrontAwayMessage, 0, 0);
        if (wParam)
            onActivatedLate(window);
        return 0;
    case WM_TIMER:
        onFrontAwayTimer(window, wParam);
        return 0;
    case giveFrontAwayMessage:
        giveFrontAway();
        return 0;
    case pushFrontLateMessage:
        pushFrontLate();
        return 0;
    case WM_PAINT:
        paintMainWindow(window);
        return 0;
    case WM_ERASEBKGND:
        return 1; // the paint covers everything
    case hangMessage:
        hang(wParam);
        return 0;
    case imeControlMessage: {
        LRESULT result = 0;
        if (imeControl(window, wParam, lParam, result))
            return result;
        break;
    }
    case closeMessage:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createMainWindow(HINSTANCE instance, const Options& options) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = mainClassName;
    if (!RegisterClassExW(&windowClass))
        return nullptr;
    return CreateWindowExW(0, mainClassName, options.title.c_str(), WS_OVERLAPPEDWINDOW, options.x,
                           options.y, defaultWidth, defaultHeight, nullptr, nullptr, instance,
                           nullptr);
}

void startJournal(const std::wstring& title) {
    lastShowState = IsIconic(mainWindow)   ? ShowState::minimized
                    : IsZoomed(mainWindow) ? ShowState::maximized
                                           : ShowState::restored;
    journalStarted = true;
    wchar_t handle[32];
    std::swprintf(handle, 32, L"0x%lx",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(mainWindow)));
    journal(std::wstring(L"start hwnd=") + handle + L" title=" + escapeText(title));
}

const wchar_t* keyWindowName(HWND window) {
    if (window == mainWindow)
        return L"main";
    if (window && window == wizardWindow)
        return L"wizard";
    if (window && window == wizardEdit)
        return L"edit";
    return L"other";
}

bool isKeyDown(const MSG& msg) {
    return msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
}

// Keys are journaled as the loop takes them, before anything can act on them.
void journalKey(const MSG& msg) {
    const bool down = isKeyDown(msg);
    const bool up = msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP;
    if (!down && !up)
        return;
    journal(std::wstring(down ? L"keydown" : L"keyup") + L" vk=" + std::to_wstring(msg.wParam) +
            L" window=" + keyWindowName(msg.hwnd));
}

// The key delay falls after a key-down is handled and before its character is taken: the
// character was posted by the translation, and a message sent meanwhile is handled first.
int runMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        journalKey(msg);
        if (!imeTakesKey(msg) && (!wizardWindow || !IsDialogMessageW(wizardWindow, &msg))) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (isKeyDown(msg)) {
            busy(keyDelay);
            scheduleFrontAway();
        }
    }
    return static_cast<int>(msg.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    QueryPerformanceFrequency(&clockFrequency);
    QueryPerformanceCounter(&clockStart);

    Options options;
    if (!parseCommandLine(options))
        return 2; // a test that passes a wrong option sees it at once
    if (!openJournal(options.journalPath))
        return 3;
    // A real program loads its data before its window comes up.
    Sleep(static_cast<DWORD>(options.startDelay));
    wizardDelay = options.wizardDelay;
    keyDelay = options.keyDelay;
    wizardTakesFront = options.wizardTakesFront;
    wizardDropsFirstKey = options.wizardDropsFirstKey;
    frontAway = options.frontAway;
    frontLate = options.frontLate;
    wizardImeChoice = options.wizardIme;
    if (options.ime)
        mainIme = ImeState{true, options.ime->open, options.ime->mode, L""};
    createFonts();
    mainWindow = createMainWindow(instance, options);
    if (!mainWindow)
        return 1;
    ShowWindow(mainWindow, options.minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
    UpdateWindow(mainWindow);
    startJournal(options.title); // tests take the handle from this first line
    if (mainIme.exists)
        journalIme(mainIme);
    const int exitCode = runMessageLoop();

    if (journalFile != INVALID_HANDLE_VALUE)
        CloseHandle(journalFile);
    for (HFONT font : {codeFont, labelFont, smallFont, wizardFont})
        DeleteObject(font);
    return exitCode;
}
