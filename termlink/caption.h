// The terminal's caption and the active chart's title read from it, without the window system.
//
// The terminal's caption ends in " - [symbol,period]": the last two comma fields, once every
// hyphen is read as a comma, name the active chart.
#pragma once

#include "base/fixed_text.h"

#include <cstddef>

// A chart title as the terminal names its chart windows: "symbol,period".
using ChartTitle = FixedText<512>;

struct TextView {
    const char* data;
    std::size_t size;
};

// The comma fields of a text, read left to right. Blanks before a field and after an unquoted
// field are dropped; a field that opens with a double quote runs to the next double quote (commas
// inside count as text; what follows the closing quote up to the comma is dropped). There is
// always at least one field: a comma at the very end is followed by one more, empty field.
class CommaFields {
  public:
    CommaFields(const char* text, std::size_t size) : text_(text), size_(size) {}

    // The next field, or false when all have been read.
    bool next(TextView& field);

  private:
    const char* text_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool done_ = false;
};

// The active chart's title: the second-to-last field without "[", a comma, and the last field
// without "]". A caption with a single field has an empty second-to-last field. The caption is
// rewritten in place (each "-" becomes ","). Returns false when the title was cut to fit.
bool chartTitleFromCaption(char* caption, std::size_t size, ChartTitle& title);
