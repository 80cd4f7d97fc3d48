#include "stocklink/handle_file.h"

#include "base/file.h"
#include "stocklink/handle_bytes.h"

#include <cstdint>

void readHandleFile(HWND& window) {
    File file(handleFileName, GENERIC_READ, OPEN_ALWAYS);
    if (!file.isOpen())
        return;
    unsigned char bytes[handleFileBytes];
    DWORD got = 0;
    if (ReadFile(file, bytes, sizeof bytes, &got, nullptr))
        window = reinterpret_cast<HWND>(handleFromFileValue(handleFromFileBytes(bytes, got)));
}

void writeHandleFile(HWND window) {
    File file(handleFileName, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (!file.isOpen())
        return;
    unsigned char bytes[handleFileBytes];
    handleToFileBytes(handleToFileValue(reinterpret_cast<std::uintptr_t>(window)), bytes);
    DWORD written = 0;
    WriteFile(file, bytes, sizeof bytes, &written, nullptr);
}
