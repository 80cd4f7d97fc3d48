// The terminal link driven through the real window system: the period buttons and the adjustment
// check box post their commands to the stand-in stock program and raise the stand-in terminal's
// offline charts; the status timer watches the stand-in terminal, both running in their own
// processes. Talvero's main window is built in this process, as start-up builds it.
#include "testkit.h"

#include "app/dispatch.h"
#include "app/main_window.h"
#include "base/pause.h"
#include "res/resource.h"
#include "termlink/period.h"
#include "termlink/status_timer.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

using namespace testkit;

namespace {

// The message that makes the stand-in terminal journal its charts' Z order.
constexpr UINT terminalOrderMessage = WM_APP + 3;

// The title of an offline chart of the A-share symbol, in UTF-8.
std::string offlineChart(const std::string& period) {
    return "国内A股," + period + " (offline)";
}

const std::string singleChart = offlineChart("M417");

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    return parts;
}

// The milliseconds at the start of a journal line.
long journalTime(const std::string& line) {
    return std::strtol(line.c_str(), nullptr, 10);
}

HWND chartWindow(const TermSim& term, const std::string& title, HWND after = nullptr) {
    return FindWindowExA(term.mdiClient, after, nullptr, gbk(title).c_str());
}

HWND topChart(const TermSim& term) {
    return GetWindow(term.mdiClient, GW_CHILD);
}

// The charts from the top of the terminal's Z order down, as the terminal journals them once it
// has handled everything this thread posted to it before.
std::vector<std::string> chartOrder(const TermSim& term) {
    size_t before = term.journal.count("order");
    PostMessageW(term.window, terminalOrderMessage, 0, 0);
    if (!waitUntil([&] { return term.journal.count("order") > before; }))
        return {};
    std::string line = term.journal.events("order").back();
    return line.size() > 6 ? splitAt(line.substr(6), '|') : std::vector<std::string>();
}

std::string topChartTitle(const TermSim& term) {
    std::vector<std::string> order = chartOrder(term);
    return order.empty() ? "" : order.front();
}

// The commands the stock program received since the last call. A marker command posted from this
// thread arrives after everything posted before it, so when the marker is journaled the list is
// complete. Each entry is the command ID, followed by the notification code when it is not 0.
class StockCommands {
  public:
    explicit StockCommands(const StockSim& stock) : stock_(stock) {}

    std::vector<std::string> take() {
        std::string marker = std::to_string(++marker_);
        PostMessageW(stock_.window, WM_COMMAND, marker_, 0);
        std::vector<std::string> received;
        if (!waitUntil([&] { return lastCommandIs(marker); }))
            return {"marker " + marker + " never arrived"};
        std::vector<std::string> events = stock_.journal.events("command");
        for (size_t i = consumed_; i + 1 < events.size(); ++i) {
            std::vector<std::string> fields = splitAt(events[i], ' ');
            std::string entry = fields.size() > 1 ? fields[1] : events[i];
            for (const std::string& field : fields) {
                if (field.compare(0, 5, "code=") == 0)
                    entry += " " + field;
            }
            received.push_back(entry);
        }
        consumed_ = events.size();
        return received;
    }

  private:
    bool lastCommandIs(const std::string& id) const {
        std::vector<std::string> events = stock_.journal.events("command");
        if (events.empty())
            return false;
        std::vector<std::string> fields = splitAt(events.back(), ' ');
        return fields.size() > 1 && fields[1] == id;
    }

    const StockSim& stock_;
    size_t consumed_ = 0;
    int marker_ = 40000;
};

using Commands = std::vector<std::string>;

// The status icon's resource number (112, 113 or 114) told by its picture; 0 for any other.
int statusIconNumber(HICON icon) {
    static std::map<HICON, int> known;
    auto found = known.find(icon);
    if (found != known.end())
        return found->second;
    int number = 0;
    for (int candidate : {IDI_SCREENS_LIT, IDI_SCREENS_DARK, IDI_SCREEN_ONE_LIT}) {
        if (sameIcon(icon, programIcon(candidate)))
            number = candidate;
    }
    known[icon] = number;
    return number;
}

int shownIconNumber(HWND control) {
    return statusIconNumber(
        reinterpret_cast<HICON>(SendMessageW(control, STM_GETIMAGE, IMAGE_ICON, 0)));
}

// The terminal status icon's changes, recorded by a subclass of control 1022.
struct IconChange {
    DWORD at;
    int number;
};
std::vector<IconChange> iconChanges;
WNDPROC iconControlProc = nullptr;

LRESULT CALLBACK recordIconChange(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == STM_SETIMAGE && wParam == IMAGE_ICON)
        iconChanges.push_back({GetTickCount(), statusIconNumber(reinterpret_cast<HICON>(lParam))});
    return CallWindowProcW(iconControlProc, control, message, wParam, lParam);
}

std::vector<int> iconNumbers() {
    std::vector<int> numbers;
    for (const IconChange& change : iconChanges)
        numbers.push_back(change.number);
    return numbers;
}

// The tool's caption as another program reads it: GBK bytes.
std::string captionFor(const std::string& utf8ChartTitle) {
    return "Talvero   " + gbk(utf8ChartTitle);
}

// Talvero with the stand-in programs: the stock program started first, so that the start-up
// discovery records it in fxwindows.dat, and the terminal, unless a test runs without it.
class TerminalLink : public ::testing::Test {
  protected:
    void start(const std::string& terminalArguments = "", bool withTerminal = true) {
        ASSERT_TRUE(startStockSim(stock, "--minimized"));
        if (withTerminal) {
            ASSERT_TRUE(startTermSim(term, terminalArguments));
        }
        builtAt = GetTickCount();
        talvero = std::make_unique<TalveroWindow>();
        std::string file = readFile("fxwindows.dat");
        ASSERT_EQ(file.size(), 4u);
        UINT32 recorded = 0;
        std::memcpy(&recorded, file.data(), 4);
        ASSERT_EQ(recorded, static_cast<UINT32>(reinterpret_cast<UINT_PTR>(stock.window)));
    }

    HWND window() const { return talvero->window(); }

    // The user clicks the button: the toolbar turns the press and release of the mouse into the
    // WM_COMMAND that reaches the event procedure.
    void clickPeriodButton(int id) {
        HWND toolbar = talvero->control(periodToolbarId);
        RECT rect = {};
        SendMessageW(toolbar, TB_GETRECT, id, reinterpret_cast<LPARAM>(&rect));
        LPARAM centre = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        SendMessageW(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, centre);
        SendMessageW(toolbar, WM_LBUTTONUP, 0, centre);
    }

    void clickOption(int id) {
        SetForegroundWindow(window());
        SendMessageW(talvero->control(id), BM_CLICK, 0, 0);
    }

    // Brings a chart to the top as the user would, so that a later raise can be seen.
    void raiseChart(HWND chart) {
        BringWindowToTop(chart);
        ASSERT_EQ(topChart(term), chart);
    }

    // Presses each button after raising another chart, and checks the chart that comes to the
    // top and the command that the stock program receives.
    void pressEachButton(const std::function<std::string(const PeriodButton&)>& expectedChart,
                         const std::function<void(int)>& press) {
        for (const PeriodButton& button : periodButtons) {
            SCOPED_TRACE(button.id);
            std::string expected = expectedChart(button);
            std::string other =
                expected == offlineChart("M1") ? offlineChart("M5") : offlineChart("M1");
            BringWindowToTop(chartWindow(term, other));
            ASSERT_EQ(topChartTitle(term), other);

            press(button.id);
            EXPECT_EQ(topChartTitle(term), expected);
            EXPECT_EQ(topChart(term), chartWindow(term, expected));
            EXPECT_EQ(commands.take(), Commands({button.command}));
            EXPECT_EQ(periodChartTitle, gbk(expected));
            EXPECT_EQ(periodChartWindow, chartWindow(term, expected));
        }
    }

    // Ticks come only from the test from here on.
    void stopTimer() { KillTimer(window(), statusTimerId); }

    void tick() { handleStatusTimer(window(), WM_TIMER, statusTimerId, GetTickCount()); }

    void recordIcons() {
        iconChanges.clear();
        iconControlProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(talvero->control(terminalIconId), GWLP_WNDPROC,
                              reinterpret_cast<LONG_PTR>(recordIconChange)));
    }

    size_t refreshCount() const { return term.journal.events("command 33324").size(); }

    void TearDown() override {
        talvero.reset();
        iconChanges.clear();
    }

    ScratchDirectory scratch;
    StockSim stock;
    TermSim term;
    DWORD builtAt = 0;
    std::unique_ptr<TalveroWindow> talvero;
    StockCommands commands{stock};
};

using PeriodButtons = TerminalLink;
using AdjustCheck = TerminalLink;
using StatusTimer = TerminalLink;

TEST_F(PeriodButtons, BeforeAnOptionIsChosenEveryButtonRaisesTheSingleChartAndPostsItsCommand) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(controlMode.empty());
    pressEachButton([](const PeriodButton&) { return singleChart; },
                    [this](int id) { clickPeriodButton(id); });
}

TEST_F(PeriodButtons, InSingleControlEveryButtonRaisesTheSingleChartAndPostsItsCommand) {
    ASSERT_NO_FATAL_FAILURE(start());
    clickOption(singleOptionId);
    ASSERT_STREQ(controlMode.c_str(), "dan");
    // Half of the presses come as accelerators (notification code 1), which act like clicks.
    pressEachButton([](const PeriodButton&) { return singleChart; },
                    [this](int id) {
                        if (id % 2)
                            sendCommand(window(), id, 1);
                        else
                            clickPeriodButton(id);
                    });
}

TEST_F(PeriodButtons, InMultiControlEveryButtonRaisesItsOwnPeriodsChart) {
    // A chart named after the toolbar's "M60" must stay where it is: M60 means H1, M240 H4.
    ASSERT_NO_FATAL_FAILURE(
        start("--add \"" + offlineChart("M60") + "\" --add \"" + offlineChart("M240") + "\""));
    clickOption(multiOptionId);
    ASSERT_STREQ(controlMode.c_str(), "duo");
    pressEachButton([](const PeriodButton& button) { return offlineChart(button.multiPeriod); },
                    [this](int id) { clickPeriodButton(id); });
    // The nine charts raised stand above the three that never were.
    std::vector<std::string> order = chartOrder(term);
    ASSERT_EQ(order.size(), 12u);
    std::vector<std::string> neverRaised(order.begin() + 9, order.end());
    std::sort(neverRaised.begin(), neverRaised.end());
    EXPECT_EQ(neverRaised, std::vector<std::string>(
                               {offlineChart("M240"), offlineChart("M417"), offlineChart("M60")}));
}

TEST_F(PeriodButtons, OtherNotificationCodesNeitherPostNorRaiseNorStore) {
    ASSERT_NO_FATAL_FAILURE(start());
    clickOption(multiOptionId);
    clickPeriodButton(1003);
    ASSERT_EQ(commands.take(), Commands({"32874"}));
    HWND m5Chart = chartWindow(term, offlineChart("M5"));
    ASSERT_EQ(periodChartWindow, m5Chart);
    // In single control an accepted press would store and raise the single chart.
    clickOption(singleOptionId);
    ASSERT_NO_FATAL_FAILURE(raiseChart(chartWindow(term, offlineChart("Weekly"))));

    for (int code : {2, 5, BN_SETFOCUS, 0x8000}) {
        for (const PeriodButton& button : periodButtons)
            sendCommand(window(), button.id, code);
    }
    EXPECT_EQ(topChartTitle(term), offlineChart("Weekly"));
    EXPECT_EQ(commands.take(), Commands());
    EXPECT_EQ(periodChartTitle, gbk(offlineChart("M5")));
    EXPECT_EQ(periodChartWindow, m5Chart);
}

TEST_F(PeriodButtons, AMissingChartRaisesNothingButTheCommandIsStillPosted) {
    // Near misses of the single chart's title: no space before "(offline)", a full-width comma.
    ASSERT_NO_FATAL_FAILURE(start(
        "--charts \"国内A股,M417(offline)|国内A股，M417 (offline)|国内A股,Daily (offline)\""));
    ASSERT_NO_FATAL_FAILURE(raiseChart(chartWindow(term, "国内A股,M417(offline)")));
    clickPeriodButton(1004);
    EXPECT_EQ(commands.take(), Commands({"32875"}));
    EXPECT_EQ(topChartTitle(term), "国内A股,M417(offline)");
    EXPECT_EQ(periodChartTitle, gbk(singleChart));
    EXPECT_EQ(periodChartWindow, nullptr);
}

TEST_F(PeriodButtons, WithoutATerminalTheCommandsAreStillPosted) {
    ASSERT_NO_FATAL_FAILURE(start("", false));
    EXPECT_EQ(terminalWindow, nullptr);
    EXPECT_EQ(shownIconNumber(talvero->control(terminalIconId)), IDI_SCREENS_DARK);
    clickPeriodButton(1002);
    EXPECT_EQ(commands.take(), Commands({"32873"}));
    EXPECT_EQ(periodChartWindow, nullptr);
    clickOption(multiOptionId);
    clickPeriodButton(1008);
    EXPECT_EQ(commands.take(), Commands({"32878"}));
    EXPECT_EQ(periodChartTitle, gbk(offlineChart("Daily")));
    EXPECT_EQ(periodChartWindow, nullptr);
}

TEST_F(PeriodButtons, OfTwoChartsWithOneTitleTheTopmostIsRaised) {
    ASSERT_NO_FATAL_FAILURE(start("--duplicate \"" + singleChart + "\""));
    HWND first = chartWindow(term, singleChart);
    HWND second = chartWindow(term, singleChart, first);
    ASSERT_NE(second, nullptr);
    HWND daily = chartWindow(term, offlineChart("Daily"));
    // Whichever of the two stands higher is the one raised, not the one created first.
    for (HWND higher : {first, second}) {
        ASSERT_NO_FATAL_FAILURE(raiseChart(higher == first ? second : first));
        ASSERT_NO_FATAL_FAILURE(raiseChart(higher));
        ASSERT_NO_FATAL_FAILURE(raiseChart(daily));
        clickPeriodButton(1005);
        EXPECT_EQ(topChartTitle(term), singleChart);
        EXPECT_EQ(topChart(term), higher);
        EXPECT_EQ(periodChartWindow, higher);
        EXPECT_EQ(commands.take(), Commands({"32876"}));
    }
}

TEST_F(PeriodButtons, SwitchingTheModeRaisesNothingUntilTheNextPress) {
    ASSERT_NO_FATAL_FAILURE(start());
    clickOption(singleOptionId);
    clickPeriodButton(1002);
    ASSERT_EQ(topChartTitle(term), singleChart);
    HWND weekly = chartWindow(term, offlineChart("Weekly"));

    ASSERT_NO_FATAL_FAILURE(raiseChart(weekly));
    clickOption(multiOptionId);
    ASSERT_STREQ(controlMode.c_str(), "duo");
    EXPECT_EQ(topChartTitle(term), offlineChart("Weekly"));
    EXPECT_EQ(periodChartTitle, gbk(singleChart));
    clickPeriodButton(1002);
    EXPECT_EQ(topChartTitle(term), offlineChart("M1"));

    ASSERT_NO_FATAL_FAILURE(raiseChart(weekly));
    clickOption(singleOptionId);
    ASSERT_STREQ(controlMode.c_str(), "dan");
    EXPECT_EQ(topChartTitle(term), offlineChart("Weekly"));
    EXPECT_EQ(periodChartTitle, gbk(offlineChart("M1")));
    clickPeriodButton(1003);
    EXPECT_EQ(topChartTitle(term), singleChart);

    EXPECT_EQ(commands.take(), Commands({"32873", "32873", "32874"})) << "the options post nothing";
}

TEST_F(AdjustCheck, CheckingAndUncheckingEachPostTheSamePairInOrder) {
    ASSERT_NO_FATAL_FAILURE(start());
    HWND box = talvero->control(adjustCheckId);
    SetForegroundWindow(window());
    SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(adjustCheckState, 1);
    SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(adjustCheckState, 0);
    EXPECT_EQ(commands.take(), Commands({"32806", "33052", "32806", "33052"}));

    // An accelerator reads the box as it stands and posts the pair too.
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    sendCommand(window(), adjustCheckId, 1);
    EXPECT_EQ(adjustCheckState, 1);
    EXPECT_EQ(commands.take(), Commands({"32806", "33052"}));
}

TEST_F(AdjustCheck, OtherNotificationCodesNeitherReadTheBoxNorPost) {
    ASSERT_NO_FATAL_FAILURE(start());
    SendMessageW(talvero->control(adjustCheckId), BM_SETCHECK, BST_CHECKED, 0);
    for (int code : {2, 5, BN_SETFOCUS, BN_KILLFOCUS})
        sendCommand(window(), adjustCheckId, code);
    EXPECT_EQ(adjustCheckState, 0);
    EXPECT_EQ(commands.take(), Commands());
}

TEST_F(StatusTimer, TheFirstTickShowsTheActiveChartInTheCaptionAndEveryTickRewritesIt) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(windowTextAnsi(window()), "Talvero");
    EXPECT_TRUE(activeChartTitle.empty());
    std::string daily = captionFor(offlineChart("Daily"));
    ASSERT_TRUE(waitUntil([&] { return windowTextAnsi(window()) == daily; }, 4000));
    DWORD firstTick = GetTickCount() - builtAt;
    EXPECT_GE(firstTick, 1900u) << "the first tick comes one interval after the start";
    EXPECT_LE(firstTick, 3500u);
    EXPECT_EQ(terminalWindow, term.window);

    // The user brings another chart forward; the terminal's caption follows it, and so, at the
    // next tick, does the tool's.
    BringWindowToTop(chartWindow(term, offlineChart("H4")));
    ASSERT_FALSE(term.journal.waitFor("activate " + offlineChart("H4")).empty());
    EXPECT_TRUE(waitUntil(
        [&] { return windowTextAnsi(window()) == captionFor(offlineChart("H4")); }, 3000));

    // The caption is written on every tick, even when the chart did not change.
    SetWindowTextW(window(), L"Talvero");
    EXPECT_TRUE(waitUntil(
        [&] { return windowTextAnsi(window()) == captionFor(offlineChart("H4")); }, 3000));
}

TEST_F(StatusTimer, PostsTheRefreshCommandToTheTerminalEveryTwoSeconds) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(waitUntil([&] { return refreshCount() >= 4; }, 11000));
    std::vector<long> times;
    for (const std::string& line : term.journal.lines()) {
        if (line.find(" command ") != std::string::npos) {
            EXPECT_EQ(line.substr(line.find(' ') + 1), "command 33324")
                << "posted as a menu command";
            times.push_back(journalTime(line));
        }
    }
    for (size_t i = 1; i < times.size(); ++i) {
        // Generous: the machines are shared, and the terminal journals when it gets round to it.
        EXPECT_GE(times[i] - times[i - 1], 1500) << i;
        EXPECT_LE(times[i] - times[i - 1], 2800) << i;
    }
}

TEST_F(StatusTimer, AFoundChartViewBlinksTheIconFromLitThroughDarkToOneLit) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(shownIconNumber(talvero->control(terminalIconId)), IDI_SCREENS_LIT)
        << "start-up found the terminal";
    recordIcons();
    ASSERT_TRUE(waitUntil([] { return !iconChanges.empty(); }, 4000));
    ASSERT_EQ(iconNumbers(),
              std::vector<int>({IDI_SCREENS_LIT, IDI_SCREENS_DARK, IDI_SCREEN_ONE_LIT}));
    // Lit for 200 ms, dark for 100 ms; the bounds leave room for a busy machine.
    EXPECT_GE(iconChanges[1].at - iconChanges[0].at, 190u);
    EXPECT_LT(iconChanges[1].at - iconChanges[0].at, 600u);
    EXPECT_GE(iconChanges[2].at - iconChanges[1].at, 90u);
    EXPECT_LT(iconChanges[2].at - iconChanges[1].at, 500u);
    EXPECT_EQ(shownIconNumber(talvero->control(terminalIconId)), IDI_SCREEN_ONE_LIT);
    HWND daily = chartWindow(term, offlineChart("Daily"));
    EXPECT_EQ(activeChartWindow, daily);
    EXPECT_EQ(activeChartView, FindWindowExA(daily, nullptr, "AfxFrameOrView42", nullptr));
    EXPECT_NE(activeChartView, nullptr);
}

TEST_F(StatusTimer, AViewOfTheSecondClassAlsoBlinks) {
    ASSERT_NO_FATAL_FAILURE(start("--view42s"));
    stopTimer();
    recordIcons();
    tick();
    EXPECT_EQ(iconNumbers(),
              std::vector<int>({IDI_SCREENS_LIT, IDI_SCREENS_DARK, IDI_SCREEN_ONE_LIT}));
    ASSERT_NE(activeChartView, nullptr);
    EXPECT_EQ(className(activeChartView), "AfxFrameOrView42s");
    EXPECT_EQ(GetParent(activeChartView), chartWindow(term, offlineChart("Daily")));
}

TEST_F(StatusTimer, AChartWithoutAViewShowsTheDarkIconAndTheTerminalIsStillRefreshed) {
    ASSERT_NO_FATAL_FAILURE(start("--noview"));
    stopTimer();
    recordIcons();
    tick();
    EXPECT_EQ(iconNumbers(), std::vector<int>({IDI_SCREENS_DARK}));
    EXPECT_EQ(activeChartWindow, chartWindow(term, offlineChart("Daily")));
    EXPECT_EQ(activeChartView, nullptr);
    EXPECT_EQ(windowTextAnsi(window()), captionFor(offlineChart("Daily")));
    chartOrder(term);
    EXPECT_EQ(refreshCount(), 1u);
}

TEST_F(StatusTimer, AHyphenInTheSymbolSplitsItSoTheChartIsNotFound) {
    ASSERT_NO_FATAL_FAILURE(start("--hyphen --active \"BTC-USD,H1\""));
    stopTimer();
    recordIcons();
    tick();
    EXPECT_STREQ(activeChartTitle.c_str(), "USD,H1");
    EXPECT_EQ(windowTextAnsi(window()), "Talvero   USD,H1");
    EXPECT_EQ(activeChartWindow, nullptr);
    EXPECT_EQ(activeChartView, nullptr);
    EXPECT_EQ(iconNumbers(), std::vector<int>({IDI_SCREENS_DARK}));
    chartOrder(term);
    EXPECT_EQ(refreshCount(), 1u);
}

TEST_F(StatusTimer, ALongCaptionIsReadWholeAndTheChartTitleMatchesWhateverItsCase) {
    // Far longer than any fixed buffer, with hyphens and commas in the part before the chart.
    std::string prefix;
    for (int i = 0; i < 300; ++i)
        prefix += "Srv-" + std::to_string(i) + ", ";
    std::string caption = prefix + " - [国内a股,daily (OFFLINE)]";
    writeFile("caption.txt", caption);
    ASSERT_NO_FATAL_FAILURE(start("--caption-file \"" + scratch.path() + "\\caption.txt\""));
    ASSERT_EQ(windowTextAnsi(term.window), gbk(caption));
    stopTimer();
    recordIcons();
    tick();
    EXPECT_EQ(activeChartTitle.c_str(), gbk("国内a股,daily (OFFLINE)"));
    EXPECT_EQ(windowTextAnsi(window()), captionFor("国内a股,daily (OFFLINE)"));
    EXPECT_EQ(activeChartWindow, chartWindow(term, offlineChart("Daily")));
    EXPECT_EQ(iconNumbers(),
              std::vector<int>({IDI_SCREENS_LIT, IDI_SCREENS_DARK, IDI_SCREEN_ONE_LIT}));
}

TEST_F(StatusTimer, OfTwoChartsWithTheActiveTitleTheTopmostIsWatched) {
    ASSERT_NO_FATAL_FAILURE(start("--duplicate \"" + offlineChart("Daily") + "\""));
    stopTimer();
    HWND first = chartWindow(term, offlineChart("Daily"));
    HWND second = chartWindow(term, offlineChart("Daily"), first);
    ASSERT_NE(second, nullptr);
    for (HWND higher : {second, first}) {
        ASSERT_NO_FATAL_FAILURE(raiseChart(higher));
        tick();
        EXPECT_EQ(activeChartWindow, higher);
        EXPECT_EQ(GetParent(activeChartView), higher);
    }
}

TEST_F(StatusTimer, OnlyTimerMessagesMakeATick) {
    ASSERT_NO_FATAL_FAILURE(start());
    stopTimer();
    recordIcons();
    handleStatusTimer(window(), WM_USER, statusTimerId, GetTickCount());
    handleStatusTimer(window(), WM_COMMAND, statusTimerId, GetTickCount());
    EXPECT_EQ(windowTextAnsi(window()), "Talvero");
    EXPECT_TRUE(iconChanges.empty());
    chartOrder(term);
    EXPECT_EQ(refreshCount(), 0u);
}

TEST_F(StatusTimer, AClosedTerminalIsLostAtTheNextTickAndARestartedOneFound) {
    ASSERT_NO_FATAL_FAILURE(start());
    recordIcons();
    ASSERT_TRUE(waitUntil([] { return !iconChanges.empty(); }, 4000));
    ASSERT_EQ(terminalWindow, term.window);

    // The terminal's process ends; to the tool that looks the same as a close: the window is
    // gone. A close through the terminal's own window is not used under Wine 8: its MDI client
    // frees its list of charts on WM_DESTROY, then walks the freed list as each chart is
    // destroyed and sets GWLP_ID on whatever windows the stale values name, in any process.
    // Talvero's toolbar and code box were seen renumbered 0xFF08 and 0xFF07 that way, so the
    // controls could no longer be found by their IDs. Windows has no such fault.
    term.program.kill();
    iconChanges.clear();
    ASSERT_TRUE(waitUntil([] { return !iconChanges.empty(); }, 3000));
    EXPECT_EQ(terminalWindow, nullptr);
    EXPECT_EQ(windowTextAnsi(window()), "Talvero   ,");
    EXPECT_EQ(iconNumbers(), std::vector<int>({IDI_SCREENS_DARK}));
    // The period buttons work on the terminal of the last tick: none, yet they still post.
    clickPeriodButton(1006);
    EXPECT_EQ(commands.take(), Commands({"32877"}));
    EXPECT_EQ(periodChartWindow, nullptr);

    ASSERT_TRUE(startTermSim(term));
    iconChanges.clear();
    ASSERT_TRUE(waitUntil([] { return !iconChanges.empty(); }, 3000));
    EXPECT_EQ(terminalWindow, term.window);
    EXPECT_EQ(windowTextAnsi(window()), captionFor(offlineChart("Daily")));
    EXPECT_EQ(iconNumbers(),
              std::vector<int>({IDI_SCREENS_LIT, IDI_SCREENS_DARK, IDI_SCREEN_ONE_LIT}));
    clickPeriodButton(1006);
    EXPECT_EQ(topChartTitle(term), singleChart);
}

// Replaces the blink's sleeps for thousands of ticks, and puts the sleep back afterwards.
class NoPauses {
  public:
    NoPauses() : saved_(pauseHook) {
        pauseHook = [](unsigned) {};
    }
    ~NoPauses() { pauseHook = saved_; }

  private:
    PauseHook saved_;
};

TEST_F(StatusTimer, TenThousandBlinkingTicksKeepTheSameIconHandles) {
    ASSERT_NO_FATAL_FAILURE(start());
    stopTimer();
    // Hidden, so that ten thousand captions and icons are not drawn: what a tick loads and sets
    // is the same, and drawing a static control's icon creates no icon of ours.
    ShowWindow(window(), SW_HIDE);
    NoPauses noPauses;
    tick();
    ASSERT_NE(activeChartView, nullptr) << "every tick sets the icon three times";
    // Wine shows the very handles; Windows only counts them.
    auto held = [] { return onWine() ? liveIcons() : std::vector<UINT_PTR>{userObjects()}; };
    std::vector<UINT_PTR> afterFirst = held();
    for (int i = 1; i < 10000; ++i)
        tick();
    std::vector<UINT_PTR> afterAll = held();
    EXPECT_EQ(afterAll.size(), afterFirst.size());
    EXPECT_EQ(afterAll, afterFirst);
    EXPECT_EQ(shownIconNumber(talvero->control(terminalIconId)), IDI_SCREEN_ONE_LIT);
}

} // namespace
