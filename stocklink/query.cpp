#include "stocklink/query.h"

#include "base/state.h"
#include "base/other_window.h"
#include "base/pause.h"
#include "base/ui_text.h"
#include "stocklink/recent_codes_file.h"

CodeText codeText;
int recentCount = 0;
HWND wizardWindow = nullptr;
FixedText<255> wizardClass;
FixedText<255> wizardTitle;
short keyIndex = 0;

namespace {

// From this many entries on, each query drops the tenth entry and puts the code at the top.
constexpr int fullListSize = 10;
constexpr int droppedEntry = 9;
constexpr unsigned queryPause = 100;

constexpr const char* wizardDialogClass = "#32770";
constexpr const char* wizardDialogTitle = "\xBC\xFC\xC5\xCC\xBE\xAB\xC1\xE9"; // 键盘精灵
constexpr const char* wizardEditClass = "Edit";

// 对不起，您输入的代码超过6位，请重新输入!
constexpr const char* tooLongMessage =
    "\xB6\xD4\xB2\xBB\xC6\xF0\xA3\xAC\xC4\xFA\xCA\xE4\xC8\xEB\xB5\xC4\xB4\xFA\xC2\xEB"
    "\xB3\xAC\xB9\xFD\x36\xCE\xBB\xA3\xAC\xC7\xEB\xD6\xD8\xD0\xC2\xCA\xE4\xC8\xEB!";
constexpr UINT tooLongStyle = MB_OK | MB_TASKMODAL | MB_SETFOREGROUND;

// A key-down followed by its key-up, so that no key stays logically held down.
void pressKey(BYTE key) {
    keybd_event(key, 0, 0, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
}

void recordInList(HWND combo) {
    recentCount = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    if (recentCount > droppedEntry) {
        // The list no longer grows; the newest code stands at the very top, outside the sort order.
        SendMessageW(combo, CB_DELETESTRING, droppedEntry, 0);
        insertComboItemAnsi(combo, 0, codeText.c_str());
    } else {
        addComboItemAnsi(combo, codeText.c_str());
    }
}

// A responsive stock program meets every step within the fixed pauses and is never polled. A
// busy one is waited for, each wait with a bound of its own, and no wait runs past queryBound,
// so that with the pauses after it a query holds the tool for at most 3.5 s.
constexpr DWORD activationBound = 1000; // from the activation to the stock program in front
constexpr DWORD wizardBound = 2000;     // from the last key to the wizard
constexpr DWORD queryBound = 3100;      // from the activation to the end of the last wait
constexpr unsigned pollInterval = 10;
// A sent message gets at least this long, so a responsive wizard is reached after a long wait.
constexpr DWORD shortestSend = 50;

DWORD queryStart = 0;
DWORD stockProcess = 0;

// The tick count at which a wait begun now ends: bound ms from now, or the query's end.
DWORD waitEnd(DWORD bound) {
    DWORD now = GetTickCount();
    DWORD elapsed = now - queryStart;
    DWORD queryLeft = elapsed < queryBound ? queryBound - elapsed : 0;
    return now + (bound < queryLeft ? bound : queryLeft);
}

DWORD millisecondsUntil(DWORD end) {
    LONG left = static_cast<LONG>(end - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// The timeout of a message sent to the stock program now, to be answered by the end.
UINT sendTimeout(DWORD end) {
    DWORD wait = millisecondsUntil(end);
    return wait > shortestSend ? wait : shortestSend;
}

template <typename Condition>
bool pollUntil(DWORD end, Condition ready) {
    while (!ready()) {
        if (millisecondsUntil(end) == 0)
            return false;
        pause(pollInterval);
    }
    return true;
}

// Keys go only to the stock program: its main window or its wizard must be in front.
bool stockProgramInFront() {
    DWORD process = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &process);
    return process != 0 && process == stockProcess;
}

// A busy or hung stock program may come to the front late or never; typing meanwhile would
// hand the code to whichever program is in front.
bool bringStockProgramForward() {
    stockProcess = 0;
    if (!stockWindow || !GetWindowThreadProcessId(stockWindow, &stockProcess))
        return false;
    SetForegroundWindow(stockWindow);
    bringToTop(stockWindow);
    showWindow(stockWindow, SW_SHOWNOACTIVATE);
    pause(queryPause);
    return pollUntil(queryStart + activationBound, stockProgramInFront);
}

// The stock program opens its keyboard wizard on the first key and collects the rest there.
bool typeCode() {
    for (keyIndex = 1; static_cast<std::size_t>(keyIndex) <= codeText.size(); ++keyIndex) {
        char key = codeText.c_str()[keyIndex - 1];
        CharUpperBuffA(&key, 1);
        if (!stockProgramInFront())
            return false;
        pressKey(static_cast<BYTE>(key));
    }
    return true;
}

HWND findWizardDialog() {
    wizardClass.assign(wizardDialogClass);
    wizardTitle.assign(wizardDialogTitle);
    return FindWindowA(wizardClass.c_str(), wizardTitle.c_str());
}

HWND findWizardEdit(HWND wizard) {
    wizardClass.assign(wizardEditClass);
    return FindWindowExA(wizard, nullptr, wizardClass.c_str(), nullptr);
}

// The wizard's edit holds at most this many bytes that count.
constexpr std::size_t wizardTextCapacity = 256;

// The bytes the wizard's edit holds (at most wizardTextCapacity - 1); false when the stock program
// did not answer in time. The text itself is read because under Wine a sent WM_GETTEXTLENGTH
// waited for a hung program well past its timeout.
bool wizardTextLength(HWND edit, DWORD end, DWORD_PTR& length) {
    char text[wizardTextCapacity];
    return SendMessageTimeoutA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                               SMTO_ABORTIFHUNG, sendTimeout(end), &length) != 0;
}

// Each letter or digit key puts one character into the wizard's edit. The key of any other byte
// may put none, move the caret, or even close the wizard (a full stop is the Delete key, a plus
// sign the Execute key), so a code holding one gives no count to wait for.
std::size_t charactersTyped() {
    for (std::size_t i = 0; i < codeText.size(); ++i) {
        char byte = codeText.c_str()[i];
        if (!((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
              (byte >= 'a' && byte <= 'z')))
            return 0;
    }
    return codeText.size();
}

// A sent WM_SETTEXT overtakes keys still waiting in a busy stock program's queue, which would then
// land after the exact code: so the code is handed over only once the edit holds every typed key.
// False when that was not seen by the end, also when the stock program stopped answering (keys
// may still wait behind whatever holds it). A wizard without an edit, or a code without a count,
// has nothing to wait for.
bool waitForKeysTaken(std::size_t expected, DWORD end) {
    if (!wizardWindow || expected == 0)
        return true;
    for (;;) {
        DWORD_PTR length = 0;
        bool answered = wizardTextLength(wizardWindow, end, length);
        if (answered && length >= expected)
            return true;
        if (millisecondsUntil(end) == 0)
            return false;
        if (answered)
            pause(pollInterval);
    }
}

// Nothing reached the stock program's wizard: the user hears it rather than finding out later.
void reportNotShown() {
    MessageBeep(MB_ICONWARNING);
}

} // namespace

void handleQuery() {
    HWND combo = GetDlgItem(mainWindow, codeComboId);
    getWindowTextAnsi(combo, codeText);
    // The list keeps the code as typed, spaces and all, even when it is refused below.
    recordInList(combo);
    trimSpaces(codeText);
    if (codeText.size() > longestCode) {
        MessageBoxA(nullptr, tooLongMessage, programTitle, tooLongStyle);
        return;
    }

    queryStart = GetTickCount();
    if (!bringStockProgramForward()) {
        reportNotShown();
        return;
    }
    // Keys typed into a wizard left open by an earlier query add to what it holds.
    DWORD_PTR heldBefore = 0;
    HWND openWizard = findWizardDialog();
    if (openWizard && !wizardTextLength(findWizardEdit(openWizard), waitEnd(0), heldBefore))
        heldBefore = 0;
    std::size_t typedLength = charactersTyped();
    std::size_t expectedLength = typedLength > 0 ? heldBefore + typedLength : 0;
    if (expectedLength > wizardTextCapacity - 1)
        expectedLength = wizardTextCapacity - 1;
    bool typed = typeCode();
    DWORD wizardEnd = waitEnd(wizardBound);
    if (!typed) {
        reportNotShown();
        return;
    }
    pause(queryPause);

    wizardWindow = findWizardDialog();
    // Without a key nothing opens the wizard, so only a typed code is worth waiting for.
    if (!wizardWindow && !codeText.empty())
        pollUntil(wizardEnd, [] { return (wizardWindow = findWizardDialog()) != nullptr; });
    if (!wizardWindow) {
        reportNotShown();
        return;
    }
    HWND wizardDialog = wizardWindow;
    wizardWindow = findWizardEdit(wizardDialog);
    pause(queryPause);
    // A wizard caught while it was being created may not have had its edit yet.
    if (!wizardWindow)
        wizardWindow = findWizardEdit(wizardDialog);
    DWORD handOverEnd = waitEnd(wizardSendTimeout);
    if (!waitForKeysTaken(expectedLength, handOverEnd)) {
        reportNotShown();
        return;
    }
    // The typed keys may have been taken in another case; the exact code replaces them.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(wizardWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(codeText.c_str()),
                        SMTO_ABORTIFHUNG, sendTimeout(handOverEnd), &ignored);
    if (!stockProgramInFront()) {
        reportNotShown();
        return;
    }
    pressKey(VK_RETURN);

    recentCount = recentCount > droppedEntry ? fullListSize : recentCount;
    saveRecentCodes(combo, static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)));
    pause(queryPause);
}
