#include "stocklink/recent_codes_file.h"

#include "base/file.h"
#include "base/ui_text.h"
#include "stocklink/recent_codes.h"

namespace {

constexpr const char* recentCodesFileName = "DAIMA.DAT";
// The new list is written beside the file and moved over it only when it is complete.
constexpr const char* recentCodesTempName = "DAIMA.DAT.new";

} // namespace

void loadRecentCodes(HWND combo) {
    File file(recentCodesFileName, GENERIC_READ, OPEN_EXISTING,
              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
    if (!file.isOpen())
        return;
    RecentCodeLineReader reader(isGbkLeadByte);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            if (reader.take(chunk[i]))
                addComboItemGbk(combo, reader.entry().c_str());
        }
    }
    if (reader.finish())
        addComboItemGbk(combo, reader.entry().c_str());
}

void saveRecentCodes(HWND combo, int entries) {
    // Replacing the file would succeed under an administrator's rights; the user's read-only
    // flag says the list must stay as it is.
    DWORD attributes = GetFileAttributesA(recentCodesFileName);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return;
    char bytes[recentFileMaxBytes];
    std::size_t size = 0;
    CodeText entry;
    for (int index = 0; index < entries && index < recentFileEntries; ++index) {
        getComboItemGbk(combo, index, entry);
        if (!entry.empty())
            size += formatRecentCodeLine(entry.c_str(), entry.size(), bytes + size);
    }
    bool complete = false;
    {
        // Closed before the move, which a file still held open would make fail.
        File file(recentCodesTempName, GENERIC_WRITE, CREATE_ALWAYS);
        if (!file.isOpen())
            return;
        DWORD written = 0;
        complete = WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) &&
                   written == size && FlushFileBuffers(file);
    }
    if (!complete || !MoveFileExA(recentCodesTempName, recentCodesFileName,
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(recentCodesTempName);
}
