// The window-handle file fxwindows.dat: the stock program's main window as 4 raw bytes,
// least significant first, at offset 0. Bytes after the fourth are never written and ignored.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t handleFileBytes = 4;

// The handle held by the first count bytes of the file (count at most 4); missing high-order
// bytes are 0, so an empty file gives 0.
inline std::uint32_t handleFromFileBytes(const unsigned char* bytes, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count && i < handleFileBytes; ++i)
        value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return value;
}

inline void handleToFileBytes(std::uint32_t value, unsigned char* bytes) {
    for (std::size_t i = 0; i < handleFileBytes; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Windows keeps window handles within 32 significant bits, so that 32- and 64-bit programs can
// pass them to each other: a 64-bit program drops the upper half to pass one on (HandleToLong) and
// widens a 32-bit value with its sign to use it (LongToHandle). The file holds that 32-bit value,
// whichever of the two programs wrote it.
inline std::uint32_t handleToFileValue(std::uintptr_t handle) {
    return static_cast<std::uint32_t>(handle);
}

inline std::uintptr_t handleFromFileValue(std::uint32_t value) {
    std::uintptr_t handle = value;
    if (value & 0x80000000u)
        handle |= ~static_cast<std::uintptr_t>(0xFFFFFFFFu);
    return handle;
}
