#pragma once
// Progress of a long conversion on a terminal: one status line on standard error, redrawn in
// place, and erased before anything else is written there, so the message log reads exactly
// as it does without it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/log_sink.h"

namespace plotmint {

// "graph.g: pass 3 of 7, fill: 12.5 of 40.0 MB"; a file below a megabyte is counted in bytes.
std::string progress_text(std::string_view graph_file, int pass, int passes, std::string_view what, uint64_t done,
                          uint64_t total);

class ProgressLine {
public:
    // Draws nothing unless `enabled`; the converter enables it for a terminal without --quiet.
    ProgressLine(std::FILE* stream, bool enabled);
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool enabled() const { return enabled_; }
    // Replaces the status line with `text`.
    void show(std::string_view text);
    // Erases the status line, if one is shown.
    void clear();
    // Runs `write` with the status line erased, so nothing it prints mixes with it.
    template <class F>
    void write_around(F&& write) {
        clear();
        write();
    }

private:
    std::FILE* stream_;
    bool enabled_;
    size_t columns_ = 80;  // of the terminal
    size_t shown_ = 0;     // columns of the line on screen; 0 when none is shown
};

// A log that erases the status line before each line it passes on.
class ProgressAwareLog final : public LogSink {
public:
    ProgressAwareLog(LogSink& inner, ProgressLine& progress) : inner_(inner), progress_(progress) {}
    void log_line(std::string_view text) override {
        progress_.write_around([&] { inner_.log_line(text); });
    }

private:
    LogSink& inner_;
    ProgressLine& progress_;
};

}  // namespace plotmint
