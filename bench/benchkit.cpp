#include "benchkit.h"

#include <algorithm>
#include <cstdio>

namespace benchkit {

Summary summarize(std::vector<double> samples) {
    Summary summary;
    summary.count = samples.size();
    if (samples.empty())
        return summary;
    std::sort(samples.begin(), samples.end());
    std::size_t middle = samples.size() / 2;
    summary.median =
        samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2.0;
    summary.min = samples.front();
    summary.max = samples.back();
    return summary;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string withRange(const Summary& summary, int decimals) {
    return fixed(summary.median, decimals) + " (" + fixed(summary.min, decimals) + "-" +
           fixed(summary.max, decimals) + ")";
}

Table::Table(const char* path) {
    char full[MAX_PATH];
    DWORD size = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    path_ = size > 0 && size < MAX_PATH ? full : path;
}

void Table::row(const std::string& benchmark, const std::string& talvero,
                const std::string& reference, const std::string& result, const std::string& target,
                bool met) {
    std::FILE* file = std::fopen(path_.c_str(), "ab");
    if (!file)
        return;
    std::fprintf(file, "%s\t%s\t%s\t%s\t%s\t%s\n", benchmark.c_str(), talvero.c_str(),
                 reference.c_str(), result.c_str(), target.c_str(), met ? "met" : "MISSED");
    std::fclose(file);
}

void Table::note(const std::string& benchmark, const std::string& talvero,
                 const std::string& reference, const std::string& result) {
    std::FILE* file = std::fopen(path_.c_str(), "ab");
    if (!file)
        return;
    std::fprintf(file, "%s\t%s\t%s\t%s\t-\t-\n", benchmark.c_str(), talvero.c_str(),
                 reference.c_str(), result.c_str());
    std::fclose(file);
}

} // namespace benchkit
