// Arbitrary window-handle files: the handle read from their first bytes, and written back.
#include "stocklink/handle_bytes.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool holds) {
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t count = 0; count <= size; ++count) {
        std::uint64_t expected = 0;
        std::uint64_t weight = 1;
        for (std::size_t i = 0; i < count && i < handleFileBytes; ++i, weight *= 256)
            expected += data[i] * weight;
        std::uint32_t handle = handleFromFileBytes(data, count);
        check(handle == expected);

        unsigned char bytes[handleFileBytes + 1] = {0, 0, 0, 0, 0x5A};
        handleToFileBytes(handle, bytes);
        check(bytes[handleFileBytes] == 0x5A);
        for (std::size_t i = 0; i < handleFileBytes; ++i)
            check(bytes[i] == (i < count ? data[i] : 0));
        check(handleFromFileBytes(bytes, handleFileBytes) == handle);
    }
    return 0;
}
