#include "graph/record_reader.h"

#include <cstring>

namespace plotmint {

namespace {
constexpr size_t kBufferSize = 1 << 20;
// The longest integer token we accept; anything longer is not a 32-bit integer. Leading
// zeros are allowed, so this is about buffer space, not value: values are range-checked.
constexpr size_t kMaxToken = 64;

inline bool is_space(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
}  // namespace

RecordReader::RecordReader() : buf_(new char[kBufferSize + kMaxToken]) {}

RecordReader::~RecordReader() { close(); }

bool RecordReader::open(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    std::setvbuf(file_, nullptr, _IONBF, 0);
    from_memory_ = false;
    rewind();
    return true;
}

void RecordReader::open_memory(std::string data) {
    close();
    memory_ = std::move(data);
    from_memory_ = true;
    rewind();
}

void RecordReader::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    from_memory_ = false;
    memory_.clear();
}

bool RecordReader::is_open() const { return file_ != nullptr || from_memory_; }

void RecordReader::rewind() {
    if (file_) std::fseek(file_, 0, SEEK_SET), std::clearerr(file_);
    len_ = pos_ = 0;
    consumed_ = 0;
    eof_ = false;
    bad_item_ = false;
    bad_offset_ = 0;
    if (from_memory_) eof_ = true;  // the whole input is one buffer, see refill()
}

// Keeps the unread tail and appends fresh bytes after it. Returns false when no byte was
// added (end of data).
bool RecordReader::refill() {
    if (from_memory_) return false;
    if (eof_ || !file_) return false;
    const size_t tail = len_ - pos_;
    if (tail > 0) std::memmove(buf_.get(), buf_.get() + pos_, tail);
    consumed_ += pos_;
    pos_ = 0;
    len_ = tail;
    const size_t got = std::fread(buf_.get() + len_, 1, kBufferSize - len_, file_);
    if (got == 0) {
        eof_ = true;
        return false;
    }
    len_ += got;
    return true;
}

bool RecordReader::next_int(int32_t& v) {
    const char* data = from_memory_ ? memory_.data() : buf_.get();
    size_t len = from_memory_ ? memory_.size() : len_;
    // Skip white space, refilling as needed; a file of blanks alone ends here.
    for (;;) {
        while (pos_ < len && is_space(data[pos_])) ++pos_;
        if (pos_ < len) break;
        if (!refill()) return false;
        data = buf_.get();
        len = len_;
    }
    // Make sure the whole token is in the buffer. A token longer than kMaxToken is not a
    // 32-bit integer in any spelling we accept, so it is not read further.
    size_t end = pos_;
    for (;;) {
        while (end < len && !is_space(data[end]) && end - pos_ <= kMaxToken) ++end;
        if (end < len || end - pos_ > kMaxToken || eof_ || from_memory_) break;
        const size_t offset = end - pos_;
        const bool more = refill();  // moves the unread tail to the buffer's start either way
        data = buf_.get();
        len = len_;
        end = pos_ + offset;
        if (!more) break;
    }
    const uint64_t token_offset = consumed_ + pos_;
    size_t i = pos_;
    bool negative = false;
    if (i < end && (data[i] == '-' || data[i] == '+')) negative = data[i++] == '-';
    const size_t digits = i;
    uint64_t magnitude = 0;
    while (i < end && static_cast<unsigned char>(data[i] - '0') < 10) {
        magnitude = magnitude * 10 + static_cast<unsigned>(data[i] - '0');
        if (magnitude > 2147483648ULL) break;
        ++i;
    }
    if (i == digits || i != end || end - pos_ > kMaxToken ||
        magnitude > (negative ? 2147483648ULL : 2147483647ULL)) {
        bad_item_ = true;
        bad_offset_ = token_offset;
        pos_ = len;  // nothing more is read in this pass
        eof_ = true;
        return false;
    }
    pos_ = i;
    v = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
}

bool RecordReader::read_record(Record& r) {
    if (!is_open() || bad_item_) return false;
    int32_t c, a, b;
    if (!next_int(c)) return false;
    if (!next_int(a) || !next_int(b)) {
        // A trailing partial record ends the data; it is not an error of its own.
        return false;
    }
    r = Record{c, a, b};
    return true;
}

}  // namespace plotmint
