// termsim: a stand-in for the trading terminal that Talvero watches and drives, for Talvero's
// tests and for trying Talvero without the real terminal.
//
// It plays the window structure that Talvero searches (the frame class, the MDI client, offline
// charts that each hold a chart view), keeps the frame's caption on the active chart, shows the
// refresh command arriving, and writes a journal of what reaches it for the tests to read.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr wchar_t frameClass[] = L"MetaQuotes::MetaTrader::4.00";
constexpr wchar_t chartClass[] = L"TermsimChart";
constexpr wchar_t viewClass[] = L"AfxFrameOrView42";
constexpr wchar_t viewClassS[] = L"AfxFrameOrView42s";

constexpr const wchar_t* defaultCharts[] = {
    L"国内A股,M1 (offline)",    L"国内A股,M5 (offline)",     L"国内A股,M15 (offline)",
    L"国内A股,M30 (offline)",   L"国内A股,H1 (offline)",     L"国内A股,H4 (offline)",
    L"国内A股,Daily (offline)", L"国内A股,Weekly (offline)", L"国内A股,Monthly (offline)",
    L"国内A股,M417 (offline)",
};
constexpr wchar_t defaultActiveChart[] = L"国内A股,Daily (offline)";
constexpr wchar_t hyphenChart[] = L"BTC-USD,H1";
constexpr wchar_t defaultPrefix[] = L"8801234: Demo-Server-01 - 模拟账户 - 国内A股";

// Messages and commands from outside.
constexpr UINT hangMessage = WM_APP + 1; // wParam: milliseconds to stop answering
constexpr UINT quitMessage = WM_APP + 2;
constexpr UINT orderMessage = WM_APP + 3; // journal the charts' Z order
constexpr WORD refreshCommand = 33324;
// Commands at or above this come from the MDI machinery (window list, maximised child's system
// menu); the window list starts where MFC starts it.
constexpr WORD firstMdiCommand = 0xF000;
constexpr UINT firstChildCommand = 0xFF00;

// Our own menu.
constexpr WORD exitCommand = 40001;
constexpr WORD cascadeCommand = 40002;
constexpr WORD tileHorizontalCommand = 40003;
constexpr WORD tileVerticalCommand = 40004;
constexpr WORD arrangeCommand = 40005;

constexpr UINT_PTR blinkTimer = 1;
constexpr UINT blinkMilliseconds = 300;
constexpr int viewId = 0xE900; // the id of a frame's first pane in MFC
constexpr int cascadeStep = 24;
constexpr int cascadeDepth = 10;

enum StatusPart { helpPart, chartPart, refreshPart, indicatorPart, statusPartCount };
constexpr int helpPartWidth = 120;
constexpr int refreshPartWidth = 230;
constexpr int indicatorPartWidth = 90;

struct Options {
    std::wstring journalPath;
    std::vector<std::wstring> charts{std::begin(defaultCharts), std::end(defaultCharts)};
    const wchar_t* viewClassName = viewClass; // null: charts without a view
    std::optional<std::wstring> activeTitle;
    std::wstring prefix = defaultPrefix;
    std::optional<std::wstring> fixedCaption;
    POINT pos{360, 100};
    SIZE size{656, 640};
};

Options options;
HINSTANCE instance;
HWND frameWindow;
HWND mdiClient;
HWND statusBar;
HFONT uiFont;
HANDLE journalFile = INVALID_HANDLE_VALUE;
const auto startTime = std::chrono::steady_clock::now();

// Caption state: what we put in the frame's caption, and for which chart.
bool started;
bool settingCaption;
std::wstring shownCaption;
HWND shownChart;
std::wstring shownChartTitle;

unsigned refreshCount;
bool indicatorLit;

// --- text -----------------------------------------------------------------------------------

std::string toUtf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring fromUtf8(std::string_view text) {
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// Journal fields stay on one line: control characters become \xNN, a backslash is doubled.
std::string journalText(std::wstring_view text) {
    std::string out;
    for (char c : toUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string hexValue(uintptr_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string hexHandle(HWND window) {
    return hexValue(reinterpret_cast<uintptr_t>(window));
}

// --- journal --------------------------------------------------------------------------------

bool openJournal(const std::wstring& path) {
    // Shared for reading, writing and deleting, so that a test can read it while we run.
    journalFile = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return journalFile != INVALID_HANDLE_VALUE;
}

// One line per event, written with one unbuffered write so that a reader never sees half a line.
void journal(std::string_view event, std::string_view fields = {}) {
    if (journalFile == INVALID_HANDLE_VALUE)
        return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - startTime);
    std::string line = std::to_string(elapsed.count());
    line += ' ';
    line += event;
    if (!fields.empty()) {
        line += ' ';
        line += fields;
    }
    line += '\n';
    DWORD written = 0;
    WriteFile(journalFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// --- command line ---------------------------------------------------------------------------

// Splits a command line by the rules of the C runtime, after the program name.
std::vector<std::wstring> commandArguments(const wchar_t* p) {
    // The program name runs to the closing quote or the first blank, with no escapes.
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"')
            ++p;
        if (*p)
            ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
    }
    std::vector<std::wstring> args;
    for (;;) {
        while (*p == L' ' || *p == L'\t')
            ++p;
        if (!*p)
            return args;
        std::wstring arg;
        bool quoted = false;
        while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
            size_t slashes = 0;
            while (*p == L'\\') {
                ++slashes;
                ++p;
            }
            if (*p == L'"') {
                arg.append(slashes / 2, L'\\');
                if (slashes % 2) {
                    arg += L'"';
                    ++p;
                } else if (quoted && p[1] == L'"') {
                    arg += L'"';
                    p += 2;
                } else {
                    quoted = !quoted;
                    ++p;
                }
            } else {
                arg.append(slashes, L'\\');
                if (slashes == 0) {
                    arg += *p;
                    ++p;
                }
            }
        }
        args.push_back(arg);
    }
}

bool parseInt(const std::wstring& text, long& value) {
    wchar_t* end = nullptr;
    value = std::wcstol(text.c_str(), &end, 10);
    return !text.empty() && *end == L'\0';
}

std::vector<std::wstring> splitTitles(const std::wstring& list) {
    std::vector<std::wstring> titles;
    size_t start = 0;
    while (start <= list.size()) {
        size_t bar = list.find(L'|', start);
        if (bar == std::wstring::npos)
            bar = list.size();
        if (bar > start)
            titles.push_back(list.substr(start, bar - start));
        start = bar + 1;
    }
    return titles;
}

// A whole UTF-8 file: captions too long for a command line (Windows stops at 32,767 characters).
bool readUtf8File(const std::wstring& path, std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    const bool ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    text = fromUtf8(bytes);
    return ok;
}

struct OptionRule {
    const wchar_t* name;
    size_t values;
};
constexpr OptionRule optionTable[] = {
    {L"--journal", 1}, {L"--charts", 1},  {L"--add", 1},          {L"--duplicate", 1},
    {L"--hyphen", 0},  {L"--view42s", 0}, {L"--noview", 0},       {L"--active", 1},
    {L"--prefix", 1},  {L"--caption", 1}, {L"--caption-file", 1}, {L"--pos", 2},
    {L"--size", 2},
};

// Fills `options`; on a mistake returns false with the reason in `error`.
bool parseOptions(const std::vector<std::wstring>& args, std::wstring& error) {
    std::vector<std::wstring> added; // --add, --duplicate and --hyphen, in their order
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& name = args[i];
        const auto option = std::find_if(std::begin(optionTable), std::end(optionTable),
                                         [&](const OptionRule& o) { return name == o.name; });
        if (option == std::end(optionTable)) {
            error = L"unknown option " + name;
            return false;
        }
        if (i + option->values >= args.size()) {
            error = L"missing value for " + name;
            return false;
        }
        const std::wstring value = option->values ? args[i + 1] : std::wstring();
        if (name == L"--journal") {
            options.journalPath = value;
        } else if (name == L"--charts") {
            options.charts = splitTitles(value);
        } else if (name == L"--add" || name == L"--duplicate") {
            added.push_back(value);
        } else if (name == L"--hyphen") {
            added.push_back(hyphenChart);
        } else if (name == L"--view42s") {
            options.viewClassName = viewClassS;
        } else if (name == L"--noview") {
            options.viewClassName = nullptr;
        } else if (name == L"--active") {
            options.activeTitle = value;
        } else if (name == L"--prefix") {
            options.prefix = value;
        } else if (name == L"--caption") {
            options.fixedCaption = value;
        } else if (name == L"--caption-file") {
            std::wstring caption;
            if (!readUtf8File(value, caption)) {
                error = L"cannot read " + value;
                return false;
            }
            options.fixedCaption = caption;
        } else {
            long a = 0;
            long b = 0;
            if (!parseInt(args[i + 1], a) || !parseInt(args[i + 2], b)) {
                error = L"two whole numbers expected after " + name;
                return false;
            }
            if (name == L"--pos")
                options.pos = {a, b};
            else
                options.size = {a, b};
        }
        i += option->values;
    }
    options.charts.insert(options.charts.end(), added.begin(), added.end());
    return true;
}

// --- chart pictures -------------------------------------------------------------------------

struct Candle {
    double open, high, low, close;
};

// How far one candle of each period typically moves, so that each period looks different.
struct PeriodLook {
    const wchar_t* name;
    double step;
};
constexpr PeriodLook periodLooks[] = {
    {L"M1", 1.5},  {L"M5", 3.0},     {L"M15", 5.0},     {L"M30", 7.5},       {L"H1", 11.0},
    {L"H4", 22.0}, {L"Daily", 40.0}, {L"Weekly", 90.0}, {L"Monthly", 180.0}, {L"M417", 28.0},
};

std::wstring periodOf(const std::wstring& title) {
    const size_t comma = title.rfind(L',');
    if (comma == std::wstring::npos)
        return {};
    const size_t end = title.find(L' ', comma);
    return title.substr(comma + 1, end == std::wstring::npos ? end : end - comma - 1);
}

uint32_t hashOf(const std::wstring& text) {
    uint32_t hash = 2166136261u;
    for (wchar_t c : text)
        hash = (hash ^ static_cast<uint32_t>(c)) * 16777619u;
    return hash;
}

// A random walk seeded by the title: the same chart always shows the same candles.
std::vector<Candle> candlesFor(const std::wstring& title, size_t count) {
    uint32_t state = hashOf(title);
    auto unit = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0;
    };
    const std::wstring period = periodOf(title);
    double step = 15.0;
    for (const PeriodLook& look : periodLooks) {
        if (period == look.name)
            step = look.step;
    }
    const double drift = (unit() - 0.5) * step * 0.3;
    double price = 2800.0 + unit() * 600.0;
    std::vector<Candle> candles(count);
    for (Candle& candle : candles) {
        candle.open = price;
        candle.close = price + drift + (unit() - 0.5) * 2.0 * step;
        candle.high = std::max(candle.open, candle.close) + unit() * step * 0.7;
        candle.low = std::min(candle.open, candle.close) - unit() * step * 0.7;
        price = candle.close;
    }
    return candles;
}

void drawText(HDC dc, int x, int y, const std::wstring& text) {
    TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

std::wstring priceText(double price) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%.2f", price);
    return text;
}

constexpr COLORREF chartBackground = RGB(0, 0, 0);
constexpr COLORREF chartForeground = RGB(255, 255, 255);
constexpr COLORREF chartGrid = RGB(60, 70, 90);
constexpr COLORREF candleOutline = RGB(0, 230, 0);
constexpr COLORREF bearFill = RGB(255, 255, 255);
constexpr COLORREF lastPriceColour = RGB(120, 130, 150);
constexpr int candleSpacing = 8;
constexpr int candleBody = 5;
constexpr int axisWidth = 62;
constexpr int labelHeight = 20;
constexpr size_t seriesLength = 400;

// Where prices and candles land in the plot area.
struct ChartScale {
    RECT plot;
    double low;
    double high;

    int y(double price) const {
        return static_cast<int>(plot.bottom -
                                (price - low) / (high - low) * (plot.bottom - plot.top));
    }
    int x(size_t index) const { return plot.left + static_cast<int>(index) * candleSpacing; }
};

void drawGrid(HDC dc, const ChartScale& scale) {
    const RECT& plot = scale.plot;
    HPEN gridPen = CreatePen(PS_DOT, 1, chartGrid);
    HGDIOBJ oldPen = SelectObject(dc, gridPen);
    SetTextColor(dc, chartForeground);
    constexpr int gridLines = 6;
    for (int i = 0; i < gridLines; ++i) { // the top line would run into the title
        const double price = scale.low + (scale.high - scale.low) * i / gridLines;
        const int y = scale.y(price);
        MoveToEx(dc, plot.left, y, nullptr);
        LineTo(dc, plot.right, y);
        drawText(dc, plot.right + 6, y - 7, priceText(price));
    }
    for (int x = plot.right - candleSpacing * 12; x > plot.left; x -= candleSpacing * 16) {
        MoveToEx(dc, x, plot.top, nullptr);
        LineTo(dc, x, plot.bottom);
    }
    SelectObject(dc, oldPen);
    DeleteObject(gridPen);
}

// Hollow when the price rose, filled when it fell.
void drawCandles(HDC dc, const ChartScale& scale, const Candle* candles, size_t count) {
    HPEN outline = CreatePen(PS_SOLID, 1, candleOutline);
    HBRUSH bullBrush = CreateSolidBrush(chartBackground);
    HBRUSH bearBrush = CreateSolidBrush(bearFill);
    HGDIOBJ oldPen = SelectObject(dc, outline);
    HGDIOBJ oldBrush = SelectObject(dc, bullBrush);
    for (size_t i = 0; i < count; ++i) {
        const Candle& c = candles[i];
        const int x = scale.x(i);
        MoveToEx(dc, x + candleBody / 2, scale.y(c.high), nullptr);
        LineTo(dc, x + candleBody / 2, scale.y(c.low));
        SelectObject(dc, c.close >= c.open ? bullBrush : bearBrush);
        const int top = scale.y(std::max(c.open, c.close));
        const int bottom = std::max(scale.y(std::min(c.open, c.close)), top + 1);
        Rectangle(dc, x, top, x + candleBody, bottom + 1);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(outline);
    DeleteObject(bullBrush);
    DeleteObject(bearBrush);
}

// A line across the chart and a marked label on the price axis.
void drawLastPrice(HDC dc, const ChartScale& scale, int right, double price) {
    HPEN pen = CreatePen(PS_SOLID, 1, lastPriceColour);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    const int y = scale.y(price);
    MoveToEx(dc, scale.plot.left, y, nullptr);
    LineTo(dc, scale.plot.right, y);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    const RECT mark{scale.plot.right + 2, y - 8, right, y + 8};
    HBRUSH markBrush = CreateSolidBrush(lastPriceColour);
    FillRect(dc, &mark, markBrush);
    DeleteObject(markBrush);
    SetTextColor(dc, chartBackground);
    drawText(dc, scale.plot.right + 6, y - 7, priceText(price));
}

void paintChart(HDC dc, const RECT& area, const std::wstring& title) {
    HBRUSH background = CreateSolidBrush(chartBackground);
    FillRect(dc, &area, background);
    DeleteObject(background);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, uiFont);

    const RECT plot{area.left + 4, area.top + labelHeight, area.right - axisWidth, area.bottom - 6};
    if (plot.right - plot.left < candleSpacing * 4 || plot.bottom - plot.top < 30)
        return;
    const size_t visible =
        std::min(seriesLength, static_cast<size_t>(plot.right - plot.left) / candleSpacing);
    const std::vector<Candle> all = candlesFor(title, seriesLength);
    const Candle* first = all.data() + (all.size() - visible);
    const Candle& last = first[visible - 1];
    double low = first->low;
    double high = first->high;
    for (size_t i = 0; i < visible; ++i) {
        low = std::min(low, first[i].low);
        high = std::max(high, first[i].high);
    }
    const double margin = (high - low) * 0.05 + 0.01;
    const ChartScale scale{plot, low - margin, high + margin};

    drawGrid(dc, scale);
    drawCandles(dc, scale, first, visible);
    drawLastPrice(dc, scale, area.right, last.close);

    // The symbol and period with the last candle's prices, as the terminal shows them.
    SetTextColor(dc, chartForeground);
    drawText(dc, area.left + 4, area.top + 3,
             title.substr(0, title.find(L' ')) + L"  " + priceText(last.open) + L" " +
                 priceText(last.high) + L" " + priceText(last.low) + L" " + priceText(last.close));
}

LRESULT CALLBACK viewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // the picture covers everything
    case WM_PAINT: {
        // Drawn off screen first, so that resizing does not flicker.
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(view, &paint);
        RECT area;
        GetClientRect(view, &area);
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap =
            CreateCompatibleBitmap(dc, std::max(1L, area.right), std::max(1L, area.bottom));
        HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
        paintChart(memory, area, windowText(GetParent(view)));
        BitBlt(dc, 0, 0, area.right, area.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(memory);
        EndPaint(view, &paint);
        return 0;
    }
    }
    return DefWindowProcW(view, message, wParam, lParam);
}

// --- caption --------------------------------------------------------------------------------

void setCaption(const std::wstring& caption) {
    settingCaption = true;
    SetWindowTextW(frameWindow, caption.c_str());
    settingCaption = false;
    shownCaption = caption;
    journal("caption", journalText(caption));
}

std::wstring captionFor(const std::wstring& chartTitle, bool hasChart) {
    return hasChart ? options.prefix + L" - [" + chartTitle + L"]" : options.prefix;
}

void setStatusText(StatusPart part, const std::wstring& text) {
    SendMessageW(statusBar, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(text.c_str()));
}

// Keeps the caption on the active chart. Called after every message and whenever a chart is
// activated, since charts are also activated from outside (another program's BringWindowToTop)
// and inside modal loops. The window system's own MDI code writes the frame's caption directly
// while a chart is maximised; that is undone here too.
void keepCaption() {
    if (!started)
        return;
    const auto active = reinterpret_cast<HWND>(SendMessageW(mdiClient, WM_MDIGETACTIVE, 0, 0));
    const std::wstring title = active ? windowText(active) : std::wstring();
    if (active != shownChart || title != shownChartTitle) {
        const bool switched = active != shownChart;
        shownChart = active;
        shownChartTitle = title;
        if (switched)
            journal("activate", journalText(title));
        setStatusText(chartPart, title);
        if (!options.fixedCaption) {
            setCaption(captionFor(title, active != nullptr));
            return;
        }
    }
    if (GetWindowTextLengthW(frameWindow) != static_cast<int>(shownCaption.size()) ||
        windowText(frameWindow) != shownCaption)
        setCaption(shownCaption);
}

// --- charts ---------------------------------------------------------------------------------

LRESULT CALLBACK chartProc(HWND chart, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        if (options.viewClassName) {
            RECT area;
            GetClientRect(chart, &area);
            CreateWindowExW(
                0, options.viewClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, area.right, area.bottom,
                chart, reinterpret_cast<HMENU>(static_cast<INT_PTR>(viewId)), instance, nullptr);
        }
        break;
    case WM_SIZE:
        if (HWND view = GetDlgItem(chart, viewId))
            MoveWindow(view, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        break; // DefMDIChildProc must see WM_SIZE too
    case WM_MDIACTIVATE: {
        const LRESULT result = DefMDIChildProcW(chart, message, wParam, lParam);
        keepCaption();
        return result;
    }
    }
    return DefMDIChildProcW(chart, message, wParam, lParam);
}

// Charts start cascaded from the top left of the client area, the last created on top.
HWND createChart(const std::wstring& title, int index, int count) {
    RECT area;
    GetClientRect(mdiClient, &area);
    const int steps = std::min(count, cascadeDepth) - 1;
    const int offset = cascadeStep * (index % cascadeDepth);
    MDICREATESTRUCTW create{};
    create.szClass = chartClass;
    create.szTitle = title.c_str();
    create.hOwner = instance;
    create.x = offset;
    create.y = offset;
    create.cx = std::max(300, static_cast<int>(area.right) - cascadeStep * steps);
    create.cy = std::max(200, static_cast<int>(area.bottom) - cascadeStep * steps);
    return reinterpret_cast<HWND>(
        SendMessageW(mdiClient, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&create)));
}

void createCharts() {
    const int count = static_cast<int>(options.charts.size());
    for (int i = 0; i < count; ++i)
        createChart(options.charts[static_cast<size_t>(i)], i, count);
}

// The chart named by --active, else the daily chart, else the last one created.
void activateStartChart() {
    const std::wstring wanted = options.activeTitle.value_or(defaultActiveChart);
    HWND chosen = nullptr;
    for (HWND chart = GetWindow(mdiClient, GW_CHILD); chart;
         chart = GetWindow(chart, GW_HWNDNEXT)) {
        if (windowText(chart) == wanted)
            chosen = chart; // Z order runs from the last created: keep the first created
    }
    if (chosen)
        SendMessageW(mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(chosen), 0);
}

// --- frame ----------------------------------------------------------------------------------

// The window menu also lists the charts: the MDI client appends them.
HMENU createFrameMenu() {
    HMENU fileMenu = CreatePopupMenu();
    AppendMenuW(fileMenu, MF_STRING, exitCommand, L"退出(&X)");
    HMENU windowMenu = CreatePopupMenu();
    AppendMenuW(windowMenu, MF_STRING, cascadeCommand, L"层叠(&C)");
    AppendMenuW(windowMenu, MF_STRING, tileHorizontalCommand, L"水平平铺(&H)");
    AppendMenuW(windowMenu, MF_STRING, tileVerticalCommand, L"垂直平铺(&V)");
    AppendMenuW(windowMenu, MF_STRING, arrangeCommand, L"排列图标(&A)");
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(fileMenu), L"文件(&F)");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(windowMenu), L"窗口(&W)");
    return bar;
}

void createFrameChildren(HWND frame) {
    CLIENTCREATESTRUCT client{};
    client.hWindowMenu = GetSubMenu(GetMenu(frame), 1);
    client.idFirstChild = firstChildCommand;
    mdiClient = CreateWindowExW(WS_EX_CLIENTEDGE, L"MDICLIENT", nullptr,
                                WS_CHILD | WS_CLIPCHILDREN | WS_VSCROLL | WS_HSCROLL | WS_VISIBLE,
                                0, 0, 0, 0, frame, nullptr, instance, &client);
    statusBar =
        CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0,
                        0, 0, frame, nullptr, instance, nullptr);
    SendMessageW(statusBar, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont), FALSE);
}

void layoutFrame(HWND frame) {
    SendMessageW(statusBar, WM_SIZE, 0, 0); // the status bar places itself along the bottom
    RECT area;
    GetClientRect(frame, &area);
    RECT status;
    GetWindowRect(statusBar, &status);
    const int statusHeight = status.bottom - status.top;
    MoveWindow(mdiClient, 0, 0, area.right, std::max(0L, area.bottom - statusHeight), TRUE);

    // The help text keeps its width at the left, the refresh text and the lamp at the right, and
    // the active chart's title takes what remains.
    const int width = area.right;
    int edges[statusPartCount];
    edges[helpPart] = helpPartWidth;
    edges[refreshPart] = std::max(helpPartWidth, width - indicatorPartWidth);
    edges[chartPart] = std::max(helpPartWidth, edges[refreshPart] - refreshPartWidth);
    edges[indicatorPart] = -1;
    SendMessageW(statusBar, SB_SETPARTS, statusPartCount, reinterpret_cast<LPARAM>(edges));
    SendMessageW(statusBar, SB_SETTEXTW, indicatorPart | SBT_OWNERDRAW, 0);
}

void showIndicator(bool lit) {
    indicatorLit = lit;
    SendMessageW(statusBar, SB_SETTEXTW, indicatorPart | SBT_OWNERDRAW, 0);
}

// The indicator: a lamp that lights up for a moment with every refresh command.
void drawIndicator(const DRAWITEMSTRUCT& item) {
    const RECT& r = item.rcItem;
    const int size = std::min(10L, r.bottom - r.top - 4);
    const int top = (r.top + r.bottom - size) / 2;
    HBRUSH lamp = CreateSolidBrush(indicatorLit ? RGB(0, 220, 0) : RGB(70, 90, 70));
    HGDIOBJ oldBrush = SelectObject(item.hDC, lamp);
    HGDIOBJ oldPen = SelectObject(item.hDC, GetStockObject(BLACK_PEN));
    Ellipse(item.hDC, r.left + 6, top, r.left + 6 + size, top + size);
    SelectObject(item.hDC, oldPen);
    SelectObject(item.hDC, oldBrush);
    DeleteObject(lamp);
    SetBkMode(item.hDC, TRANSPARENT);
    SelectObject(item.hDC, uiFont);
    wchar_t text[32];
    std::swprintf(text, 32, L"%u/0 kb", refreshCount);
    TextOutW(item.hDC, r.left + 12 + size, (r.top + r.bottom) / 2 - 7, text,
             static_cast<int>(std::wcslen(text)));
}

void onRefresh() {
    ++refreshCount;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t text[80];
    std::swprintf(text, 80, L"已刷新 %u 次，最近 %02u:%02u:%02u.%03u", refreshCount, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
    setStatusText(refreshPart, text);
    showIndicator(true);
    SetTimer(frameWindow, blinkTimer, blinkMilliseconds, nullptr);
}

// Wine 8's MDI client, when it is destroyed with its charts still inside, walks a freed list of
// them and sets control IDs on whatever windows the stale handles now name, in any process
// (Talvero's controls among them). Closing the charts one by one first avoids that.
void closeTerminal() {
    while (HWND chart = GetWindow(mdiClient, GW_CHILD)) {
        SendMessageW(mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(chart), 0);
        if (IsWindow(chart))
            DestroyWindow(chart);
    }
    DestroyWindow(frameWindow);
}

// Our own menu commands are the user's; everything else but the MDI machinery's came from
// outside and goes to the journal.
bool onFrameCommand(WPARAM wParam, LPARAM lParam) {
    const WORD id = LOWORD(wParam);
    if (lParam == 0 && id >= firstMdiCommand)
        return false; // DefFrameProc activates the chosen chart
    switch (id) {
    case exitCommand:
        closeTerminal();
        return true;
    case cascadeCommand:
        SendMessageW(mdiClient, WM_MDICASCADE, 0, 0);
        return true;
    case tileHorizontalCommand:
        SendMessageW(mdiClient, WM_MDITILE, MDITILE_HORIZONTAL, 0);
        return true;
    case tileVerticalCommand:
        SendMessageW(mdiClient, WM_MDITILE, MDITILE_VERTICAL, 0);
        return true;
    case arrangeCommand:
        SendMessageW(mdiClient, WM_MDIICONARRANGE, 0, 0);
        return true;
    }
    std::string fields = std::to_string(id);
    if (HIWORD(wParam) != 0 || lParam != 0)
        fields += " code=" + std::to_string(HIWORD(wParam)) +
                  " lparam=" + hexValue(static_cast<uintptr_t>(lParam));
    journal("command", fields);
    if (id == refreshCommand)
        onRefresh();
    return true;
}

// The charts from the top of the Z order down.
void journalOrder() {
    std::string titles;
    for (HWND chart = GetWindow(mdiClient, GW_CHILD); chart;
         chart = GetWindow(chart, GW_HWNDNEXT)) {
        if (!titles.empty())
            titles += '|';
        titles += journalText(windowText(chart));
    }
    journal("order", titles);
}

void hang(DWORD milliseconds) {
    journal("hang", std::to_string(milliseconds));
    Sleep(milliseconds); // deliberately answers nothing meanwhile
    journal("hang-end");
}

LRESULT CALLBACK frameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        createFrameChildren(frame);
        return 0;
    case WM_SIZE:
        layoutFrame(frame);
        return 0; // DefFrameProc would cover the status bar with the MDI client
    case WM_SETTEXT:
        // A caption set by another program stays until the active chart changes (for good when
        // the caption is fixed), so that tests can try captions of any kind at run time.
        if (!settingCaption && started && lParam) {
            shownCaption = reinterpret_cast<const wchar_t*>(lParam);
            journal("caption", journalText(shownCaption));
        }
        // Not DefFrameProc: it cuts the text to 160 characters and appends a maximised chart.
        return DefWindowProcW(frame, message, wParam, lParam);
    case WM_COMMAND:
        if (onFrameCommand(wParam, lParam))
            return 0;
        break;
    case WM_DRAWITEM:
        if (reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem == statusBar) {
            drawIndicator(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    case WM_TIMER:
        if (wParam == blinkTimer) {
            KillTimer(frame, blinkTimer);
            showIndicator(false);
            return 0;
        }
        break;
    case hangMessage:
        hang(static_cast<DWORD>(wParam));
        return 0;
    case quitMessage:
    case WM_CLOSE:
        closeTerminal();
        return 0;
    case orderMessage:
        journalOrder();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefFrameProcW(frame, mdiClient, message, wParam, lParam);
}

// --- start-up -------------------------------------------------------------------------------

void registerClasses() {
    WNDCLASSEXW frame{};
    frame.cbSize = sizeof frame;
    frame.lpfnWndProc = frameProc;
    frame.hInstance = instance;
    frame.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    frame.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    frame.lpszClassName = frameClass;
    RegisterClassExW(&frame);

    WNDCLASSEXW chart{};
    chart.cbSize = sizeof chart;
    chart.lpfnWndProc = chartProc;
    chart.hInstance = instance;
    chart.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    chart.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    chart.lpszClassName = chartClass;
    RegisterClassExW(&chart);

    for (const wchar_t* name : {viewClass, viewClassS}) {
        WNDCLASSEXW view{};
        view.cbSize = sizeof view;
        view.style = CS_HREDRAW | CS_VREDRAW;
        view.lpfnWndProc = viewProc;
        view.hInstance = instance;
        view.hCursor = LoadCursorW(nullptr, IDC_CROSS);
        view.lpszClassName = name;
        RegisterClassExW(&view);
    }
}

void fail(const std::wstring& reason) {
    const std::string text = "termsim: " + toUtf8(reason) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

int runMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateMDISysAccel(mdiClient, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (frameWindow && IsWindow(frameWindow))
            keepCaption();
    }
    return static_cast<int>(msg.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    instance = hInstance;

    // 1. Options and journal.
    std::wstring error;
    if (!parseOptions(commandArguments(GetCommandLineW()), error)) {
        fail(error);
        return 2;
    }
    if (!options.journalPath.empty() && !openJournal(options.journalPath)) {
        fail(L"cannot open the journal " + options.journalPath);
        return 2;
    }

    // 2. Window classes, the status bar's class and a font that shows Chinese.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);
    registerClasses();
    uiFont = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_SWISS, L"Microsoft YaHei");

    // 3. The frame, hidden until its charts exist; it creates the MDI client and status bar.
    HMENU menu = createFrameMenu();
    frameWindow =
        CreateWindowExW(0, frameClass, options.fixedCaption.value_or(options.prefix).c_str(),
                        WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, options.pos.x, options.pos.y,
                        options.size.cx, options.size.cy, nullptr, menu, instance, nullptr);
    if (!frameWindow) {
        fail(L"cannot create the frame window");
        return 1;
    }
    layoutFrame(frameWindow);
    setStatusText(helpPart, L"按 F1 键获取帮助");
    setStatusText(refreshPart, L"未刷新");

    // 4. The charts, then the one to start on.
    createCharts();
    activateStartChart();

    // 5. Show, put the caption on the active chart, and tell the tests that we are ready.
    ShowWindow(frameWindow, SW_SHOWNORMAL);
    UpdateWindow(frameWindow);
    started = true;
    if (options.fixedCaption)
        setCaption(*options.fixedCaption);
    keepCaption();
    journal("start", "hwnd=" + hexHandle(frameWindow) + " mdiclient=" + hexHandle(mdiClient));

    // 6. Run until the frame is closed.
    const int exitCode = runMessageLoop();
    journal("exit");
    DeleteObject(uiFont);
    return exitCode;
}
