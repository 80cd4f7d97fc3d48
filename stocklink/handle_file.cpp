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
        window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(handleFromFileBytes(bytes, got)));
    CloseHandle(file);
}

void writeHandleFile(HWND window) {
    HANDLE file = CreateFileA(handleFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    unsigned char bytes[handleFileBytes];
    // Window handles are 32-bit values, also in a 64-bit process.
    handleToFileBytes(static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(window)), bytes);
    DWORD written = 0;
    WriteFile(file, bytes, sizeof bytes, &written, nullptr);
    CloseHandle(file);
}
