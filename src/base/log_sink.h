#pragma once
// Messages leave the core through this one interface: the window appends them to its
// message log, the converter prints them, tests collect them.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace plotmint {

class LogSink {
public:
    virtual ~LogSink() = default;
    // One text becomes one new line of the log. A text that ends in "\n" keeps it.
    virtual void log_line(std::string_view text) = 0;
};

// Collects lines; used by tests and by callers that forward lines later.
class VectorLog final : public LogSink {
public:
    void log_line(std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

// Writes each line to a stdio stream followed by a line feed.
class StreamLog final : public LogSink {
public:
    explicit StreamLog(std::FILE* stream) : stream_(stream) {}
    void log_line(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stream_);
        std::fputc('\n', stream_);
        std::fflush(stream_);
    }

private:
    std::FILE* stream_;
};

// Discards everything (fuzzers, benchmarks).
class NullLog final : public LogSink {
public:
    void log_line(std::string_view) override {}
};

}  // namespace plotmint
