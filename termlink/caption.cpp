#include "termlink/caption.h"

namespace {

const char* findByte(const char* from, const char* end, char byte) {
    while (from < end && *from != byte)
        ++from;
    return from;
}

// Appends the field without any of the bytes equal to dropped.
bool appendWithout(ChartTitle& title, TextView field, char dropped) {
    bool whole = true;
    for (std::size_t i = 0; i < field.size; ++i) {
        if (field.data[i] != dropped)
            whole = title.push(field.data[i]) && whole;
    }
    return whole;
}

} // namespace

bool CommaFields::next(TextView& field) {
    if (done_)
        return false;
    const char* end = text_ + size_;
    const char* at = text_ + pos_;
    while (at < end && *at == ' ')
        ++at;
    const char* comma;
    if (at < end && *at == '"') {
        const char* value = at + 1;
        const char* closing = findByte(value, end, '"');
        field = {value, static_cast<std::size_t>(closing - value)};
        comma = closing < end ? findByte(closing + 1, end, ',') : end;
    } else {
        comma = findByte(at, end, ',');
        const char* valueEnd = comma;
        while (valueEnd > at && valueEnd[-1] == ' ')
            --valueEnd;
        field = {at, static_cast<std::size_t>(valueEnd - at)};
    }
    if (comma < end)
        pos_ = static_cast<std::size_t>(comma + 1 - text_);
    else
        done_ = true;
    return true;
}

bool chartTitleFromCaption(char* caption, std::size_t size, ChartTitle& title) {
    for (std::size_t i = 0; i < size; ++i) {
        if (caption[i] == '-')
            caption[i] = ',';
    }
    TextView secondToLast = {caption, 0};
    TextView last = {caption, 0};
    TextView field;
    CommaFields fields(caption, size);
    while (fields.next(field)) {
        secondToLast = last;
        last = field;
    }
    // With one field, secondToLast is still the empty view it started as.
    title.clear();
    bool whole = appendWithout(title, secondToLast, '[');
    whole = title.push(',') && whole;
    whole = appendWithout(title, last, ']') && whole;
    return whole;
}
