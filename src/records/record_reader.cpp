#include "records/record_reader.h"

#include "base/platform.h"
#include "worker/worker.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace plotmint {

namespace {

constexpr size_t kBufferSize = 1 << 20;
// The longest integer token we accept; anything longer is not a 32-bit integer. Leading
// zeros are allowed, so this is about buffer space, not value: values are range-checked.
constexpr size_t kMaxToken = 64;
#if defined(__SSE2__)
// Bytes classified at once by window_numbers.
constexpr size_t kWindow = 64;
#endif

// The record file holds each record in one of two forms. Short: the code as a signed byte
// other than -128, then both arguments as 16-bit values, 5 bytes; what nearly every record
// of a drawing fits. Long: the byte -128, then the three values as zigzag varints (7 bits a
// byte), 4 to 16 bytes. Neither is longer than the record's own text: a record is at least
// five bytes of text (three digits, two separators), and a varint takes no more bytes than
// the decimal digits of its value, so the record file never outgrows the graph file.
static_assert(sizeof(Record) == 12, "records are three 32-bit integers");
constexpr uint8_t kLongForm = 0x80;
constexpr size_t kLongBytes = 1 + 3 * 5;  // the most a long form can take

inline uint32_t zigzag(int32_t v) {
    return (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(-(static_cast<int64_t>(v) < 0 ? 1 : 0));
}
inline int32_t unzigzag(uint32_t z) { return static_cast<int32_t>((z >> 1) ^ (0u - (z & 1u))); }

inline char* put_varint(char* out, uint32_t v) {
    while (v >= 0x80) {
        *out++ = static_cast<char>((v & 0x7Fu) | 0x80u);
        v >>= 7;
    }
    *out++ = static_cast<char>(v);
    return out;
}
// The file is written and read in segments of whole records, at most this long.
constexpr size_t kSegmentBytes = kBufferSize;
constexpr uint64_t kProgressStep = uint64_t{4} << 20;

bool fits_short(const Record& r) {
    return r.code >= -127 && r.code <= 127 && r.a >= INT16_MIN && r.a <= INT16_MAX && r.b >= INT16_MIN &&
           r.b <= INT16_MAX;
}

enum : uint8_t { kOther = 0, kSpace = 1, kDigit = 2 };

constexpr std::array<uint8_t, 256> make_classes() {
    std::array<uint8_t, 256> t{};
    for (const char c : {' ', '\n', '\t', '\r', '\v', '\f'}) t[static_cast<unsigned char>(c)] = kSpace;
    for (int c = '0'; c <= '9'; ++c) t[static_cast<size_t>(c)] = kDigit;
    return t;
}
constexpr std::array<uint8_t, 256> kClass = make_classes();

inline uint8_t class_of(char c) { return kClass[static_cast<unsigned char>(c)]; }

constexpr std::string_view kBom = "\xEF\xBB\xBF";
inline bool starts_with_bom(const char* data, size_t size) {
    return size >= kBom.size() && std::memcmp(data, kBom.data(), kBom.size()) == 0;
}

bool read_all_at(int fd, char* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const int64_t n = platform::read_at(fd, data, size, offset);
        if (n < 0) return false;
        if (n == 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

size_t RecordReader::read_long_form(const unsigned char* q, Record& r) {
    // Only our own writer made these bytes, whole records per segment: each varint ends
    // within five bytes.
    const unsigned char* p = q;
    int32_t v[3];
    for (int32_t& out : v) {
        uint32_t z = 0;
        for (unsigned shift = 0;; shift += 7) {
            const unsigned char byte = *p++;
            z |= static_cast<uint32_t>(byte & 0x7Fu) << shift;
            if ((byte & 0x80u) == 0 || shift >= 28) break;
        }
        out = unzigzag(z);
    }
    r = Record{v[0], v[1], v[2]};
    return static_cast<size_t>(p - q);
}

struct RecordReader::Cache {
    ~Cache() {
        platform::close_file(fd);
    }

    // Writes the buffered records as one segment; false (and the cache is unusable) on
    // failure.
    bool flush() {
        if (wlen == 0) return true;
        if (!platform::write_all(fd, wbuf.get(), wlen)) return false;
        segments.push_back({bytes, wlen, segment_records, wbuf_text_start, fd});
        bytes += wlen;
        wlen = 0;
        return true;
    }

    struct Segment {
        uint64_t offset;       // in the record file
        size_t length;         // bytes
        uint64_t records;      // records before it
        uint64_t text_offset;  // graph-file offset of its first record's first byte
        int fd;                // the record file it lies in: this one's, or joined's
    };

    int fd = -1;
    uint64_t records = 0;  // records written or buffered
    uint64_t bytes = 0;    // written
    std::vector<Segment> segments;
    std::unique_ptr<char[]> wbuf;
    size_t wcap = 0;  // segments are at most this long
    size_t wlen = 0;
    uint64_t segment_records = 0;  // records before the one that starts wbuf
    uint64_t wbuf_text_start = 0;
    // Set once the text has been read to its end: how the pass ends after the records.
    bool complete = false;
    bool bad = false;
    uint64_t bad_offset = 0;
    // Graph-file offset just after the last record, where parsing resumes when a pass
    // stopped early left only a prefix cached.
    uint64_t frontier = 0;
    // The split folds saw every record, half by half (see split_folded()).
    bool folded = false;

    // The graph file the records came from, as it was when they were first read.
    platform::FileStamp stamp;
    // The record file of the second half of a parse in two, whose segments follow this
    // file's own in `segments`.
    std::unique_ptr<Cache> joined;
};

RecordReader::RecordReader() = default;

// Buffers are sized to the file, up to their most: a small file (and every fuzz input) then
// costs small buffers. Not zero-filled: only bytes below len_ are read, and buf_[len_]
// always holds a terminator. A file that grows while it is read still streams through.
size_t RecordReader::buffer_size_for(uint64_t file_size, size_t most) {
    constexpr size_t kLeast = 4096;  // well above the longest token kept across refills
    const uint64_t want = file_size + kLongBytes + 1;
    return want < kLeast ? kLeast : want > most ? most : static_cast<size_t>(want);
}

RecordReader::~RecordReader() { release(); }

std::string RecordReader::read_error() const { return read_errno_ ? std::strerror(read_errno_) : "read error"; }

uint64_t RecordReader::record_file_bytes() const {
    if (!cache_) return 0;
    return cache_->bytes + cache_->wlen + (cache_->joined ? cache_->joined->bytes : 0);
}

void RecordReader::release() {
    close();
    cache_.reset();
}

bool RecordReader::open(const std::string& path) {
    close();
    open_error_.clear();
    refused_kind_ = false;
    // Only a regular file can be read in passes; a FIFO must not even block the open.
    const int fd = platform::open_regular_file(path, open_error_);
    if (fd < 0) {
        refused_kind_ = open_error_ == platform::kNotARegularFile;
        return false;
    }
    const std::optional<platform::FileStamp> stamp = platform::file_stamp(fd);
    if (!stamp) {
        open_error_ = std::strerror(errno);
        platform::close_file(fd);
        return false;
    }
    file_ = platform::stream_from(fd, "rb");
    if (!file_) {
        open_error_ = std::strerror(errno);
        platform::close_file(fd);
        return false;
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);
    from_memory_ = false;
    size_ = stamp->size;
    path_ = path;
    split_tried_ = false;
    // The record file of an earlier opening stays good while the file is the same one and
    // unchanged since.
    if (cache_ && !(cache_->stamp == *stamp)) cache_.reset();
    {
        if (!cache_ && size_ >= cache_threshold_) {
            // Gone with its descriptor, also when the program is killed.
            const int record_fd = platform::open_anonymous_temporary();
            if (record_fd >= 0) {
                cache_ = std::make_unique<Cache>();
                cache_->fd = record_fd;
                cache_->stamp = *stamp;
            }
        }
        if (cache_) {
            if (!cache_->wbuf) {
                cache_->wcap = buffer_size_for(size_, kSegmentBytes);
                cache_->wbuf.reset(new char[cache_->wcap]);
            }
        }
    }
    const size_t text_size = buffer_size_for(size_, kBufferSize);
    if (buf_capacity_ != text_size) {
        buf_.reset(new char[text_size + 1]);
        buf_capacity_ = text_size;
    }
    buf_[0] = '\0';
    restart();
    pass_ = 0;
    return true;
}

void RecordReader::open_memory(std::string data) {
    release();
    memory_ = std::move(data);
    from_memory_ = true;
    size_ = memory_.size();
    restart();
    pass_ = 0;
}

void RecordReader::close() {
    if (cache_) {
        if (appending_) cache_->frontier = consumed_ + pos_;
        appending_ = false;
        // Kept for the next open() of the same file; one that holds nothing is of no use.
        if (!cache_->flush() || !(cache_->records > 0 || cache_->complete)) cache_.reset();
    }
    if (file_) std::fclose(file_);
    file_ = nullptr;
    from_memory_ = false;
    memory_.clear();
    mode_ = Mode::text;
    cache_len_ = cache_pos_ = 0;
    len_ = pos_ = 0;
    if (buf_) buf_[0] = '\0';
}

bool RecordReader::is_open() const { return file_ != nullptr || from_memory_; }

void RecordReader::rewind() {
    restart();
    ++pass_;
    next_report_ = kProgressStep;
    if (progress_) progress_(pass_, 0, size_);
}

void RecordReader::restart() {
    if (cache_) {
        if (appending_) cache_->frontier = consumed_ + pos_;
        appending_ = false;
        if (!cache_->flush()) drop_cache();
    }
    bad_item_ = false;
    read_failed_ = false;
    bad_offset_ = 0;
    cache_len_ = cache_pos_ = 0;
    cache_segment_ = 0;
    if (cache_ && (cache_->records > 0 || cache_->complete)) {
        mode_ = Mode::cache;  // the first read fills the buffer
    } else {
        start_text_at(0);
        appending_ = cache_ != nullptr;
    }
}

uint64_t RecordReader::position() const {
    if (mode_ == Mode::text) return consumed_ + pos_;
    // Within a segment, in proportion to the bytes of it read.
    if (!cache_ || cache_segment_ == 0 || cache_segment_ > cache_->segments.size()) return 0;
    const auto& segs = cache_->segments;
    const uint64_t start = segs[cache_segment_ - 1].text_offset;
    const uint64_t end = cache_segment_ < segs.size() ? segs[cache_segment_].text_offset : cache_->frontier;
    if (end <= start || cache_len_ == 0) return start;
    return start + static_cast<uint64_t>(static_cast<double>(end - start) * static_cast<double>(cache_pos_) /
                                         static_cast<double>(cache_len_));
}

void RecordReader::report_progress() {
    if (!progress_) return;
    const uint64_t at = position();
    if (at < next_report_) return;
    next_report_ = at + kProgressStep;
    progress_(pass_, at, size_);
}

void RecordReader::start_text_at(uint64_t offset) {
    mode_ = Mode::text;
    ahead_count_ = ahead_next_ = 0;
    cache_len_ = cache_pos_ = 0;
    bad_item_ = false;
    bad_offset_ = 0;
    read_failed_ = false;
    if (from_memory_) {
        // The whole input is one buffer, see refill(); memory is only read from its start.
        len_ = memory_.size();
        pos_ = starts_with_bom(memory_.data(), len_) ? kBom.size() : 0;
        consumed_ = 0;
        eof_ = true;
        return;
    }
    len_ = pos_ = 0;
    buf_[0] = '\0';
    consumed_ = offset;
    eof_ = false;
    if (file_ && platform::seek_stream(file_, offset)) {
        std::clearerr(file_);
    } else {
        // A file that cannot go back to where a pass starts cannot give that pass's records.
        eof_ = true;
        read_failed_ = true;
        read_errno_ = errno;
    }
}

// Keeps the unread tail and appends fresh bytes after it. Returns false when no byte was
// added (end of data).
bool RecordReader::refill() {
    ahead_count_ = ahead_next_ = 0;  // the numbers parsed ahead move with the bytes
    if (from_memory_) return false;
    if (eof_ || !file_) return false;
    const size_t tail = len_ - pos_;
    if (tail > 0) std::memmove(buf_.get(), buf_.get() + pos_, tail);
    consumed_ += pos_;
    pos_ = 0;
    len_ = tail;
    size_t room = buf_capacity_ - len_;
    // The first half of a parse in two ends where the second half begins.
    if (text_limit_ != UINT64_MAX) {
        const uint64_t at = consumed_ + len_;
        room = at >= text_limit_ ? 0 : static_cast<size_t>(std::min<uint64_t>(room, text_limit_ - at));
    }
    const size_t got = room == 0 ? 0 : std::fread(buf_.get() + len_, 1, room, file_);
    if (got == 0) {
        eof_ = true;
        if (room != 0 && std::ferror(file_)) {
            read_failed_ = true;
            read_errno_ = errno;
        }
        buf_[len_] = '\0';
        return false;
    }
    const bool file_start = consumed_ == 0 && len_ == 0;
    len_ += got;
    buf_[len_] = '\0';
    // A byte-order mark that an editor put before the first record is no item.
    if (file_start && starts_with_bom(buf_.get(), len_)) pos_ = kBom.size();
    report_progress();
    return true;
}

// The value of a run of 1 to 7 decimal digits at `p`, read in one go: eight bytes are
// loaded at once, the run is found with bit masks and its digits are combined pairwise.
// Nearly every item of a graph file is such a run; everything else takes the byte loop of
// next_int. `p` must have 8 bytes of data after it. Returns the number of digits, or 0
// when there are none, when eight or more follow, or when the byte after them is not white
// space.
inline unsigned short_digit_run(const char* p, uint32_t& value) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    constexpr uint64_t ones = 0x0101010101010101ULL;
    // A byte is a digit when its high nibble is 3 and its low nibble at most 9.
    const uint64_t odd = ((w & (0xF0 * ones)) ^ (0x30 * ones)) | (((w & (0x0F * ones)) + 0x06 * ones) & (0xF0 * ones));
    // High bit of each byte that is not a digit.
    const uint64_t stops = (((odd & (0x7F * ones)) + 0x7F * ones) | odd) & (0x80 * ones);
    if (stops == 0) return 0;
    const unsigned n = static_cast<unsigned>(__builtin_ctzll(stops)) >> 3;
    const auto stop = static_cast<uint8_t>(w >> (8 * n));
    if (n == 0 || !(stop == ' ' || static_cast<uint8_t>(stop - '\t') <= '\r' - '\t')) return 0;
    // Right-align the digits: the bytes shifted in are leading zeros.
    uint64_t d = (w & (0x0F * ones)) << (8 * (8 - n));
    d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFULL;
    d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFULL;
    d = (d * 10000 + (d >> 32)) & 0xFFFFFFFFULL;
    value = static_cast<uint32_t>(d);
    return n;
}

// The value of `n` (1..7) digits at `p`, which has 8 bytes of data after it.
inline uint32_t digits_value(const char* p, unsigned n) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    uint64_t d = (w & 0x0F0F0F0F0F0F0F0FULL) << (8 * (8 - n));
    d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFULL;
    d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFULL;
    d = (d * 10000 + (d >> 32)) & 0xFFFFFFFFULL;
    return static_cast<uint32_t>(d);
}

#if defined(__SSE2__)
// The numbers lying whole in the 64 bytes at `p` (which must be at a token boundary, with
// more than 64 + 8 bytes of data after it), in order, up to the first that is anything
// but 1 to 7 digits with an optional minus: the white space, digit and minus bytes become
// 64-bit masks, the starts and ends of all tokens come from bit operations on them, and
// each number is read on its own, so the numbers of a window are read side by side instead
// of one after the other. values[i] is the i-th number and ends[i] the offset after it.
inline int window_numbers(const char* p, int32_t* values, uint8_t* ends) {
    uint64_t space = 0, digit = 0, minus = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const __m128i c9 = _mm_sub_epi8(x, _mm_set1_epi8('\t'));  // \t \n \v \f \r: 0..4
        const __m128i sp = _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')),
                                        _mm_cmpeq_epi8(_mm_min_epu8(c9, _mm_set1_epi8(4)), c9));
        const __m128i c0 = _mm_sub_epi8(x, _mm_set1_epi8('0'));
        const __m128i dg = _mm_cmpeq_epi8(_mm_min_epu8(c0, _mm_set1_epi8(9)), c0);
        const __m128i mn = _mm_cmpeq_epi8(x, _mm_set1_epi8('-'));
        space |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(sp))) << (16 * k);
        digit |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(dg))) << (16 * k);
        minus |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(mn))) << (16 * k);
    }
    const uint64_t token = ~space;
    uint64_t starts = token & ~(token << 1);
    // A token that reaches the window's last byte may go on after it.
    uint64_t stops = token & ~(token >> 1) & ~(uint64_t{1} << 63);
    // Bytes that belong in no number (a minus is allowed only first): the tokens from the
    // first of them on are left to the byte loop.
    const uint64_t odd = token & ~digit & ~(minus & starts);
    if (odd != 0) {
        const uint64_t before = (odd & (0 - odd)) - 1;
        starts &= before;
        stops &= before;
    }
    int n = 0;
    if (minus == 0) {
        // The common case: no minus anywhere in the window.
        while (stops != 0) {
            const unsigned start = static_cast<unsigned>(__builtin_ctzll(starts));
            const unsigned last = static_cast<unsigned>(__builtin_ctzll(stops));
            const unsigned length = last + 1 - start;
            if (length > 7) break;
            values[n] = static_cast<int32_t>(digits_value(p + start, length));
            ends[n] = static_cast<uint8_t>(last + 1);
            ++n;
            starts &= starts - 1;
            stops &= stops - 1;
        }
        return n;
    }
    while (stops != 0) {
        const unsigned start = static_cast<unsigned>(__builtin_ctzll(starts));
        const unsigned last = static_cast<unsigned>(__builtin_ctzll(stops));
        const unsigned negative = static_cast<unsigned>(minus >> start) & 1u;
        const unsigned length = last + 1 - start - negative;
        if (length == 0 || length > 7) break;
        const auto value = static_cast<int32_t>(digits_value(p + start + negative, length));
        values[n] = negative ? -value : value;
        ends[n] = static_cast<uint8_t>(last + 1);
        ++n;
        starts &= starts - 1;
        stops &= stops - 1;
    }
    return n;
}
#endif

bool RecordReader::next_int(int32_t& v) {
    for (;;) {
        const char* data = from_memory_ ? memory_.data() : buf_.get();
        const char* p = data + pos_;
        const char* const end = data + len_;
        // The zero byte after the data stops this scan (it is not white space).
        while (class_of(*p) == kSpace) ++p;
        if (p == end) {
            // White space to the end of the buffer; a file of blanks alone ends here.
            pos_ = len_;
            if (!refill()) return false;
            continue;
        }
        pos_ = static_cast<size_t>(p - data);
        // A token that may go on past the buffer is completed first. After this, a token
        // that reaches the end of the buffer before the end of the file is longer than
        // kMaxToken, so it is not an integer in any spelling we accept.
        if (static_cast<size_t>(end - p) <= kMaxToken && !eof_ && refill()) continue;

        const char* const token = data + pos_;
        p = token;
        bool negative = false;
        if (*p == '-' || *p == '+') negative = *p++ == '-';
        const char* const digits = p;
        uint64_t magnitude = 0;
        while (class_of(*p) == kDigit) {
            magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
            if (magnitude > 2147483648ULL) break;  // p stays on a digit: not an integer
            ++p;
        }
        const bool ends = p == data + len_ || class_of(*p) == kSpace;
        if (p == digits || !ends || static_cast<size_t>(p - token) > kMaxToken ||
            magnitude > (negative ? 2147483648ULL : 2147483647ULL)) {
            bad_item_ = true;
            bad_offset_ = consumed_ + pos_;
            pos_ = len_;  // nothing more is read in this pass
            eof_ = true;
            return false;
        }
        pos_ = static_cast<size_t>(p - data);
        v = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
        return true;
    }
}

// Inlined into the parsing loop: it runs once per record of the first pass.
[[gnu::always_inline]] inline void RecordReader::append_to_cache(const Record& r, uint64_t text_start) {
    Cache& c = *cache_;
    if (c.wlen == 0) {
        c.segment_records = c.records;
        c.wbuf_text_start = text_start;
    }
    char* out = c.wbuf.get() + c.wlen;
    if (fits_short(r)) {
        const auto code = static_cast<int8_t>(r.code);
        const auto a = static_cast<int16_t>(r.a), b = static_cast<int16_t>(r.b);
        std::memcpy(out, &code, 1);
        std::memcpy(out + 1, &a, 2);
        std::memcpy(out + 3, &b, 2);
        c.wlen += 5;
    } else {
        out[0] = static_cast<char>(kLongForm);
        char* end = put_varint(out + 1, zigzag(r.code));
        end = put_varint(end, zigzag(r.a));
        end = put_varint(end, zigzag(r.b));
        c.wlen += static_cast<size_t>(end - out);
    }
    ++c.records;
    if (c.wlen > c.wcap - kLongBytes && !c.flush()) drop_cache();
}

bool RecordReader::read_text_record(Record& r) {
    const char* const data = from_memory_ ? memory_.data() : buf_.get();
    const char* const end = data + len_;
    const uint64_t start = consumed_ + pos_;
#if defined(__SSE2__)
    // Numbers parsed ahead, a window at a time, away from the end of the buffer.
    if (ahead_next_ + 3 > ahead_count_ && static_cast<size_t>(end - (data + pos_)) > 2 * kWindow) {
        ahead_base_ = pos_;
        ahead_count_ = window_numbers(data + pos_, ahead_values_, ahead_ends_);
        ahead_next_ = 0;
    }
    if (ahead_next_ + 3 <= ahead_count_) {
        r = Record{ahead_values_[ahead_next_], ahead_values_[ahead_next_ + 1], ahead_values_[ahead_next_ + 2]};
        pos_ = ahead_base_ + ahead_ends_[ahead_next_ + 2];
        ahead_next_ += 3;
        if (appending_) append_to_cache(r, start);
        return true;
    }
    ahead_count_ = ahead_next_ = 0;
#endif
    // Short numbers one at a time; anything else starts over from the record's first byte
    // in next_int.
    const char* p = data + pos_;
    int32_t v[3];
    int i = 0;
    for (; i < 3; ++i) {
        while (class_of(*p) == kSpace) ++p;  // the zero byte after the data stops this
        if (static_cast<size_t>(end - p) <= kMaxToken) break;
        const bool negative = *p == '-';
        p += negative;
        uint32_t value;
        const unsigned n = short_digit_run(p, value);
        if (n == 0) break;
        p += n;
        v[i] = negative ? -static_cast<int32_t>(value) : static_cast<int32_t>(value);
    }
    if (i == 3) {
        pos_ = static_cast<size_t>(p - data);
        r = Record{v[0], v[1], v[2]};
    } else if (int got = 0; !(next_int(v[0]) && ++got && next_int(v[1]) && ++got && next_int(v[2]))) {
        if (text_limit_ != UINT64_MAX && !bad_item_ && !read_failed_) {
            // The first half of a parse in two: its end is not the file's.
            head_stopped_ = true;
            head_cut_ = got > 0;
            head_stop_ = start;
            return false;
        }
        // A trailing partial record ends the data; it is not an error of its own.
        if (appending_) finish_cache(bad_item_, bad_offset_);
        return false;
    } else {
        r = Record{v[0], v[1], v[2]};
    }
    if (appending_) append_to_cache(r, start);
    return true;
}

bool RecordReader::read_record_slow(Record& r) {
    if (!is_open() || bad_item_) return false;
    if (mode_ == Mode::cache) {
        if (refill_cache()) return read_record(r);
        if (mode_ == Mode::cache) {
            const Cache& c = *cache_;
            if (c.complete) {
                if (c.bad) {
                    bad_item_ = true;
                    bad_offset_ = c.bad_offset;
                }
                return false;
            }
            // Only a prefix is cached (an earlier pass stopped early): parse on from there.
            start_text_at(c.frontier);
            appending_ = true;
        }
    }
    if (worker_ && appending_ && !split_tried_ && cache_->records == 0 && consumed_ + pos_ <= kBom.size() &&
        size_ >= split_threshold_ && parse_in_two())
        return read_record(r);
    return read_text_record(r);
}

bool RecordReader::refill_cache() {
    Cache& c = *cache_;
    if (cache_segment_ >= c.segments.size()) return false;
    const Cache::Segment& seg = c.segments[cache_segment_];
    if (cache_buf_capacity_ < seg.length) {
        cache_buf_.reset(new unsigned char[seg.length]);
        cache_buf_capacity_ = seg.length;
    }
    if (!read_all_at(seg.fd, reinterpret_cast<char*>(cache_buf_.get()), seg.length, seg.offset)) {
        recover_from_cache_failure();
        return false;
    }
    ++cache_segment_;
    cache_len_ = seg.length;
    cache_pos_ = 0;
    report_progress();
    return true;
}

// The record file cannot be read: forget it and reach the same record by parsing the
// text from the start, so the pass goes on as if nothing had happened.
void RecordReader::recover_from_cache_failure() {
    // Segments are read whole before any of their records is given out.
    const uint64_t done = cache_->segments[cache_segment_].records;
    drop_cache();
    start_text_at(0);
    Record skipped;
    for (uint64_t i = 0; i < done && read_text_record(skipped); ++i) {
    }
}


void RecordReader::finish_cache(bool bad, uint64_t bad_offset) {
    Cache& c = *cache_;
    c.complete = true;
    c.bad = bad;
    c.bad_offset = bad_offset;
    c.frontier = consumed_ + pos_;
    appending_ = false;
    if (!c.flush()) drop_cache();
}

// Caching stops for this reader; every later pass parses the text.
void RecordReader::drop_cache() {
    cache_.reset();
    appending_ = false;
}

// ---------------------------------------------------------------------------------------
// Parsing in two. The first pass over a large graph file parses its two halves side by
// side: this thread parses the text before a line break near the middle into the record
// file, while a second reader on the worker parses the text after it into a record file of
// its own, which then joins this one (its segments listed after ours). The pass and every
// later one give their records from the record files, which hold what one parse from the
// start would have put in one: the halves meet at white space, so no number is cut, and the
// second half's records line up only when the first half ended on a whole record. When it
// did not (records that span lines), when the first half ended early (an item that is not a
// number) or when the second half could not be read, the second half's work is dropped and
// what the first half cached is a prefix of the records that later reading continues from,
// as after any pass that stopped early.
namespace {

// How far past the middle a line break (or any white space) is looked for.
constexpr size_t kSplitWindow = 64 * 1024;

inline bool is_space(char c) { return class_of(c) == kSpace; }

// Reads records to the end, handing them to `fold` (if any) a few hundred at a time: one
// call per record would cost the fold as much as its work.
template <class Read>
void fold_records(RecordFold* fold, Read read) {
    constexpr size_t kBatch = 256;
    Record batch[kBatch];
    size_t n = 0;
    while (read(batch[n])) {
        if (++n == kBatch) {
            if (fold) fold->add(batch, n);
            n = 0;
        }
    }
    if (fold) fold->add(batch, n);
}

}  // namespace

// The offset just after the first line break at or after the middle of the file (after
// other white space when no line break is near); 0 when there is none.
uint64_t RecordReader::find_split() {
    const uint64_t middle = size_ / 2;
    if (middle == 0) return 0;
    std::unique_ptr<char[]> window(new char[kSplitWindow]);
    const int fd = platform::stream_descriptor(file_);
    const int64_t got = platform::read_at(fd, window.get(), kSplitWindow, middle);
    if (got <= 0) return 0;
    const char* const begin = window.get();
    const char* const end = begin + got;
    const char* p = std::find(begin, end, '\n');
    if (p == end) p = std::find_if(begin, end, is_space);
    if (p == end) return 0;
    const uint64_t split = middle + static_cast<uint64_t>(p - begin) + 1;
    return split < size_ ? split : 0;
}

bool RecordReader::parse_in_two() {
    split_tried_ = true;
    parsed_in_two_ = false;
    const uint64_t split = find_split();
    if (split == 0) return false;

    auto tail = std::make_unique<RecordReader>();
    tail->set_cache_threshold(0);
    // The same file, unchanged: otherwise the halves would come from two different files.
    if (!tail->open(path_) || !tail->cache_ || !(tail->cache_->stamp == cache_->stamp)) return false;
    tail->start_text_at(split);
    tail->appending_ = true;
    RecordReader* const second = tail.get();
    RecordFold* const head_fold = head_fold_ && tail_fold_ ? head_fold_ : nullptr;
    RecordFold* const tail_fold = head_fold ? tail_fold_ : nullptr;
    if (head_fold) {
        head_fold->start();
        tail_fold->start();
    }
    worker_->start([second, tail_fold] {
        fold_records(tail_fold, [second](Record& r) { return second->read_record(r); });
    });
    // Should the first half throw (out of memory), the second must be done with its reader
    // before that goes; its own exception is then of no interest.
    struct Joined {
        Worker& worker;
        bool done = false;
        ~Joined() {
            if (done) return;
            try {
                worker.wait();
            } catch (...) {
            }
        }
    } joined{*worker_};

    // The first half, as the first pass would parse it, up to the split.
    text_limit_ = split;
    head_stopped_ = head_cut_ = false;
    try {
        fold_records(head_fold, [this](Record& r) { return read_text_record(r); });
    } catch (...) {
        text_limit_ = UINT64_MAX;
        throw;
    }
    text_limit_ = UINT64_MAX;
    joined.done = true;
    worker_->wait();

    if (!cache_) {
        // The record file failed while the first half was written: the pass parses on as
        // text, from the start, with nothing cached.
        start_text_at(0);
        return false;
    }
    if (read_failed_) {
        // A read error in the first half: the pass starts over as text and meets it again.
        drop_cache();
        start_text_at(0);
        return false;
    }
    if (head_stopped_) {
        appending_ = false;
        if (!cache_->flush()) {
            drop_cache();
            start_text_at(0);
            return false;
        }
        if (head_cut_ || !merge_tail(*tail)) {
            if (!cache_) {
                start_text_at(0);
                return false;
            }
            // What the first half holds is a prefix; the rest is parsed on from it.
            cache_->complete = false;
            cache_->frontier = head_stop_;
        } else {
            parsed_in_two_ = true;
            cache_->folded = head_fold != nullptr;
        }
    }
    // Otherwise the first half ended the data (an item that is not a number): the record
    // file is complete as it is.
    restart();
    return true;
}

bool RecordReader::split_folded() const { return cache_ && cache_->complete && cache_->folded; }

bool RecordReader::skip_to_end() {
    if (mode_ != Mode::cache || !cache_ || !cache_->complete) return false;
    cache_segment_ = cache_->segments.size();
    cache_len_ = cache_pos_ = 0;
    if (progress_) progress_(pass_, cache_->frontier, size_);
    Record r;
    read_record_slow(r);  // no records are left: this sets how the pass ended
    return true;
}

// The second half's records follow the first half's: its record file joins this reader's,
// its segments listed after this one's, nothing copied. False, with nothing joined, when the
// second half did not reach its end.
bool RecordReader::merge_tail(RecordReader& tail) {
    if (tail.read_failed_ || !tail.cache_ || !tail.cache_->complete) return false;
    Cache& mine = *cache_;
    Cache& theirs = *tail.cache_;
    if (!theirs.flush()) return false;
    for (const Cache::Segment& seg : theirs.segments)
        mine.segments.push_back({seg.offset, seg.length, mine.records + seg.records, seg.text_offset, seg.fd});
    mine.records += theirs.records;
    mine.complete = true;
    mine.bad = theirs.bad;
    mine.bad_offset = theirs.bad_offset;
    mine.frontier = theirs.frontier;
    theirs.wbuf.reset();
    mine.joined = std::move(tail.cache_);
    return true;
}

}  // namespace plotmint
