#include "stocklink/query.h"

#include "base/state.h"
#include "base/other_window.h"
#include "base/pause.h"
#include "base/ui_text.h"

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

// The new list is written beside the file and moved over it only when it is complete.
constexpr const char* recentCodesTempName = "DAIMA.DAT.new";

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

void bringStockProgramForward() {
    SetForegroundWindow(stockWindow);
    bringToTop(stockWindow);
    showWindow(stockWindow, SW_SHOWNOACTIVATE);
}

// The stock program opens its keyboard wizard on the first key and collects the rest there.
void typeCode() {
    for (keyIndex = 1; static_cast<std::size_t>(keyIndex) <= codeText.size(); ++keyIndex) {
        char key = codeText.c_str()[keyIndex - 1];
        CharUpperBuffA(&key, 1);
        pressKey(static_cast<BYTE>(key));
    }
}

} // namespace

void saveRecentCodes(HWND combo, int entries) {
    // Replacing the file would succeed under an administrator's rights; the user's read-only
    // flag says the list must stay as it is.
    DWORD attributes = GetFileAttributesA(recentCodesFileName);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return;
    char bytes[recentFileMaxBytes];
    std::size_t size = 0;
    for (int index = 0; index < entries && index < recentFileEntries; ++index) {
        getComboItemAnsi(combo, index, codeText);
        if (!codeText.empty())
            size += formatRecentCodeLine(codeText.c_str(), codeText.size(), bytes + size);
    }
    HANDLE file = CreateFileA(recentCodesTempName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    bool complete = WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) &&
                    written == size && FlushFileBuffers(file);
    CloseHandle(file);
    if (!complete || !MoveFileExA(recentCodesTempName, recentCodesFileName,
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(recentCodesTempName);
}

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

    bringStockProgramForward();
    pause(queryPause);
    typeCode();
    pause(queryPause);

    wizardClass.assign(wizardDialogClass);
    wizardTitle.assign(wizardDialogTitle);
    wizardWindow = FindWindowA(wizardClass.c_str(), wizardTitle.c_str());
    if (!wizardWindow)
        return;
    wizardClass.assign(wizardEditClass);
    wizardWindow = FindWindowExA(wizardWindow, nullptr, wizardClass.c_str(), nullptr);
    pause(queryPause);
    // The typed keys may have been taken in another case; the exact code replaces them.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(wizardWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(codeText.c_str()),
                        SMTO_ABORTIFHUNG, wizardSendTimeout, &ignored);
    pressKey(VK_RETURN);

    recentCount = recentCount > droppedEntry ? fullListSize : recentCount;
    saveRecentCodes(combo, static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)));
    pause(queryPause);
}
