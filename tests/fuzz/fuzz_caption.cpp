// Arbitrary terminal captions through the comma splitter and the chart-title reader.
#include "termlink/caption.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool holds) {
    if (!holds)
        std::abort();
}

std::string without(const TextView& field, char dropped) {
    std::string text;
    for (std::size_t i = 0; i < field.size; ++i) {
        if (field.data[i] != dropped)
            text += field.data[i];
    }
    return text;
}

// Splits the text and checks each field against the bytes it came from; returns the last two.
void checkFields(const char* text, std::size_t size, TextView& secondToLast, TextView& last) {
    const char* end = text + size;
    std::size_t commas = static_cast<std::size_t>(std::count(text, end, ','));
    std::size_t count = 0;
    secondToLast = last = {text, 0};
    CommaFields fields(text, size);
    TextView field;
    while (fields.next(field)) {
        ++count;
        check(count <= commas + 1);
        check(field.data >= text && field.data <= end && field.size <= size_t(end - field.data));
        bool quoted = field.data > text && field.data[-1] == '"';
        if (!quoted && field.size > 0) {
            check(std::memchr(field.data, ',', field.size) == nullptr);
            check(field.data[0] != ' ' && field.data[field.size - 1] != ' ');
        }
        if (quoted)
            check(std::memchr(field.data, '"', field.size) == nullptr);
        secondToLast = last;
        last = field;
    }
    check(count >= 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A buffer of exactly the input's size, so that a read past the caption is caught.
    char* caption = new char[size > 0 ? size : 1];
    std::memcpy(caption, data, size);

    TextView secondToLast;
    TextView last;
    checkFields(caption, size, secondToLast, last);

    ChartTitle title;
    bool whole = chartTitleFromCaption(caption, size, title);
    for (std::size_t i = 0; i < size; ++i)
        check(caption[i] == (data[i] == '-' ? ',' : static_cast<char>(data[i])));

    checkFields(caption, size, secondToLast, last);
    std::string expected = without(secondToLast, '[') + "," + without(last, ']');
    std::string got(title.c_str(), title.size());
    check(got.size() <= ChartTitle::maxSize && title.c_str()[got.size()] == '\0');
    check(whole == (expected.size() <= ChartTitle::maxSize));
    check(whole ? got == expected : got == expected.substr(0, ChartTitle::maxSize));

    delete[] caption;
    return 0;
}
