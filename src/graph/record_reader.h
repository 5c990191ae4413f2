#pragma once
// Streams a graph file as integer triples. The file is read through a fixed buffer and
// rewound for every pass; it is never held in memory.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "base/log_sink.h"

namespace plotmint {

struct Record {
    int32_t code = 0, a = 0, b = 0;
    friend bool operator==(const Record&, const Record&) = default;
};

// Record codes that some reader acts on.
namespace code {
constexpr int32_t draw_to = 2, move_to = 3, set_width = 5, set_color = 6, fill_begin = 7,
                  fill_end = 9, hershey_begin = 10, hershey_end = 13, hershey_char = 20,
                  vhline_begin = 21, vhline_end = 24, text_begin = 25, text_end = 29,
                  overlay_fill_begin = 30, overlay_fill_end = 32, table_name_begin = 33,
                  table_name_end = 35, end_of_plot = -999;
}

class RecordReader {
public:
    RecordReader();
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    bool open(const std::string& path);
    // Reads from memory instead of a file (tests, fuzzers).
    void open_memory(std::string data);
    void close();
    bool is_open() const;

    // Back to the start of the file; the next read_record gives the first record.
    void rewind();
    // Fills `r` with the next three integers; false at end of data, and also at an item
    // that is not a 32-bit integer (the pass ends there; see bad_item()).
    bool read_record(Record& r);

    // Set once a pass met an item that is not an integer, or a partial record at the end.
    bool bad_item() const { return bad_item_; }
    // The byte offset of that item (for the log line).
    uint64_t bad_item_offset() const { return bad_offset_; }
    // Bytes consumed so far in this pass (progress).
    uint64_t position() const { return consumed_ + pos_; }

private:
    bool refill();
    bool next_int(int32_t& v);

    std::FILE* file_ = nullptr;
    std::string memory_;
    bool from_memory_ = false;
    std::unique_ptr<char[]> buf_;
    size_t len_ = 0, pos_ = 0;
    uint64_t consumed_ = 0;
    bool eof_ = false;
    bool bad_item_ = false;
    uint64_t bad_offset_ = 0;
};

}  // namespace plotmint
