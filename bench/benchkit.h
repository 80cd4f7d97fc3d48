// What the benchmark programs share: a clock, medians, the table rows they hand to scripts/bench,
// and the reference dialog that Talvero's main window is compared against.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace benchkit {

// Milliseconds from an arbitrary start, from the performance counter.
double nowMs();

struct Summary {
    double median = 0;
    double min = 0;
    double max = 0;
    std::size_t count = 0;
};
Summary summarize(std::vector<double> samples);

// "12.34" with the given number of decimals.
std::string fixed(double value, int decimals);
// "82.1 (76.0-95.2)": median with min and max.
std::string withRange(const Summary& summary, int decimals);

// One row of the table that scripts/bench prints, appended as tab-separated fields to the file
// named on the command line (opened before the benchmark changes its current directory).
class Table {
  public:
    explicit Table(const char* path);
    void row(const std::string& benchmark, const std::string& talvero, const std::string& reference,
             const std::string& result, const std::string& target, bool met);
    // A row that gives context to the one above it, with no target of its own.
    void note(const std::string& benchmark, const std::string& talvero,
              const std::string& reference, const std::string& result);

  private:
    std::string path_;
};

// Reads bytes 0 to 3 of fxwindows.dat as the behaviour requires on every message: open always,
// no sharing, one 4-byte read, close. The reference procedures make exactly this call sequence.
void reloadHandleFile(HWND& window);

// A dialog from the same in-memory template as Talvero's main window (same style, size and font),
// with the given caption, at the given position in dialog units, hidden. Its procedure is the one
// given.
HWND createDialogLikeTalvero(DLGPROC procedure, const char* caption, short x, short y);
// The same, made topmost and shown, as Talvero's main window is.
HWND createReferenceDialog(DLGPROC procedure, const char* caption, short x, short y);

// Top-left corner of Talvero's main window and of a reference dialog below it, in dialog units.
constexpr short talveroX = 221;
constexpr short referenceY = 245;

} // namespace benchkit
