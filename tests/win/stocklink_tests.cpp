// The stock-program link driven through the real window system: the start-up search that finds
// the stock program's main window and records it in fxwindows.dat, and the query that types a
// code into the stand-in stock program's keyboard wizard and keeps DAIMA.DAT.
#include "testkit.h"

#include "app/balloon.h"
#include "app/dispatch.h"
#include "app/main_window.h"
#include "base/pause.h"
#include "res/resource.h"
#include "stocklink/input_method.h"
#include "stocklink/query.h"
#include "stocklink/rights.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

using namespace testkit;

namespace {

constexpr char title1[] = "飞狐交易师 - 缠友版";
constexpr char title2[] = "股道黄金版 - 普及版";
constexpr char handleFile[] = "fxwindows.dat";
constexpr char recentFile[] = "DAIMA.DAT";
constexpr char recentTempFile[] = "DAIMA.DAT.new";
constexpr char refusalText[] = "对不起，您输入的代码超过6位，请重新输入!";

// DAIMA.DAT as the query writes it: each entry quoted, each line ended by CR LF.
std::string recentLines(const std::vector<std::string>& entries) {
    std::string bytes;
    for (const std::string& entry : entries)
        bytes += "\"" + gbk(entry) + "\"\r\n";
    return bytes;
}

bool showsStockFound(const TalveroWindow& talvero) {
    return sameIcon(iconOf(talvero.control(stockIconId)), programIcon(IDI_SCREENS_LIT));
}

bool showsStockNotFound(const TalveroWindow& talvero) {
    return sameIcon(iconOf(talvero.control(stockIconId)), programIcon(IDI_SCREENS_DARK));
}

BOOL CALLBACK collectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Every window below the desktop in the order the start-up search meets them.
std::vector<HWND> enumerationOrder() {
    std::vector<HWND> windows;
    EnumChildWindows(GetDesktopWindow(), collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The top-level windows in Z order, the most recently raised first.
std::vector<HWND> topLevelOrder() {
    std::vector<HWND> windows;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool comesBefore(const std::vector<HWND>& order, HWND first, HWND second) {
    auto a = std::find(order.begin(), order.end(), first);
    auto b = std::find(order.begin(), order.end(), second);
    return a != order.end() && b != order.end() && a < b;
}

// The key events a stand-in took, in order, as "down N" and "up N".
std::vector<std::string> keyEvents(const Journal& journal) {
    std::vector<std::string> keys;
    for (const std::string& line : journal.lines()) {
        size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        std::string rest = line.substr(space + 1);
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

// Each key pressed and released, in order.
std::vector<std::string> pressed(const std::vector<int>& keys) {
    std::vector<std::string> events;
    for (int key : keys) {
        events.push_back("down " + std::to_string(key));
        events.push_back("up " + std::to_string(key));
    }
    return events;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The position of the last journal line holding the text; the line count when there is none.
size_t lastLineIndex(const Journal& journal, const std::string& text) {
    std::vector<std::string> lines = journal.lines();
    for (size_t i = lines.size(); i-- > 0;) {
        if (lines[i].find(text) != std::string::npos)
            return i;
    }
    return lines.size();
}

// Opens the stand-in's keyboard wizard with a key posted to it, as if the user had typed there;
// a real key would need the stand-in to be active.
void openWizard(const StockSim& sim) {
    PostMessageW(sim.window, WM_KEYDOWN, '1', 1);
    PostMessageW(sim.window, WM_KEYUP, '1', 0xC0000001);
}

// The pauses of one query, recorded and slept as they would be.
std::vector<unsigned> pausesSeen;

void recordPause(unsigned milliseconds) {
    pausesSeen.push_back(milliseconds);
    Sleep(milliseconds);
}

struct PauseHookScope {
    explicit PauseHookScope(PauseHook hook) { pauseHook = hook; }
    ~PauseHookScope() { pauseHook = nullptr; }
};

BOOL CALLBACK findShownBalloon(HWND window, LPARAM found) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    if (_wcsicmp(name, L"tooltips_class32") != 0 || !IsWindowVisible(window) ||
        GetWindowTextLengthW(window) == 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The text of the notice balloon while it is shown, else empty.
std::string balloonText() {
    HWND balloon = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findShownBalloon, reinterpret_cast<LPARAM>(&balloon));
    return balloon ? windowTextAnsi(balloon) : std::string();
}

// The sentence of each way a query can show nothing.
const std::map<QueryOutcome, std::string> outcomeTexts = {
    {QueryOutcome::noStockProgram, "没有找到行情软件，请先启动飞狐交易师或股道。"},
    {QueryOutcome::noLettersOrDigits, "股票代码由数字和字母组成，请重新输入。"},
    {QueryOutcome::notInFront, "行情软件没有来到前台，代码没有输入。"},
    {QueryOutcome::noWizard, "行情软件的键盘精灵没有打开，代码没有输入。"},
    {QueryOutcome::stillTakingKeys, "行情软件还在处理按键，代码没有发送，请稍后再查询。"},
    {QueryOutcome::higherRights, "行情软件以管理员身份运行，Talvero 无法控制它。请以管理员身份"
                                 "运行 Talvero，或以普通方式启动行情软件。"},
};

} // namespace

TEST(StockDiscovery, TakesAWindowTitledWithEitherTitleAndRecordsItsHandleInFourBytes) {
    for (const char* option : {"1", "2"}) {
        SCOPED_TRACE(option);
        ScratchDirectory scratch;
        StockSim stock;
        ASSERT_TRUE(startStockSim(stock, std::string("--title ") + option));
        ASSERT_EQ(windowTextAnsi(stock.window), gbk(option[0] == '1' ? title1 : title2));
        ASSERT_FALSE(fileExists(handleFile));
        TalveroWindow talvero(false);
        EXPECT_TRUE(showsStockFound(talvero));
        EXPECT_FALSE(showsStockNotFound(talvero));
        EXPECT_EQ(readFile(handleFile), handleBytes(stock.window))
            << "created with exactly 4 bytes";
    }
}

TEST(StockDiscovery, TakesATitleThatContainsATitleAmongOtherText) {
    for (const char* arguments : {"--title 1 --suffix \" - 600000 东海银行\"",
                                  "--exact-title \"行情 股道黄金版 - 普及版 日线\""}) {
        SCOPED_TRACE(arguments);
        ScratchDirectory scratch;
        StockSim stock;
        ASSERT_TRUE(startStockSim(stock, arguments));
        TalveroWindow talvero(false);
        EXPECT_TRUE(showsStockFound(talvero));
        EXPECT_EQ(readFile(handleFile), handleBytes(stock.window));
    }
}

TEST(StockDiscovery, PassesOverNearMissTitlesAndThenLeavesAMissingFileMissing) {
    ScratchDirectory scratch;
    // A full-width hyphen, no spaces around the hyphen, and the other title likewise squeezed.
    const char* nearMisses[] = {"股道黄金版－普及版", "股道黄金版-普及版", "飞狐交易师-缠友版"};
    std::vector<StockSim> stocks(std::size(nearMisses));
    for (size_t i = 0; i < stocks.size(); ++i) {
        ASSERT_TRUE(startStockSim(stocks[i], std::string("--exact-title \"") + nearMisses[i] + "\"",
                                  "stocksim" + std::to_string(i)));
        ASSERT_EQ(windowTextAnsi(stocks[i].window), gbk(nearMisses[i]));
    }
    TalveroWindow talvero(false);
    EXPECT_TRUE(showsStockNotFound(talvero));
    EXPECT_FALSE(fileExists(handleFile));
}

TEST(StockDiscovery, WithoutAMatchKeepsTheHandleOfAnEarlierRun) {
    ScratchDirectory scratch;
    const std::string earlier("\x78\x56\x34\x12\x01\x02", 6);
    writeFile(handleFile, earlier);
    TalveroWindow talvero(false);
    EXPECT_TRUE(showsStockNotFound(talvero));
    EXPECT_EQ(readFile(handleFile), earlier);
}

TEST(StockDiscovery, ReplacesOnlyTheFirstFourBytesOfALongerFile) {
    ScratchDirectory scratch;
    writeFile(handleFile, "ABCDEFGHIJ");
    StockSim stock;
    ASSERT_TRUE(startStockSim(stock));
    TalveroWindow talvero(false);
    EXPECT_EQ(readFile(handleFile), handleBytes(stock.window) + "EFGHIJ");
}

TEST(StockDiscovery, TakesWhicheverStockProgramComesFirstInZOrderWhateverItsTitle) {
    ScratchDirectory scratch;
    StockSim first, second;
    ASSERT_TRUE(startStockSim(first, "--title 1", "stocksim1"));
    ASSERT_TRUE(startStockSim(second, "--title 2", "stocksim2"));
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(second.window) != FALSE; }));

    // The order of the moment decides; then the other one is raised and must win in turn.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::vector<HWND> order = topLevelOrder();
        ASSERT_TRUE(comesBefore(order, first.window, second.window) ||
                    comesBefore(order, second.window, first.window));
        HWND ahead = comesBefore(order, first.window, second.window) ? first.window : second.window;
        HWND behind = ahead == first.window ? second.window : first.window;
        {
            TalveroWindow talvero(false);
            EXPECT_TRUE(showsStockFound(talvero));
        }
        EXPECT_EQ(readFile(handleFile), handleBytes(ahead));

        BringWindowToTop(behind);
        ASSERT_TRUE(waitUntil([&] { return comesBefore(topLevelOrder(), behind, ahead); }));
    }
}

namespace {

// Counts how often a window's text is asked for.
LONG textReads = 0;
WNDPROC staticProc = nullptr;

LRESULT CALLBACK countTextReads(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETTEXT || message == WM_GETTEXTLENGTH)
        ++textReads;
    return CallWindowProcW(staticProc, window, message, wParam, lParam);
}

HWND createStatic(const char* text, DWORD style, HWND parent) {
    return CreateWindowExW(0, L"STATIC", wide(text).c_str(), style, 0, 0, 200, 20, parent, nullptr,
                           nullptr, nullptr);
}

// A window of this process that must not outlive the test, or it would be found by later ones.
struct WindowDestroyer {
    void operator()(HWND__* window) const { DestroyWindow(window); }
};
using OwnedWindow = std::unique_ptr<HWND__, WindowDestroyer>;

} // namespace

TEST(StockDiscovery, TakesAChildWindowAtAnyDepthMetBeforeTheStockProgramAndReadsNoWindowAfter) {
    ScratchDirectory scratch;
    StockSim stock;
    ASSERT_TRUE(startStockSim(stock));
    // A window of some other program with the title in a label two levels down, and a window that
    // comes after that label.
    OwnedWindow container(createStatic("quotes", WS_POPUP, nullptr));
    HWND panel = createStatic("", WS_CHILD, container.get());
    HWND label = createStatic("行情 股道黄金版 - 普及版", WS_CHILD, panel);
    HWND after = createStatic("after", WS_CHILD, container.get());
    staticProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(after, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countTextReads)));
    std::vector<HWND> order = enumerationOrder();
    ASSERT_TRUE(comesBefore(order, label, stock.window));
    ASSERT_TRUE(comesBefore(order, label, after));

    textReads = 0;
    {
        TalveroWindow talvero(false);
        EXPECT_TRUE(showsStockFound(talvero));
    }
    EXPECT_EQ(readFile(handleFile), handleBytes(label));
    EXPECT_EQ(textReads, 0) << "the search stops at the first match";

    // The counter does see a read: the window is met when nothing before it matches.
    DestroyWindow(label);
    stock.program.kill();
    TalveroWindow talvero(false);
    EXPECT_GT(textReads, 0);
}

class Query : public ::testing::Test {
  protected:
    void TearDown() override {
        messageBoxes.stop();
        EXPECT_EQ(messageBoxes.boxes().size(), refusalsExpected) << "an unexpected message box";
    }

    // The stand-in first, so that Talvero's start-up finds it; DAIMA.DAT is read at start-up too.
    void startWithStockProgram() {
        ASSERT_TRUE(startStockSim(stock));
        talvero = std::make_unique<TalveroWindow>();
        ASSERT_EQ(readFile(handleFile), handleBytes(stock.window));
    }

    // One case of a table: the stand-in with the case's options, no DAIMA.DAT left by the case
    // before, and Talvero started after the stand-in.
    void startCase(StockSim& sim, const std::string& options, const std::string& name) {
        ASSERT_TRUE(startStockSim(sim, options, name));
        DeleteFileA(recentFile);
        talvero = std::make_unique<TalveroWindow>();
    }

    HWND window() const { return talvero->window(); }
    HWND combo() const { return talvero->control(codeComboId); }
    std::vector<std::string> list() const { return comboItems(combo()); }

    // A user's click on the query button comes to an active Talvero. Wine learns of focus changes
    // from the X server too, and a focus event for Talvero or the stand-in that is handled late
    // can move the activation again (to the desktop, or back to the stand-in). So Talvero is
    // activated, as the user's click would do, until it has stayed active for a moment.
    void activateTalvero() {
        DWORD since = GetTickCount();
        EXPECT_TRUE(waitUntil([&] {
            if (GetForegroundWindow() != window()) {
                SetForegroundWindow(window());
                since = GetTickCount();
            }
            return GetTickCount() - since >= 30;
        })) << "foreground "
            << GetForegroundWindow();
    }

    // Types the code into the code box and presses the query button; the query's pauses go
    // through the hook when one is given.
    void query(const std::string& code, int notificationCode = 0, PauseHook pauses = nullptr) {
        activateTalvero();
        SetWindowTextW(combo(), wide(code).c_str());
        PauseHookScope hook(pauses);
        sendCommand(window(), queryButtonId, notificationCode);
    }

    // Queries a code that is refused with the message box, which the guard dismisses.
    void queryRefused(const std::string& code) {
        size_t before = messageBoxes.boxes().size();
        ++refusalsExpected;
        query(code);
        // The query has gone on once the box was gone; the guard notes it right after.
        ASSERT_TRUE(waitUntil([&] { return messageBoxes.boxes().size() > before; }))
            << "no message box for " << code;
        std::vector<MessageBoxGuard::Box> boxes = messageBoxes.boxes();
        ASSERT_EQ(boxes.size(), before + 1);
        EXPECT_EQ(boxes.back().title, programTitle);
        EXPECT_EQ(boxes.back().text, gbk(refusalText));
        EXPECT_TRUE(boxes.back().othersDisabled) << "the box is task-modal";
        EXPECT_TRUE(boxes.back().dismissedByClick);
    }

    // Waits until the stand-in has taken every key event expected and Enter has shown the code.
    void waitForShown(const StockSim& sim, const std::vector<std::string>& keys,
                      const std::string& code, size_t times = 1) {
        EXPECT_TRUE(waitUntil([&] {
            std::vector<std::string> shown = sim.journal.events("show");
            return keyEvents(sim.journal) == keys &&
                   static_cast<size_t>(std::count(shown.begin(), shown.end(), "show " + code)) ==
                       times;
        })) << "journal: "
            << ::testing::PrintToString(sim.journal.lines());
    }

    ScratchDirectory scratch;
    MessageBoxGuard messageBoxes;
    size_t refusalsExpected = 0;
    StockSim stock;
    std::unique_ptr<TalveroWindow> talvero;
};

TEST_F(Query, TypesTheCodeInUpperCaseKeysThenSetsItAsEnteredAndPressesEnter) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    struct Case {
        const char* code;
        std::vector<int> keys;
    };
    const Case cases[] = {{"sh6000", {83, 72, 54, 48, 48, 48}},
                          {"1a0001", {49, 65, 48, 48, 48, 49}}};
    std::vector<std::string> keysSoFar;
    std::vector<std::string> setTexts;
    size_t shown = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        query(c.code);
        keysSoFar = concat(keysSoFar, concat(pressed(c.keys), pressed({VK_RETURN})));
        waitForShown(stock, keysSoFar, c.code);
        ++shown;
        EXPECT_EQ(stock.journal.count("show"), shown);
        // The exact code replaced what the keys put into the field before Enter was pressed.
        std::string setText = std::string("settext ") + c.code;
        setTexts.push_back(setText);
        EXPECT_EQ(stock.journal.events("settext"), setTexts);
        EXPECT_LT(lastLineIndex(stock.journal, setText),
                  lastLineIndex(stock.journal, "keydown vk=13"));
        ASSERT_TRUE(waitUntil([&] { return stock.journal.count("wizard close") == shown; }));
    }
}

TEST_F(Query, TrimsTheSpacesForTheStockProgramButKeepsThemInTheListAndTheFile) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    query(" 600000 ");
    waitForShown(stock, pressed({54, 48, 48, 48, 48, 48, VK_RETURN}), "600000");
    EXPECT_EQ(stock.journal.events("settext"), std::vector<std::string>({"settext 600000"}));
    EXPECT_EQ(list(), std::vector<std::string>({" 600000 ", "1A0001"}));
    EXPECT_EQ(readFile(recentFile), recentLines({" 600000 ", "1A0001"}));
}

TEST_F(Query, RefusesACodeOfSevenBytesWithoutTypingOrSavingButKeepsItInTheList) {
    writeFile(recentFile, "\"600036\"\r\n");
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    ASSERT_NO_FATAL_FAILURE(queryRefused("6000001"));
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001", "6000001", "600036"}));
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
    EXPECT_FALSE(fileExists(recentTempFile));

    // The next completed query shows that nothing was typed before it, and saves the refused code.
    query("600000");
    waitForShown(stock, pressed({54, 48, 48, 48, 48, 48, VK_RETURN}), "600000");
    EXPECT_EQ(readFile(recentFile), recentLines({"1A0001", "600000", "6000001", "600036"}));
}

TEST_F(Query, CountsChineseCharactersInBytesSoThreePassTheLengthAndFourAreRefused) {
    writeFile(recentFile, "\"600036\"\r\n");
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    ASSERT_NO_FATAL_FAILURE(queryRefused("股票代码"));
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001", "600036", "股票代码"}));

    // Six bytes pass the length, and with no letter or digit the balloon refuses them instead.
    query("股票代");
    EXPECT_EQ(lastQueryOutcome(), QueryOutcome::noLettersOrDigits);
    pumpFor(300);
    EXPECT_EQ(keyEvents(stock.journal), std::vector<std::string>());
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001", "600036", "股票代", "股票代码"}));
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
}

TEST_F(Query, AnEmptyCodeTypesNothingButSetsAnEmptyTextInAnOpenWizardAndIsNotSaved) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    openWizard(stock);
    ASSERT_TRUE(waitUntil([&] { return keyEvents(stock.journal) == pressed({'1'}); }));
    query("");
    EXPECT_TRUE(waitUntil([&] {
        return keyEvents(stock.journal) == pressed({'1', VK_RETURN});
    })) << ::testing::PrintToString(stock.journal.lines());
    EXPECT_EQ(stock.journal.events("settext"), std::vector<std::string>({"settext "}));
    EXPECT_LT(lastLineIndex(stock.journal, "settext"),
              lastLineIndex(stock.journal, "keydown vk=13"));
    EXPECT_EQ(list(), std::vector<std::string>({"", "1A0001"}));
    EXPECT_EQ(readFile(recentFile), recentLines({"1A0001"}));
}

TEST_F(Query, CutsALongCodeAtACharacterBoundaryInTheListAndTheFile) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    // 253 bytes and a two-byte character: 255 bytes, so the character does not fit in 254.
    std::string longCode = std::string(253, 'a') + "股";
    ASSERT_NO_FATAL_FAILURE(queryRefused(longCode));
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001", std::string(253, 'a')}));

    query("600000");
    waitForShown(stock, pressed({54, 48, 48, 48, 48, 48, VK_RETURN}), "600000");
    EXPECT_EQ(readFile(recentFile), recentLines({"1A0001", "600000", std::string(253, 'a')}));
}

TEST_F(Query, TheSameCodeTwiceGivesTwoEntriesAndTwoLines) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    std::vector<std::string> keys = pressed({54, 48, 48, 48, 48, 48, VK_RETURN});
    query("600000");
    waitForShown(stock, keys, "600000");
    ASSERT_TRUE(waitUntil([&] { return stock.journal.count("wizard close") == 1; }));
    query("600000");
    waitForShown(stock, concat(keys, keys), "600000", 2);
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001", "600000", "600000"}));
    EXPECT_EQ(readFile(recentFile), recentLines({"1A0001", "600000", "600000"}));
}

TEST_F(Query, WithoutAStockProgramTypesNothingWaitsForNothingAndChangesOnlyTheList) {
    writeFile(recentFile, "\"600036\"\r\n");
    talvero = std::make_unique<TalveroWindow>();
    pausesSeen.clear();
    query("600000", 0, recordPause);
    EXPECT_EQ(pausesSeen, std::vector<unsigned>());
    EXPECT_EQ(lastQueryOutcome(), QueryOutcome::noStockProgram);
    EXPECT_EQ(balloonText(), gbk(outcomeTexts.at(QueryOutcome::noStockProgram)));
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001", "600000", "600036"}));
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
    EXPECT_FALSE(fileExists(recentTempFile));
}

TEST_F(Query, GoesToTheWindowThatTheHandleFileHoldsAtTheTimeOfTheClick) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    StockSim other;
    ASSERT_TRUE(startStockSim(other, "--exact-title \"another\"", "other"));
    std::vector<std::string> first = pressed({54, 48, 48, 48, 48, 48, VK_RETURN});
    query("600000");
    waitForShown(stock, first, "600000");

    writeFile(handleFile, handleBytes(other.window));
    query("600036");
    waitForShown(other, pressed({54, 48, 48, 48, 51, 54, VK_RETURN}), "600036");
    EXPECT_EQ(keyEvents(stock.journal), first);
    EXPECT_EQ(stock.journal.count("show"), 1u);
}

TEST_F(Query, AStockProgramThatStopsAnsweringAfterTheKeysGetsNeitherTheCodeNorEnter) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    // The stand-in stops answering for 8 s as soon as it has taken every key, whichever of the
    // query's waits that falls in: whether the keys were taken can then not be seen, so nothing
    // may follow them, and the query must end within its bound all the same.
    static StockSim* hangTarget;
    static bool hung;
    hangTarget = &stock;
    hung = false;
    auto hangOnceKeysTaken = [](unsigned milliseconds) {
        DWORD start = GetTickCount();
        do {
            if (!hung && keyEvents(hangTarget->journal).size() == 12) {
                hung = true;
                PostMessageW(hangTarget->window, WM_APP + 1, 8000, 0);
                hangTarget->journal.waitFor("hang", 5000);
            }
            Sleep(1);
        } while (GetTickCount() - start < milliseconds);
    };
    DWORD start = GetTickCount();
    query("600000", 0, hangOnceKeysTaken);
    DWORD took = GetTickCount() - start;
    ASSERT_TRUE(hung) << "the stand-in was not hung: "
                      << ::testing::PrintToString(stock.journal.lines());
    EXPECT_EQ(lastQueryOutcome(), QueryOutcome::stillTakingKeys);
    EXPECT_EQ(stock.journal.count("hang-end"), 0u) << "the query ended while the stand-in hung";
    // At most 3.5 s; the margin covers Wine on a shared two-CPU machine.
    EXPECT_LT(took, 3500u + 1000u);
    EXPECT_FALSE(fileExists(recentFile));
    ASSERT_FALSE(stock.journal.waitFor("hang-end", 10000).empty());
    pumpFor(300);
    EXPECT_EQ(stock.journal.count("settext"), 0u);
    EXPECT_EQ(stock.journal.count("show"), 0u);
    EXPECT_EQ(keyEvents(stock.journal), pressed({54, 48, 48, 48, 48, 48}));
}

TEST_F(Query, WithThreeEntriesAddsTheCodeAtItsSortedPlaceAndSavesAllFour) {
    writeFile(recentFile, "\"600000\"\r\n\"000001\"\r\n");
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    ASSERT_EQ(list().size(), 3u);
    query("600036");
    waitForShown(stock, pressed({54, 48, 48, 48, 51, 54, VK_RETURN}), "600036");
    std::vector<std::string> expected = {"000001", "1A0001", "600000", "600036"};
    EXPECT_EQ(list(), expected);
    EXPECT_EQ(readFile(recentFile), recentLines(expected));
    EXPECT_FALSE(fileExists(recentTempFile));
}

TEST_F(Query, WithTenEntriesDropsTheTenthAndPutsTheCodeAtTheTop) {
    std::string lines;
    for (int i = 1; i <= 9; ++i)
        lines += "\"60000" + std::to_string(i) + "\"\r\n";
    writeFile(recentFile, lines);
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    ASSERT_EQ(list().size(), 10u);
    query("600100");
    waitForShown(stock, pressed({54, 48, 48, 49, 48, 48, VK_RETURN}), "600100");
    std::vector<std::string> expected = {"600100", "1A0001", "600001", "600002", "600003",
                                         "600004", "600005", "600006", "600007", "600008"};
    EXPECT_EQ(list(), expected);
    EXPECT_EQ(readFile(recentFile), recentLines(expected));
}

TEST_F(Query, WithElevenEntriesKeepsElevenAndSavesTheFirstTen) {
    std::string lines;
    for (int i = 1; i <= 10; ++i)
        lines += "\"6000" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\"\r\n";
    writeFile(recentFile, lines);
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    ASSERT_EQ(list().size(), 11u);
    query("600100");
    waitForShown(stock, pressed({54, 48, 48, 49, 48, 48, VK_RETURN}), "600100");
    std::vector<std::string> firstTen = {"600100", "1A0001", "600001", "600002", "600003",
                                         "600004", "600005", "600006", "600007", "600008"};
    EXPECT_EQ(list(), concat(firstTen, {"600010"}));
    EXPECT_EQ(readFile(recentFile), recentLines(firstTen));
}

TEST_F(Query, LeavesAReadOnlyFileAsItWas) {
    writeFile(recentFile, "\"600036\"\r\n");
    SetFileAttributesA(recentFile, FILE_ATTRIBUTE_READONLY);
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    query("600000");
    waitForShown(stock, pressed({54, 48, 48, 48, 48, 48, VK_RETURN}), "600000");
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
    EXPECT_TRUE(GetFileAttributesA(recentFile) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(fileExists(recentTempFile));
}

TEST_F(Query, LeavesAFileHeldOpenElsewhereAsItWasAndNoTemporaryFile) {
    writeFile(recentFile, "\"600036\"\r\n");
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    HANDLE held = CreateFileA(recentFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    query("600000");
    CloseHandle(held);
    waitForShown(stock, pressed({54, 48, 48, 48, 48, 48, VK_RETURN}), "600000");
    EXPECT_EQ(readFile(recentFile), "\"600036\"\r\n");
    EXPECT_FALSE(fileExists(recentTempFile));
}

TEST_F(Query, ButtonCodeOneQueriesLikeAClickAndCodeTwoDoesNothing) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    LPARAM button = reinterpret_cast<LPARAM>(talvero->control(queryButtonId));
    query("600000", 2);
    EXPECT_EQ(dispatchMainWindowEvent(window(), WM_COMMAND, MAKEWPARAM(queryButtonId, 2), button),
              0);
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001"}));
    EXPECT_FALSE(fileExists(recentFile));

    activateTalvero();
    EXPECT_EQ(dispatchMainWindowEvent(window(), WM_COMMAND, MAKEWPARAM(queryButtonId, 1), button),
              0);
    waitForShown(stock, pressed({54, 48, 48, 48, 48, 48, VK_RETURN}), "600000");
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001", "600000"}));
    EXPECT_EQ(readFile(recentFile), recentLines({"1A0001", "600000"}));
}

// --- The stock program busy, closed, restarted, started late ------------------------------------

// A busy stock program near the bounds the query keeps to: the wizard is waited for at least
// 1.5 s after the keys, and the exact code is handed over only once every key was taken, for up
// to 100 ms a key. One too slow for any query gets neither the code nor Enter nor a saved list.
TEST_F(Query, ABusyStockProgramShowsExactlyTheCodeOrNothingWithinTheQuerysBound) {
    struct Case {
        const char* name;
        const char* options;
        QueryOutcome outcome;
        const char* code = "600000";
        const char* held = ""; // by a wizard left open by an earlier query
    };
    const Case cases[] = {
        {"a wizard opening 1.4 s after the first key", "--wizard-delay 1400", QueryOutcome::shown},
        // The keys add to what the wizard holds: handed over a key early, the code would be
        // overtaken by the last key.
        {"a wizard left open, 100 ms for every key", "--key-delay 100", QueryOutcome::shown,
         "600000", "123"},
        // Each answer waits behind a key and brings the same text back: a wait that long counts
        // as a change, or the code would be handed over ahead of the keys.
        {"a wizard that drops the key that opened it, 300 ms for every key",
         "--wizard-drops-first-key --key-delay 300", QueryOutcome::shown, "6000"},
        {"100 ms for every key", "--key-delay 100", QueryOutcome::shown},
        {"both", "--wizard-delay 1000 --key-delay 100", QueryOutcome::shown},
        {"a wizard that takes the front as a dialog does", "--wizard-takes-front",
         QueryOutcome::shown},
        // Its edit never holds a character for every key: it is seen to stop changing instead.
        {"a wizard that drops the key that opened it", "--wizard-drops-first-key",
         QueryOutcome::shown},
        {"the same with 100 ms for every key", "--wizard-drops-first-key --key-delay 100",
         QueryOutcome::shown},
        {"a wizard opening after 4 s", "--wizard-delay 4000", QueryOutcome::noWizard},
        {"500 ms for every key", "--key-delay 500", QueryOutcome::stillTakingKeys},
        // Every wait shares the query's one deadline: with a full bound each, the last would end
        // past 4.6 s.
        {"slow at every step: late to the front, a late wizard, slow keys",
         "--front-late 700 --wizard-delay 1800 --key-delay 300", QueryOutcome::stillTakingKeys},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StockSim busy;
        ASSERT_NO_FATAL_FAILURE(startCase(busy, c.options, "busy"));
        ASSERT_EQ(readFile(handleFile), handleBytes(busy.window));
        for (const char* key = c.held; *key; ++key) {
            PostMessageW(busy.window, WM_KEYDOWN, *key, 1);
            PostMessageW(busy.window, WM_KEYUP, *key, 0xC0000001);
        }
        ASSERT_TRUE(
            waitUntil([&] { return keyEvents(busy.journal).size() == 2 * strlen(c.held); }));
        std::vector<int> keys;
        for (const char* digit = c.code; *digit; ++digit)
            keys.push_back(*digit);

        DWORD start = GetTickCount();
        query(c.code);
        // At most 3.5 s; the margin covers Wine on a shared two-CPU machine.
        EXPECT_LT(GetTickCount() - start, 3500u + 1000u);
        EXPECT_EQ(lastQueryOutcome(), c.outcome);
        if (c.outcome == QueryOutcome::shown) {
            EXPECT_TRUE(waitUntil([&] { return busy.journal.count("show") == 1; }));
            EXPECT_EQ(busy.journal.events("show"),
                      std::vector<std::string>({std::string("show ") + c.code}));
            EXPECT_EQ(readFile(recentFile), recentLines({"1A0001", c.code}));
        } else {
            EXPECT_EQ(balloonText(), gbk(outcomeTexts.at(c.outcome)));
            // The keys all arrive in the end; neither the code nor Enter follows them.
            EXPECT_TRUE(
                waitUntil([&] { return keyEvents(busy.journal).size() >= 2 * keys.size(); }, 8000));
            pumpFor(300);
            EXPECT_EQ(keyEvents(busy.journal), pressed(keys));
            EXPECT_EQ(busy.journal.count("settext"), 0u);
            EXPECT_EQ(busy.journal.count("show"), 0u);
            EXPECT_FALSE(fileExists(recentFile));
        }
        talvero.reset();
        busy.program.kill();
    }
}

// The front goes to the desktop after the keys, before Enter is due: once, and the wizard is
// brought back for Enter; or for good, and no Enter follows.
TEST_F(Query, TheFrontLostAfterTheKeysIsRegainedOrTheQueryEndsWithoutEnter) {
    struct Case {
        const char* options;
        QueryOutcome outcome;
    };
    const Case cases[] = {{"--wizard-takes-front --front-away once", QueryOutcome::shown},
                          {"--wizard-takes-front --front-away keep", QueryOutcome::notInFront}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        StockSim sim;
        ASSERT_NO_FATAL_FAILURE(startCase(sim, c.options, "away"));
        DWORD start = GetTickCount();
        query("600000");
        EXPECT_LT(GetTickCount() - start, 3500u + 1000u);
        EXPECT_EQ(lastQueryOutcome(), c.outcome);
        EXPECT_GT(sim.journal.count("front-away"), 0u) << "the front was never given away";
        bool shown = c.outcome == QueryOutcome::shown;
        std::vector<std::string> keys = pressed({54, 48, 48, 48, 48, 48});
        if (shown)
            keys = concat(keys, pressed({VK_RETURN}));
        EXPECT_TRUE(waitUntil([&] { return keyEvents(sim.journal) == keys; }))
            << ::testing::PrintToString(sim.journal.lines());
        pumpFor(300);
        EXPECT_EQ(keyEvents(sim.journal), keys);
        EXPECT_EQ(sim.journal.count("show"), shown ? 1u : 0u);
        EXPECT_EQ(fileExists(recentFile), shown);
        if (!shown) {
            EXPECT_EQ(balloonText(), gbk(outcomeTexts.at(c.outcome)));
        }
        talvero.reset();
        sim.program.kill();
    }
}

// fxwindows.dat keeps naming a window that has gone; the status tick and every press look again.
TEST_F(Query, AStockProgramStartedLateClosedOrRestartedIsFoundByTheNextTickOrPress) {
    talvero = std::make_unique<TalveroWindow>();
    auto tickShows = [&](bool found) {
        return waitUntil(
            [&] { return found ? showsStockFound(*talvero) : showsStockNotFound(*talvero); });
    };
    EXPECT_TRUE(tickShows(false));

    StockSim late;
    ASSERT_TRUE(startStockSim(late, "", "late"));
    EXPECT_TRUE(tickShows(true));
    EXPECT_EQ(readFile(handleFile), handleBytes(late.window));

    PostMessageW(late.window, WM_APP + 2, 0, 0);
    ASSERT_TRUE(late.program.waitForExit(5000));
    EXPECT_TRUE(tickShows(false));
    EXPECT_EQ(readFile(handleFile), handleBytes(late.window)) << "nothing found, nothing written";

    // Without a tick in between, the very next press finds the restarted program.
    KillTimer(window(), 1);
    StockSim restarted;
    ASSERT_TRUE(startStockSim(restarted, "", "restarted"));
    sendCommand(window(), 1002);
    EXPECT_FALSE(restarted.journal.waitFor("command 32873").empty());
    EXPECT_EQ(readFile(handleFile), handleBytes(restarted.window));
    query("600000");
    waitForShown(restarted, pressed({54, 48, 48, 48, 48, 48, VK_RETURN}), "600000");
}

TEST_F(Query, EnterInTheCodeBoxQueriesOnceAndEnterElsewhereNotAtAll) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    SetWindowTextW(combo(), L"600000");
    // Each focus change settles before the command, as under a user's hands: under Wine a late
    // focus event could otherwise take the activation back from the stock program mid-query.
    activateTalvero();
    SetFocus(talvero->control(adjustCheckId));
    activateTalvero();
    sendCommand(window(), IDOK);
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001"}));

    SetFocus(combo());
    activateTalvero();
    sendCommand(window(), IDOK);
    waitForShown(stock, pressed({54, 48, 48, 48, 48, 48, VK_RETURN}), "600000");
    // The query's own Enter goes to the stock program, never back to the code box.
    pumpFor(300);
    EXPECT_EQ(stock.journal.count("show"), 1u);
    EXPECT_EQ(list(), std::vector<std::string>({"1A0001", "600000"}));
}

// --- A stock program of higher rights -----------------------------------------------------------

// Wine has no separation of rights: the rights probe and the send of the query's messages are
// replaced here, the narrowest seams through which a stock program of higher rights shows itself.
namespace {

int probes = 0;

Rights probeHigher(DWORD) {
    ++probes;
    return Rights::higher;
}

Rights probeUnknown(DWORD) {
    ++probes;
    return Rights::unknown;
}

// What the system does with a message to a program of higher rights.
LRESULT WINAPI refuseSend(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

} // namespace

TEST_F(Query, AStockProgramOfHigherRightsIsToldOncePerProcessAndGetsNoKey) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    const std::string notice = gbk(outcomeTexts.at(QueryOutcome::higherRights));
    probes = 0;
    rightsProbe = probeHigher;
    stockWindow = stock.window; // as the tick reads it from the file
    tellStockProgramRights();
    EXPECT_EQ(balloonText(), notice);
    // Hide the balloon: a second notice would show it again.
    HWND balloon = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findShownBalloon, reinterpret_cast<LPARAM>(&balloon));
    ASSERT_NE(balloon, nullptr);
    ShowWindow(balloon, SW_HIDE);
    for (int tick = 0; tick < 3; ++tick)
        tellStockProgramRights();
    EXPECT_EQ(balloonText(), "") << "told again";

    query("600000");
    EXPECT_EQ(lastQueryOutcome(), QueryOutcome::higherRights);
    EXPECT_EQ(balloonText(), notice) << "the failed query says why";
    EXPECT_EQ(probes, 1) << "the process was probed more than once";
    pumpFor(300);
    EXPECT_EQ(keyEvents(stock.journal), std::vector<std::string>()) << "a key was typed";
    EXPECT_FALSE(fileExists(recentFile));

    // A restarted stock program is another process: probed and told again.
    StockSim restarted;
    ASSERT_TRUE(startStockSim(restarted, "", "restarted"));
    writeFile(handleFile, handleBytes(restarted.window));
    stockWindow = restarted.window; // as the next tick reads it from the file
    ShowWindow(balloon, SW_HIDE);
    tellStockProgramRights();
    EXPECT_EQ(probes, 2);
    EXPECT_EQ(balloonText(), notice);
}

TEST_F(Query, AMessageRefusedForRightsEndsTheQueryAndTheNextOneAtOnce) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    // Where the system cannot tell the rights (Windows XP, or a token that cannot be read), the
    // refused message is the sign.
    probes = 0;
    rightsProbe = probeUnknown;
    stockSend = refuseSend;
    query("600000");
    EXPECT_EQ(lastQueryOutcome(), QueryOutcome::higherRights);
    EXPECT_EQ(balloonText(), gbk(outcomeTexts.at(QueryOutcome::higherRights)));
    std::vector<std::string> keys = pressed({54, 48, 48, 48, 48, 48});
    EXPECT_TRUE(waitUntil([&] { return keyEvents(stock.journal) == keys; }));

    query("600036");
    EXPECT_EQ(lastQueryOutcome(), QueryOutcome::higherRights);
    pumpFor(300);
    EXPECT_EQ(keyEvents(stock.journal), keys) << "keys typed after the refusal";
    EXPECT_EQ(stock.journal.count("settext"), 0u);
    EXPECT_EQ(stock.journal.count("show"), 0u);
    EXPECT_EQ(probes, 1);
}

// --- Only letters and digits become keys; only the stock program's own wizard gets the code -----

namespace {

// Every key that the query presses or releases, as it hands them to the system.
std::vector<BYTE> keysInjected;

void WINAPI recordKey(BYTE key, BYTE scanCode, DWORD flags, ULONG_PTR extraInfo) {
    keysInjected.push_back(key);
    keybd_event(key, scanCode, flags, extraInfo);
}

// The key of any other byte is some other key: '[' a Windows key, '_' Sleep, ',' Print Screen,
// '.' Delete, a GBK byte Shift, Ctrl or a media key. Such bytes get no key, and a code of nothing
// else is refused before anything is done; the wizard still gets the whole code.
TEST_F(Query, OnlyLettersAndDigitsBecomeKeysAndTheWizardGetsTheWholeCode) {
    struct Case {
        const char* code;
        std::vector<int> keys;
        QueryOutcome outcome;
    };
    const Case cases[] = {
        {"60.000", {54, 48, 48, 48, 48}, QueryOutcome::shown},
        {"6[0]00", {54, 48, 48, 48}, QueryOutcome::shown},
        {"_60000", {54, 48, 48, 48, 48}, QueryOutcome::shown},
        {"中人字", {}, QueryOutcome::noLettersOrDigits},
        {"大6", {54}, QueryOutcome::shown},
        {"600 36", {54, 48, 48, 51, 54}, QueryOutcome::shown},
    };
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    StockSim bystander;
    ASSERT_TRUE(startStockSim(bystander, "--exact-title bystander", "bystander"));
    keyEvent = recordKey;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        keysInjected.clear();
        size_t shownBefore = stock.journal.count("show");
        size_t activationsBefore = stock.journal.count("activate");
        std::vector<std::string> keysBefore = keyEvents(stock.journal);
        // The user's program in front; the query's click comes to Talvero all the same.
        SetForegroundWindow(bystander.window);
        ASSERT_TRUE(waitUntil([&] { return GetForegroundWindow() == bystander.window; }));
        SetWindowTextW(combo(), wide(c.code).c_str());
        sendCommand(window(), queryButtonId);
        EXPECT_EQ(lastQueryOutcome(), c.outcome);
        bool shown = c.outcome == QueryOutcome::shown;
        std::vector<int> keys = c.keys;
        if (shown)
            keys.push_back(VK_RETURN);
        EXPECT_TRUE(waitUntil([&] {
            return keyEvents(stock.journal) == concat(keysBefore, pressed(keys)) &&
                   stock.journal.count("show") == shownBefore + (shown ? 1 : 0);
        })) << ::testing::PrintToString(stock.journal.lines());
        for (BYTE key : keysInjected)
            EXPECT_TRUE((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') ||
                        key == VK_RETURN)
                << "key " << int(key);
        if (shown) {
            EXPECT_EQ(stock.journal.events("settext").back(), std::string("settext ") + c.code);
            EXPECT_EQ(stock.journal.events("show").back(), std::string("show ") + c.code);
        } else {
            EXPECT_EQ(balloonText(), gbk(outcomeTexts.at(c.outcome)));
            EXPECT_EQ(stock.journal.count("activate"), activationsBefore) << "brought forward";
            std::vector<std::string> items = list();
            EXPECT_NE(std::find(items.begin(), items.end(), c.code), items.end())
                << "the list keeps it";
        }
        ASSERT_TRUE(waitUntil([&] {
            return stock.journal.count("wizard open") == stock.journal.count("wizard close");
        }));
    }
    EXPECT_EQ(bystander.journal.count("keydown"), 0u) << "the bystander got a key";
}

// Another market program with a keyboard wizard of the same class and title is open while the
// stock program is a little slow to open its own.
TEST_F(Query, AnotherProgramsWizardGetsNothingAndTheStockProgramShowsExactlyTheCode) {
    StockSim other;
    ASSERT_TRUE(startStockSim(other, "--exact-title \"other market program\"", "other"));
    openWizard(other);
    ASSERT_TRUE(waitUntil([&] { return other.journal.count("wizard open") == 1; }));
    StockSim slow;
    ASSERT_NO_FATAL_FAILURE(startCase(slow, "--wizard-delay 400", "slow"));
    query("600000");
    EXPECT_EQ(lastQueryOutcome(), QueryOutcome::shown);
    EXPECT_TRUE(waitUntil([&] { return slow.journal.count("show") == 1; }));
    EXPECT_EQ(slow.journal.events("show"), std::vector<std::string>({"show 600000"}));
    pumpFor(300);
    EXPECT_EQ(keyEvents(other.journal), pressed({'1'})) << "a key or Enter reached the other";
    EXPECT_EQ(other.journal.count("settext"), 0u);
    EXPECT_EQ(other.journal.count("wizard close"), 0u);
}

// A send that fails for another reason leaves the last error as the system had it: an older
// refusal must not be read as this one's.
LRESULT WINAPI sendLeavingARefusalBehind(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT flags, UINT timeout, PDWORD_PTR result) {
    if (message == WM_SETTEXT)
        return 0; // fails, and says nothing of why
    LRESULT sent = SendMessageTimeoutW(window, message, wParam, lParam, flags, timeout, result);
    SetLastError(ERROR_ACCESS_DENIED);
    return sent;
}

} // namespace

TEST_F(Query, ASendThatFailsWithoutARefusalLeavesTheRightsUnmarked) {
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    rightsProbe = probeUnknown;
    stockSend = sendLeavingARefusalBehind;
    query("600000");
    EXPECT_EQ(lastQueryOutcome(), QueryOutcome::shown);
    EXPECT_FALSE(hasHigherRights(stock.program.processId()));
    EXPECT_TRUE(waitUntil([&] { return stock.journal.count("show") == 1; }));
}

// --- An input method in Chinese or full-width mode ----------------------------------------------

namespace {

// Wine's input-method control is a stub (and its ImmGetDefaultIMEWnd finds no IME window for
// another process's window at all), so Windows' switching cannot be seen here: the route goes to
// the stand-in's own input method, which turns keys into compositions and candidates as a Chinese
// input method does. What Windows' default IME window does with the same commands is not tested.
constexpr UINT standInImeMessage = WM_APP + 3;
ImeRoute standInIme(HWND window) {
    return {window, standInImeMessage};
}
ImeRoute noIme(HWND) {
    return {nullptr, 0};
}
// A window that is gone: every send to it fails at once.
HWND goneWindow = nullptr;
ImeRoute silentIme(HWND) {
    return {goneWindow, standInImeMessage};
}

// The last state the stand-in journaled for the input method of its main window or its edit.
std::string lastImeState(const Journal& journal, const std::string& window) {
    std::string last;
    for (const std::string& line : journal.events("ime")) {
        if (line.compare(0, 5 + window.size(), "ime " + window + " ") == 0)
            last = line.substr(5 + window.size());
    }
    return last;
}

} // namespace

TEST_F(Query, AnInputMethodInChineseOrFullWidthModeIsSwitchedForTheKeysAndPutBackAfterwards) {
    struct Case {
        const char* options;
        const char* code;
        const char* window; // whose input method the trader had in that mode
        const char* state;  // as the stand-in starts it and must end
    };
    const Case cases[] = {
        {"--ime chinese", "1A0001", "main", "open=1 mode=1"},
        {"--ime chinese", "sh6000", "main", "open=1 mode=1"},
        {"--ime fullwidth", "600036", "main", "open=1 mode=8"},
        // An edit with an input context of its own: the composition it holds is ended before
        // Enter, which it would swallow.
        {"--ime-wizard chinese", "60000a", "edit", "open=1 mode=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + c.code);
        StockSim sim;
        ASSERT_NO_FATAL_FAILURE(startCase(sim, c.options, "ime"));
        imeRoute = standInIme;
        query(c.code);
        EXPECT_EQ(lastQueryOutcome(), QueryOutcome::shown);
        EXPECT_TRUE(waitUntil([&] { return sim.journal.count("show") == 1; }))
            << ::testing::PrintToString(sim.journal.lines());
        EXPECT_EQ(sim.journal.events("show"),
                  std::vector<std::string>({std::string("show ") + c.code}));
        // The keys reached the wizard as they were typed, not as compositions, candidates or
        // full-width characters.
        std::string typed = c.code;
        std::transform(typed.begin(), typed.end(), typed.begin(), ::tolower);
        EXPECT_EQ(sim.journal.events("held"), std::vector<std::string>({"held " + typed}));
        // The edit's own input method is only known once the wizard is open, after the keys.
        if (std::string(c.window) == "main") {
            EXPECT_EQ(sim.journal.count("compose"), 0u);
        }
        EXPECT_EQ(lastImeState(sim.journal, c.window), c.state) << "not put back";
        talvero.reset();
        sim.program.kill();
    }
}

TEST_F(Query, AnInputMethodThatDoesNotAnswerOrIsNotThereChangesNothing) {
    StockSim gone;
    ASSERT_TRUE(startStockSim(gone, "", "gone"));
    goneWindow = gone.window;
    gone.program.kill();
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(goneWindow); }));
    ASSERT_NO_FATAL_FAILURE(startWithStockProgram());
    size_t shown = 0;
    for (ImeRouteFor route : {noIme, silentIme, standInIme}) {
        imeRoute = route;
        query("600036");
        EXPECT_EQ(lastQueryOutcome(), QueryOutcome::shown);
        ++shown;
        EXPECT_TRUE(waitUntil([&] { return stock.journal.count("show") == shown; }));
    }
    EXPECT_EQ(stock.journal.count("ime"), 0u) << "an input method that is not there was set";
    EXPECT_EQ(keyEvents(stock.journal), concat(concat(pressed({54, 48, 48, 48, 51, 54, VK_RETURN}),
                                                      pressed({54, 48, 48, 48, 51, 54, VK_RETURN})),
                                               pressed({54, 48, 48, 48, 51, 54, VK_RETURN})));
}
