// Start-up: from process creation to the program's dialog being visible and answering a sent
// message, for Talvero.exe and for the floor program (one empty dialog, common controls
// initialised), started alternately. Measured twice: alone, and with the two stand-in programs
// running, whose windows Talvero's start-up searches. Between the two, the breakdown: both
// programs' start-up steps timed from process creation (bench_startup_steps.exe for Talvero,
// bench_floor.exe with a steps file for the floor).
//
// bench_startup.exe TABLE [RUNS]
#include "benchkit.h"
#include "testkit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace benchkit;

namespace {

constexpr DWORD launchBoundMs = 15000;
// Time for the wineserver and the X server to finish with one program before the next starts.
constexpr DWORD settleMs = 250;

// Ten codes, the most that a query writes, so that start-up reads a full list.
constexpr const char* recentCodes = "\"600000\"\r\n\"600036\"\r\n\"000001\"\r\n\"000002\"\r\n"
                                    "\"600519\"\r\n\"601318\"\r\n\"000858\"\r\n\"002415\"\r\n"
                                    "\"300750\"\r\n\"601988\"\r\n";

// The visible dialog of the given process, or 0.
HWND shownDialogOf(DWORD processId) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32770", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

struct Launch {
    bool answered = false;
    double ms = 0;
};

// Starts the program, waits for its dialog to be visible and to answer WM_NULL, then closes it.
// A steps file, when given, is passed on with the start time.
Launch launch(const std::string& exe, const std::string& stepsFile = "") {
    Launch result;
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double start = nowMs();
    if (!stepsFile.empty())
        commandLine += " " + fixed(start, 3) + " \"" + stepsFile + "\"";
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return result;
    // Polling before the program first waits for input would only take time from it.
    WaitForInputIdle(process.hProcess, launchBoundMs);
    HWND dialog = nullptr;
    while (nowMs() - start < launchBoundMs) {
        dialog = shownDialogOf(process.dwProcessId);
        DWORD_PTR ignored = 0;
        if (dialog &&
            SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, launchBoundMs, &ignored)) {
            result.ms = nowMs() - start;
            result.answered = true;
            break;
        }
        // The 1 ms wait on the process doubles as the pause between polls.
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0)
            break;
    }
    if (dialog)
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Sleep(settleMs);
    return result;
}

struct Series {
    const char* name;
    std::string exe;
    std::vector<double> ms;
    int failures = 0;
};

void launchInto(Series& series, bool record) {
    Launch result = launch(series.exe);
    if (!record)
        return;
    if (result.answered)
        series.ms.push_back(result.ms);
    else
        ++series.failures;
}

// Runs both programs alternately (ABBA, so that a drift in the machine's load hits both alike)
// after one unrecorded start of each, and adds the table row.
void compare(Table& table, const std::string& label, int runs) {
    Series talvero = {"Talvero", testkit::binDirectory() + "\\Talvero.exe", {}};
    Series floor = {"floor", testkit::binDirectory() + "\\bench_floor.exe", {}};
    launchInto(talvero, false);
    launchInto(floor, false);
    for (int run = 0; run < runs; ++run) {
        bool talveroFirst = run % 4 == 0 || run % 4 == 3;
        launchInto(talveroFirst ? talvero : floor, true);
        launchInto(talveroFirst ? floor : talvero, true);
    }
    for (const Series* series : {&talvero, &floor}) {
        std::printf("%s, %s:", label.c_str(), series->name);
        for (double ms : series->ms)
            std::printf(" %.1f", ms);
        std::printf(" (failed starts: %d)\n", series->failures);
    }
    Summary t = summarize(talvero.ms);
    Summary f = summarize(floor.ms);
    double ratio = f.median > 0 ? t.median / f.median : 0;
    bool complete = talvero.failures == 0 && floor.failures == 0 && t.count > 0;
    table.row(label, withRange(t, 1), withRange(f, 1),
              fixed(ratio, 3) + "x" + (complete ? "" : " (failed starts)"), "<= 1.2x floor",
              complete && ratio <= 1.2);
}

// Medians of the "name=value" fields of a steps file, one line per start.
std::map<std::string, Summary> readSteps(const std::string& file) {
    std::map<std::string, std::vector<double>> values;
    std::istringstream lines(testkit::readFile(file));
    std::string field;
    while (lines >> field) {
        std::size_t equals = field.find('=');
        if (equals != std::string::npos)
            values[field.substr(0, equals)].push_back(std::atof(field.c_str() + equals + 1));
    }
    std::map<std::string, Summary> medians;
    for (auto& entry : values)
        medians[entry.first] = summarize(entry.second);
    return medians;
}

// Where Talvero's start-up spends the time that the floor does not.
void breakDown(Table& table, int runs) {
    std::string talveroExe = testkit::binDirectory() + "\\bench_startup_steps.exe";
    std::string floorExe = testkit::binDirectory() + "\\bench_floor.exe";
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    std::string talveroSteps = std::string(current) + "\\steps-talvero.txt";
    std::string floorSteps = std::string(current) + "\\steps-floor.txt";
    launch(talveroExe);
    launch(floorExe);
    for (int run = 0; run < runs; ++run) {
        bool talveroFirst = run % 4 == 0 || run % 4 == 3;
        launch(talveroFirst ? talveroExe : floorExe, talveroFirst ? talveroSteps : floorSteps);
        launch(talveroFirst ? floorExe : talveroExe, talveroFirst ? floorSteps : talveroSteps);
    }
    std::map<std::string, Summary> t = readSteps(talveroSteps);
    std::map<std::string, Summary> f = readSteps(floorSteps);
    std::printf("start-up steps (medians, ms), Talvero:");
    for (auto& step : t)
        std::printf(" %s=%.2f", step.first.c_str(), step.second.median);
    std::printf("\nstart-up steps (medians, ms), floor:");
    for (auto& step : f)
        std::printf(" %s=%.2f", step.first.c_str(), step.second.median);
    std::printf("\n");

    struct Step {
        const char* key;
        const char* label;
    };
    const Step steps[] = {
        {"main", "  step: process creation to WinMain"},
        {"controls", "  step: common controls initialised"},
        {"built", "  step: window built, hidden"},
        {"shown", "  step: window shown"},
        {"pumped", "  step: first messages handled"},
    };
    auto ms = [&t](const char* key) { return fixed(t[key].median, 1); };
    for (const Step& step : steps) {
        double difference = t[step.key].median - f[step.key].median;
        table.note(step.label, withRange(t[step.key], 1), withRange(f[step.key], 1),
                   (difference >= 0 ? "+" : "") + fixed(difference, 1));
        if (std::string(step.key) == "built") {
            table.note("    in it: period toolbar", ms("toolbar"), "-",
                       "image list " + ms("iconbyicon") + " of it");
            table.note("    in it: topmost, discovery", ms("topmost") + ", " + ms("discovery"), "-",
                       "");
            table.note(
                "    toolbar filled in one go", ms("toolbaronego"), "-",
                "one image strip (" + ms("onestrip") + "), one TB_ADDBUTTONS" +
                    (t["samepictures"].median == 1 ? ", same pictures" : ", OTHER pictures"));
        }
        if (std::string(step.key) == "pumped") {
            // The three window classes whose messages took longest.
            std::vector<std::pair<double, std::string>> costs;
            for (auto& entry : t) {
                if (entry.first.compare(0, 5, "pump:") == 0)
                    costs.push_back({entry.second.median, entry.first.substr(5)});
            }
            std::sort(costs.rbegin(), costs.rend());
            std::string most;
            for (std::size_t i = 0; i < costs.size() && i < 3; ++i)
                most += (i ? ", " : "") + costs[i].second + " " + fixed(costs[i].first, 1);
            table.note("    most of it (message@class)", "-", "-", most);
            table.note("    event procedure entries", fixed(t["dialogmessages"].median, 0), "-",
                       "from WM_INITDIALOG on, each reloading fxwindows.dat");
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_startup TABLE [RUNS]\n");
        return 2;
    }
    Table table(argv[1]);
    int runs = argc > 2 ? std::atoi(argv[2]) : 20;

    testkit::ScratchDirectory directory;
    testkit::writeFile("DAIMA.DAT", recentCodes);
    compare(table, "start-up, alone (ms)", runs);
    breakDown(table, runs / 2 > 0 ? runs / 2 : 1);

    testkit::StockSim stock;
    testkit::TermSim term;
    if (!testkit::startStockSim(stock) || !testkit::startTermSim(term)) {
        std::fprintf(stderr, "the stand-in programs did not start\n");
        return 1;
    }
    compare(table, "start-up, stand-ins running (ms)", runs);
    return 0;
}
