#include "stocklink/handle_file.h"

#include "stocklink/handle_bytes.h"

#include <cstdint>

void readHandleFile(HWND& window) {
    HANDLE file = CreateFileA(handleFileName, GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    unsigned char bytes[handleFileBytes];
    DWORD got = 0;
    if (ReadFile(file, bytes, sizeof bytes, &got, nullptr))
        window = reinterpret_cast<HWND>(handleFromFileValue(handleFromFileBytes(bytes, got)));
    CloseHandle(file);
}

void writeHandleFile(HWND window) {
    HANDLE file = CreateFileA(handleFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    unsigned char bytes[handleFileBytes];
    handleToFileBytes(handleToFileValue(reinterpret_cast<std::uintptr_t>(window)), bytes);
    DWORD written = 0;
    WriteFile(file, bytes, sizeof bytes, &written, nullptr);
    CloseHandle(file);
}
