#include "app/cli/progress_line.h"

#include "base/format.h"
#include "base/platform.h"

namespace plotmint {

namespace {

std::string amount(uint64_t bytes, uint64_t scale_of) {
    if (scale_of < 1024 * 1024) return strformat("%llu", static_cast<unsigned long long>(bytes));
    return strformat("%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {
    if (!enabled_) return;
    if (const int columns = platform::terminal_columns(stream_); columns > 0) columns_ = static_cast<size_t>(columns);
}

std::string progress_text(std::string_view graph_file, int pass, int passes, std::string_view what, uint64_t done,
                          uint64_t total) {
    if (done > total) done = total;
    const char* unit = total < 1024 * 1024 ? "bytes" : "MB";
    return strformat("%.*s: pass %d of %d, %.*s: %s of %s %s", static_cast<int>(graph_file.size()), graph_file.data(),
                     pass, passes, static_cast<int>(what.size()), what.data(), amount(done, total).c_str(),
                     amount(total, total).c_str(), unit);
}

void ProgressLine::show(std::string_view text) {
    if (!enabled_) return;
    // A line wider than the terminal would wrap, and "\r" only returns to its last row.
    std::string line(text);
    if (columns_ > 4 && line.size() >= columns_) {
        size_t cut = line.size() - (columns_ - 4);
        // Not inside a UTF-8 sequence of the file name.
        while (cut < line.size() && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) ++cut;
        line = "..." + line.substr(cut);
    }
    std::fputc('\r', stream_);
    std::fwrite(line.data(), 1, line.size(), stream_);
    // Blanks over what a longer previous line leaves, then back to the end of this one.
    if (shown_ > line.size()) {
        const size_t pad = shown_ - line.size();
        for (size_t i = 0; i < pad; ++i) std::fputc(' ', stream_);
        for (size_t i = 0; i < pad; ++i) std::fputc('\b', stream_);
    }
    std::fflush(stream_);
    shown_ = line.size();
}

void ProgressLine::clear() {
    if (shown_ == 0) return;
    std::fputc('\r', stream_);
    for (size_t i = 0; i < shown_; ++i) std::fputc(' ', stream_);
    std::fputc('\r', stream_);
    std::fflush(stream_);
    shown_ = 0;
}

}  // namespace plotmint
