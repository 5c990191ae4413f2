#pragma once
// Streams a graph file as integer triples. The file is read through a fixed buffer and
// rewound for every pass; it is never held in memory.
//
// Parsing the text is the dearest part of a pass, and a draw run makes up to six passes
// over the same file. So the first pass over a file also writes each record, in a compact
// binary form, to an unlinked temporary file, and the passes after it read the records
// back from there through a fixed buffer. Every pass yields exactly the same records and
// ends exactly as the text would make it end (including an item that is not an integer);
// only the work per record differs. A reader that is closed keeps its record file for its
// next open() of the same, unchanged file (colour-table discovery and the draw run after it
// read through one reader), until release() or its destruction.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/log_sink.h"

namespace plotmint {

class Worker;

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

// Sees the records of a first pass that is parsed in two, half by half: each half's
// records in order, some at a time, on the thread that parses that half. start() comes
// before the first.
class RecordFold {
public:
    virtual ~RecordFold() = default;
    virtual void start() = 0;
    virtual void add(const Record* records, size_t count) = 0;
};

class RecordReader {
public:
    // pass counts the rewinds since open (1 for the first pass); bytes are graph-file bytes.
    using Progress = std::function<void(uint32_t pass, uint64_t bytes_done, uint64_t bytes_total)>;

    RecordReader();
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // Opens `path`; a record file kept from the last opening is used again when `path` is
    // still the same, unchanged file, and dropped otherwise.
    // Only a regular file opens: a folder, a pipe or a device is refused, see open_error().
    bool open(const std::string& path);
    // Why the last open() failed, as the system or the platform layer says it.
    const std::string& open_error() const { return open_error_; }
    // The path named something other than a regular file.
    bool refused_kind() const { return refused_kind_; }
    // Reads from memory instead of a file (tests, fuzzers). Memory is never cached.
    void open_memory(std::string data);
    void close();
    // close(), and the record file goes too.
    void release();
    bool is_open() const;

    // Back to the start of the file; the next read_record gives the first record.
    void rewind();
    // Fills `r` with the next three integers; false at end of data, and also at an item
    // that is not a 32-bit integer (the pass ends there; see bad_item()).
    bool read_record(Record& r) {
        if (cache_pos_ < cache_len_) {
            // A record of the record file: see record_reader.cpp for its two forms.
            const unsigned char* q = cache_buf_.get() + cache_pos_;
            if (q[0] != 0x80) {
                int16_t a, b;
                std::memcpy(&a, q + 1, 2);
                std::memcpy(&b, q + 3, 2);
                r = Record{static_cast<int8_t>(q[0]), a, b};
                cache_pos_ += 5;
            } else {
                cache_pos_ += 1 + read_long_form(q + 1, r);
            }
            return true;
        }
        return read_record_slow(r);
    }

    // Set once a pass met an item that is not an integer, or a partial record at the end.
    bool bad_item() const { return bad_item_; }
    // Set when the file could not be read or rewound (a directory, an I/O error, a file that
    // cannot seek): the pass ended early for want of data, not at the data's end.
    bool read_failed() const { return read_failed_; }
    std::string read_error() const;  // why, as the system says it
    // The byte offset of that item (for the log line).
    uint64_t bad_item_offset() const { return bad_offset_; }
    // Bytes of the graph file consumed so far in this pass (progress). While records come
    // from the record file this is exact to within about a megabyte.
    uint64_t position() const;
    // Size of the graph file (or of the memory) when opened.
    uint64_t size() const { return size_; }

    // Called at every rewind with bytes_done 0 and then about every 4 MiB of the pass;
    // never per record.
    void set_progress(Progress progress) { progress_ = std::move(progress); }

    // Files of at least this many bytes are parsed once and then read back as binary
    // records (1 MiB unless changed; 0 caches every file, UINT64_MAX none). Takes effect at
    // the next open().
    void set_cache_threshold(uint64_t bytes) { cache_threshold_ = bytes; }
    // With a worker, the first pass over a file of at least split_threshold bytes that has a
    // record file parses its second half on the worker while this thread parses the first,
    // and then gives its records from the record file: the same records, in the same order,
    // ending the same way. The worker must outlive the reader's use of it; nullptr (the
    // default) parses in one line. See the end of record_reader.cpp.
    void set_worker(Worker* worker) { worker_ = worker; }
    void set_split_threshold(uint64_t bytes) { split_threshold_ = bytes; }
    // Whether the last first pass was parsed in two halves (tests).
    bool parsed_in_two() const { return parsed_in_two_; }
    // Folds that see the two halves' records when a first pass is parsed in two; both or
    // neither (nullptr). They must outlive the reader's use of them.
    void set_split_folds(RecordFold* head, RecordFold* tail) {
        head_fold_ = head;
        tail_fold_ = tail;
    }
    // Whether the records of the open file are, all of them, what the folds saw: the
    // head fold the first ones and the tail fold the rest, in order, and the pass ends
    // after them as after the tail's last. Holds as long as the record file is kept.
    bool split_folded() const;
    // Ends this pass as reading every record from here would end it (bad_item() included),
    // without reading them; only while the records come from a complete record file.
    // Returns whether it could.
    bool skip_to_end();

    // Whether the records of this pass come from the record file (tests).
    bool reading_cached_records() const { return mode_ == Mode::cache; }
    // Bytes the record file holds so far (tests).
    uint64_t record_file_bytes() const;

    struct Cache;  // the binary record file of one graph file

private:
    enum class Mode { text, cache };
    // The long form of the record file: three zigzag varints; returns the bytes it took.
    static size_t read_long_form(const unsigned char* q, Record& r);
    static size_t buffer_size_for(uint64_t file_size, size_t most);
    void restart();  // rewind() without counting a pass or reporting progress
    bool read_record_slow(Record& r);
    bool read_text_record(Record& r);
    bool refill();
    bool next_int(int32_t& v);
    void start_text_at(uint64_t offset);
    bool refill_cache();
    void append_to_cache(const Record& r, uint64_t text_start);
    void finish_cache(bool bad, uint64_t bad_offset);
    void drop_cache();
    void recover_from_cache_failure();
    void report_progress();
    bool parse_in_two();
    uint64_t find_split();
    bool merge_tail(RecordReader& tail);

    std::FILE* file_ = nullptr;
    std::string memory_;
    bool from_memory_ = false;
    uint64_t size_ = 0;

    // Text parsing: buf_ holds bytes [consumed_, consumed_ + len_) of the file and a zero
    // byte after them, which ends every scan without a bounds check.
    std::unique_ptr<char[]> buf_;
    size_t buf_capacity_ = 0;
    size_t len_ = 0, pos_ = 0;
    uint64_t consumed_ = 0;
    bool eof_ = false;
    bool bad_item_ = false;
    bool read_failed_ = false;
    int read_errno_ = 0;
    std::string open_error_;
    bool refused_kind_ = false;
    uint64_t bad_offset_ = 0;
    // Numbers parsed ahead from the bytes at ahead_base_: values and the offsets after them.
    int32_t ahead_values_[32];
    uint8_t ahead_ends_[32];
    int ahead_count_ = 0, ahead_next_ = 0;
    size_t ahead_base_ = 0;

    // Cached records: cache_buf_ holds the segment before cache_segment_ of the record file.
    Mode mode_ = Mode::text;
    std::unique_ptr<Cache> cache_;
    std::unique_ptr<unsigned char[]> cache_buf_;
    size_t cache_buf_capacity_ = 0;
    size_t cache_len_ = 0, cache_pos_ = 0;
    size_t cache_segment_ = 0;
    uint64_t cache_threshold_ = uint64_t{1} << 20;
    bool appending_ = false;  // this pass parses text at the end of the cached records

    // Parsing in two: the first half stops at text_limit_ as at the end of the file; where
    // it stopped, and whether a record was cut there.
    Worker* worker_ = nullptr;
    RecordFold* head_fold_ = nullptr;
    RecordFold* tail_fold_ = nullptr;
    uint64_t split_threshold_ = uint64_t{8} << 20;
    bool split_tried_ = false;
    bool parsed_in_two_ = false;
    uint64_t text_limit_ = UINT64_MAX;
    bool head_stopped_ = false;
    bool head_cut_ = false;
    uint64_t head_stop_ = 0;
    std::string path_;

    Progress progress_;
    uint32_t pass_ = 0;
    uint64_t next_report_ = 0;
};

}  // namespace plotmint
