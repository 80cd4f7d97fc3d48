#include "stocklink/query.h"

#include "base/other_window.h"
#include "base/pause.h"
#include "base/state.h"
#include "base/ui_text.h"
#include "stocklink/input_method.h"
#include "stocklink/recent_codes_file.h"
#include "stocklink/rights.h"

KeyEvent keyEvent = keybd_event;

namespace {

// The query's working state; nothing outside this file reads it.
CodeText codeText;
int recentCount = 0;
HWND wizardWindow = nullptr; // the wizard, then its edit
FixedText<255> wizardClass;
FixedText<255> wizardTitle;
short keyIndex = 0;
// The keys that type codeText: its letters and digits.
FixedText<longestCode + 1> codeKeys;
DWORD queryStart = 0;
DWORD stockProcess = 0;
QueryOutcome lastOutcome = QueryOutcome::shown;

// From this many entries on (recentFileEntries), each query drops the tenth entry and puts the
// code at the top.
constexpr int droppedEntry = recentFileEntries - 1;
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
    keyEvent(key, 0, 0, 0);
    keyEvent(key, 0, KEYEVENTF_KEYUP, 0);
}

// A responsive stock program meets every step within the fixed pauses and is never polled. A
// busy one is waited for, each wait with a bound of its own, and no wait runs past queryBound,
// so that with the pauses after it a query holds the tool for at most 3.5 s.
constexpr DWORD activationBound = 1000; // from an activation to the stock program in front
constexpr DWORD wizardBound = 2000;     // from the last key to the wizard; for the keys and code
constexpr DWORD queryBound = 3100;      // from the activation to the end of the last wait
constexpr unsigned pollInterval = 10;
// A sent message gets at least this long, so a responsive wizard is reached after a long wait.
constexpr DWORD shortestSend = 50;
// The stock program has come back to the front once it has kept it this long: a program that
// gives the front away again at once gets no key meanwhile.
constexpr DWORD frontHeld = 50;
// The wizard's edit has taken every key it will take once it has not changed for this long, or
// for twice the longest gap seen between its changes, whichever is longer.
constexpr DWORD settleFloor = 250;

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

// A message to the stock program, sent so that it is answered by the end. A send that the
// system refused marks the stock program as one of higher rights; the error is cleared first, so
// that an older refusal is not taken for this one.
bool sendToStockProgram(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD end,
                        DWORD_PTR& result) {
    SetLastError(ERROR_SUCCESS);
    if (stockSend(window, message, wParam, lParam, SMTO_ABORTIFHUNG, sendTimeout(end), &result))
        return true;
    if (GetLastError() == ERROR_ACCESS_DENIED)
        markHigherRights(stockProcess);
    return false;
}

bool refusedForRights() {
    return hasHigherRights(stockProcess);
}

// --- 1. the code into the list ------------------------------------------------------------------

// The list keeps the code as typed, spaces and all, even when it is refused afterwards; the
// stock program gets it without the spaces around it.
void takeCodeIntoList(HWND combo) {
    getWindowTextGbk(combo, codeText);
    recentCount = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    if (recentCount > droppedEntry) {
        // The list no longer grows; the newest code stands at the very top, outside the sort order.
        SendMessageW(combo, CB_DELETESTRING, droppedEntry, 0);
        insertComboItemGbk(combo, 0, codeText.c_str());
    } else {
        addComboItemGbk(combo, codeText.c_str());
    }
    trimSpaces(codeText);
    codeKeys.setSize(keysOfCode(codeText.c_str(), codeText.size(), isGbkLeadByte, codeKeys.buffer(),
                                longestCode));
}

// A code that holds no letter and no digit gets no key, so it could not open the wizard: it is
// refused before anything is done. The empty code goes on, to an open wizard.
bool codeHasNoKeys() {
    return !codeText.empty() && codeKeys.empty();
}

// --- 2. the stock program to the front ----------------------------------------------------------

HWND findWizardDialog();

// Keys go only to the stock program: its main window or its wizard must be in front.
bool stockProgramInFront() {
    DWORD process = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &process);
    return process != 0 && process == stockProcess;
}

bool findStockProcess() {
    stockProcess = 0;
    return stockWindow && GetWindowThreadProcessId(stockWindow, &stockProcess);
}

// The front is the stock program's while one of its windows has it; a wizard left open by an
// earlier query must have it itself, since activating the main window took the focus (and so the
// keys and Enter meant for the wizard) away from it.
bool frontHeldBy(HWND wizard) {
    return wizard ? GetForegroundWindow() == wizard : stockProgramInFront();
}

// The front went elsewhere (the desktop, an alert), or never came: the stock program's own window
// is brought forward again, whenever it is not in front, until it has kept the front for a moment
// or the end. False also when the window has gone.
bool regainFront(HWND target, DWORD end, HWND wizard = nullptr) {
    bool holding = false;
    DWORD since = 0;
    for (;;) {
        if (frontHeldBy(wizard)) {
            if (!holding)
                since = GetTickCount();
            holding = true;
            if (GetTickCount() - since >= frontHeld)
                return true;
        } else {
            holding = false;
            if (!IsWindow(target))
                return false;
            SetForegroundWindow(target);
        }
        if (millisecondsUntil(end) == 0)
            return false;
        pause(pollInterval);
    }
}

// A busy or hung stock program may come to the front late or never; typing meanwhile would
// hand the code to whichever program is in front. One that came at once is not waited for.
bool bringStockProgramForward() {
    SetForegroundWindow(stockWindow);
    bringToTop(stockWindow);
    showWindow(stockWindow, SW_SHOWNOACTIVATE);
    pause(queryPause);
    HWND wizard = findWizardDialog();
    return frontHeldBy(wizard) ||
           regainFront(wizard ? wizard : stockWindow, queryStart + activationBound, wizard);
}

// The stock program's own keyboard wizard. Other market programs open wizards of the same class
// and title; theirs are never read, set or brought forward.
HWND findWizardDialog() {
    wizardClass.assign(wizardDialogClass);
    wizardTitle.assign(wizardDialogTitle);
    HWND wizard = nullptr;
    while ((wizard = findWindowGbk(nullptr, wizard, wizardClass.c_str(), wizardTitle.c_str()))) {
        DWORD process = 0;
        if (GetWindowThreadProcessId(wizard, &process) && process == stockProcess)
            return wizard;
    }
    return nullptr;
}

HWND findWizardEdit(HWND wizard) {
    wizardClass.assign(wizardEditClass);
    return findWindowGbk(wizard, nullptr, wizardClass.c_str(), nullptr);
}

// The window that should have the front while keys are typed: the stock program's wizard once
// it is open, otherwise its main window.
HWND stockWindowForKeys() {
    HWND wizard = findWizardDialog();
    return wizard ? wizard : stockWindow;
}

// --- the input method ---------------------------------------------------------------------------

// A mode switched for the keys, to be put back when the query ends.
struct ImeChange {
    ImeRoute route;
    DWORD mode;
};
// The stock program's focused window, and the wizard's edit.
constexpr int imeChangesKept = 2;
ImeChange imeChanges[imeChangesKept];
int imeChangeCount = 0;
// Each look at an input method; a responsive one answers at once.
constexpr DWORD imeBound = 200;

// The window of the stock program's thread that has the keyboard focus, or its main window.
HWND stockFocus() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(stockWindow, nullptr);
    return thread && GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus
                                                                       : stockWindow;
}

// An input method switched on in Chinese or full-width mode is switched to alphanumeric
// half-width, and the change is kept to be undone. One that does not answer changes nothing.
void keepKeysPlain(HWND window) {
    ImeRoute route = imeRoute(window);
    if (!route.window || imeChangeCount == imeChangesKept)
        return;
    DWORD end = waitEnd(imeBound);
    DWORD_PTR open = 0;
    DWORD_PTR mode = 0;
    if (!sendToStockProgram(route.window, route.message, imeGetOpenStatus, 0, end, open) || !open ||
        !sendToStockProgram(route.window, route.message, imeGetConversionMode, 0, end, mode) ||
        !(mode & imeKeyChangingModes))
        return;
    DWORD_PTR refused = 1;
    if (sendToStockProgram(route.window, route.message, imeSetConversionMode,
                           static_cast<LPARAM>(mode & ~imeKeyChangingModes), end, refused) &&
        refused == 0)
        imeChanges[imeChangeCount++] = {route, static_cast<DWORD>(mode)};
}

// The trader's modes back, the last change first, until only the first `kept` changes remain;
// whatever the query's outcome. Once the query's time is up, each send still gets the shortest
// time a send is given.
void restoreInputMethods(int kept = 0) {
    while (imeChangeCount > kept) {
        const ImeChange& change = imeChanges[--imeChangeCount];
        DWORD_PTR ignored = 0;
        sendToStockProgram(change.route.window, change.route.message, imeSetConversionMode,
                           change.mode, waitEnd(imeBound), ignored);
    }
}

// --- 3. the keys --------------------------------------------------------------------------------

// The stock program opens its keyboard wizard on the first key and collects the rest there.
bool typeCode() {
    for (keyIndex = 1; static_cast<std::size_t>(keyIndex) <= codeKeys.size(); ++keyIndex) {
        if (!stockProgramInFront() && !regainFront(stockWindowForKeys(), waitEnd(activationBound)))
            return false;
        pressKey(static_cast<BYTE>(codeKeys.c_str()[keyIndex - 1]));
    }
    return true;
}

// What the wizard's edit holds, in UTF-16 units: each key puts one there.
constexpr std::size_t wizardTextCapacity = 256;
struct WizardText {
    wchar_t text[wizardTextCapacity];
    std::size_t size;
    bool same(const WizardText& other) const {
        return size == other.size && memcmp(text, other.text, size * sizeof text[0]) == 0;
    }
};

// What the wizard's edit holds; false when the stock program did not answer in time. The text
// itself is read because under Wine a sent WM_GETTEXTLENGTH waited for a hung program well past
// its timeout.
bool readWizardText(HWND edit, DWORD end, WizardText& text) {
    DWORD_PTR length = 0;
    bool answered = sendToStockProgram(edit, WM_GETTEXT, wizardTextCapacity,
                                       reinterpret_cast<LPARAM>(text.text), end, length);
    text.size = answered && length < wizardTextCapacity ? length : 0;
    return answered;
}

// The length the wizard's edit reaches once it took every key; 0 when there is no key. Keys
// typed into a wizard left open by an earlier query add to what it holds.
std::size_t expectedLength() {
    WizardText held = {};
    HWND openWizard = findWizardDialog();
    if (openWizard)
        readWizardText(findWizardEdit(openWizard), waitEnd(0), held);
    std::size_t typed = codeKeys.size();
    std::size_t expected = typed > 0 ? held.size + typed : 0;
    return expected < wizardTextCapacity - 1 ? expected : wizardTextCapacity - 1;
}

// --- 4. the wizard and its keys -----------------------------------------------------------------

// Without a key nothing opens the wizard, so only a typed code is worth waiting for.
bool waitForWizard(DWORD end) {
    wizardWindow = findWizardDialog();
    if (!wizardWindow && !codeText.empty())
        pollUntil(end, [] { return (wizardWindow = findWizardDialog()) != nullptr; });
    return wizardWindow != nullptr;
}

// A sent WM_SETTEXT overtakes keys still waiting in a busy stock program's queue, which would then
// land after the exact code: so the code is handed over only once the edit took every key. That
// is seen when it holds a character for each key, or, for a wizard that keeps fewer (one that
// drops the key that opened it, or shows a text of its own), when it has stopped changing for
// longer than the pace at which the keys arrived. An answer that was long in coming counts as a
// change: the stock program was busy, likely with a key. False when keys were still arriving at
// the end, and when the stock program stopped answering (keys may wait behind whatever holds
// it). A wizard without an edit, or a code without a count, has nothing to wait for.
bool waitForKeysTaken(std::size_t expected, DWORD end) {
    if (!wizardWindow || expected == 0)
        return true;
    WizardText seen = {};
    bool first = true;
    DWORD lastChange = 0;
    DWORD longestGap = 0;
    for (;;) {
        DWORD asked = GetTickCount();
        WizardText text;
        if (!readWizardText(wizardWindow, end, text))
            return false;
        DWORD now = GetTickCount();
        if (text.size >= expected)
            return true;
        if (first || !text.same(seen) || now - asked >= settleFloor) {
            if (!first && now - lastChange > longestGap)
                longestGap = now - lastChange;
            lastChange = now;
            seen = text;
            first = false;
        }
        DWORD settle = 2 * longestGap > settleFloor ? 2 * longestGap : settleFloor;
        if (now - lastChange >= settle)
            return true;
        if (millisecondsUntil(end) == 0)
            return false;
        pause(pollInterval);
    }
}

// --- 5. the exact code and Enter ----------------------------------------------------------------

// The typed keys may have been taken in another case; the exact code replaces them. Only a send
// refused for the stock program's rights stops the query: a wizard without an edit, or one that
// did not answer, still gets Enter.
bool setExactCode(DWORD end) {
    DWORD_PTR ignored = 0;
    WideText code(codeText.c_str());
    sendToStockProgram(wizardWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(code.get()), end,
                       ignored);
    return !refusedForRights();
}

// Brings the stock program forward, types the code, waits for its wizard and for the keys to be
// taken, sets the exact code and presses Enter; the first step that fails names the outcome.
QueryOutcome handCodeToStockProgram() {
    queryStart = GetTickCount();
    if (!findStockProcess())
        return QueryOutcome::noStockProgram;
    if (refusedForRights())
        return QueryOutcome::higherRights;
    if (!bringStockProgramForward())
        return QueryOutcome::notInFront;
    keepKeysPlain(stockFocus());
    std::size_t expected = expectedLength();
    if (refusedForRights())
        return QueryOutcome::higherRights;
    bool typed = typeCode();
    DWORD wizardEnd = waitEnd(wizardBound);
    if (!typed)
        return QueryOutcome::notInFront;
    pause(queryPause);

    if (!waitForWizard(wizardEnd))
        return QueryOutcome::noWizard;
    HWND wizardDialog = wizardWindow;
    wizardWindow = findWizardEdit(wizardDialog);
    pause(queryPause);
    // A wizard caught while it was being created may not have had its edit yet.
    if (!wizardWindow)
        wizardWindow = findWizardEdit(wizardDialog);
    DWORD handOverEnd = waitEnd(wizardBound);
    if (!waitForKeysTaken(expected, handOverEnd))
        return refusedForRights() ? QueryOutcome::higherRights : QueryOutcome::stillTakingKeys;
    // The edit may have an input method of its own, still holding a composition that would
    // swallow Enter. Asked only now, so that a busy program answers it after its keys.
    int changesBeforeEdit = imeChangeCount;
    if (wizardWindow)
        keepKeysPlain(wizardWindow);
    if (!setExactCode(handOverEnd))
        return QueryOutcome::higherRights;
    // The edit's mode goes back while the edit is still there, since Enter closes the wizard and
    // the edit's own input context with it. No composition is left, so Enter passes in any mode.
    restoreInputMethods(changesBeforeEdit);
    if (!stockProgramInFront() && !regainFront(wizardDialog, waitEnd(activationBound)))
        return QueryOutcome::notInFront;
    pressKey(VK_RETURN);
    return QueryOutcome::shown;
}

// The one exit of a query that showed nothing: the user hears it at once, and the shell shows
// why. A refusal for rights is the notice of that process's rights, given once.
QueryOutcome notShown(QueryOutcome outcome) {
    if (outcome == QueryOutcome::higherRights)
        takeRightsNotice(stockProcess);
    MessageBeep(MB_ICONWARNING);
    return outcome;
}

// The list as it is now, its first entries into DAIMA.DAT.
void saveList(HWND combo) {
    recentCount = recentCount > droppedEntry ? recentFileEntries : recentCount;
    saveRecentCodes(combo, static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)));
    pause(queryPause);
}

} // namespace

QueryOutcome handleQuery() {
    HWND combo = GetDlgItem(mainWindow, codeComboId);
    takeCodeIntoList(combo);
    if (codeText.size() > longestCode) {
        WideText text(tooLongMessage);
        WideText title(programTitle);
        MessageBoxW(nullptr, text.get(), title.get(), tooLongStyle);
        return lastOutcome = QueryOutcome::refused;
    }
    if (codeHasNoKeys())
        return lastOutcome = notShown(QueryOutcome::noLettersOrDigits);
    QueryOutcome outcome = handCodeToStockProgram();
    restoreInputMethods();
    if (outcome != QueryOutcome::shown)
        return lastOutcome = notShown(outcome);
    saveList(combo);
    return lastOutcome = QueryOutcome::shown;
}

QueryOutcome lastQueryOutcome() {
    return lastOutcome;
}

void resetQueryState() {
    codeText.clear();
    recentCount = 0;
    wizardWindow = nullptr;
    wizardClass.clear();
    wizardTitle.clear();
    keyIndex = 0;
    codeKeys.clear();
    imeChangeCount = 0;
    keyEvent = keybd_event;
    imeRoute = defaultImeRoute;
    queryStart = 0;
    stockProcess = 0;
    lastOutcome = QueryOutcome::shown;
    resetRights();
}
