#include "graph/record_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace plotmint {

namespace {

constexpr size_t kBufferSize = 1 << 20;
// The longest integer token we accept; anything longer is not a 32-bit integer. Leading
// zeros are allowed, so this is about buffer space, not value: values are range-checked.
constexpr size_t kMaxToken = 64;

constexpr size_t kRecordBytes = sizeof(Record);
static_assert(kRecordBytes == 12, "records are stored as three 32-bit integers");
constexpr size_t kCacheRecords = kBufferSize / kRecordBytes;  // per read and per write
constexpr size_t kCacheBytes = kCacheRecords * kRecordBytes;
// position() is known exactly at every this many cached records.
constexpr unsigned kCheckpointShift = 16;
constexpr uint64_t kProgressStep = uint64_t{4} << 20;

enum : uint8_t { kOther = 0, kSpace = 1, kDigit = 2 };

constexpr std::array<uint8_t, 256> make_classes() {
    std::array<uint8_t, 256> t{};
    for (const char c : {' ', '\n', '\t', '\r', '\v', '\f'}) t[static_cast<unsigned char>(c)] = kSpace;
    for (int c = '0'; c <= '9'; ++c) t[static_cast<size_t>(c)] = kDigit;
    return t;
}
constexpr std::array<uint8_t, 256> kClass = make_classes();

inline uint8_t class_of(char c) { return kClass[static_cast<unsigned char>(c)]; }

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool read_all_at(int fd, char* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// An unlinked file in the temporary directory: it vanishes with its descriptor, also when
// the program is killed.
int make_record_file() {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
#ifdef O_TMPFILE
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
#endif
    std::string name = (dir / "plotmint-records-XXXXXX").string();
    const int tmp = ::mkostemp(name.data(), O_CLOEXEC);
    if (tmp >= 0) ::unlink(name.c_str());
    return tmp;
}

}  // namespace

struct RecordReader::Cache {
    ~Cache() {
        if (fd >= 0) ::close(fd);
    }

    bool same_file(const struct stat& st) const {
        return st.st_dev == dev && st.st_ino == ino && st.st_size == size &&
               st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec &&
               st.st_ctim.tv_sec == ctime.tv_sec && st.st_ctim.tv_nsec == ctime.tv_nsec;
    }

    // Writes the buffered records; false (and the cache is unusable) on failure.
    bool flush() {
        if (wlen == 0) return true;
        if (!write_all(fd, wbuf.get(), wlen)) return false;
        wlen = 0;
        return true;
    }

    int fd = -1;
    uint64_t records = 0;  // records written or buffered
    std::unique_ptr<char[]> wbuf;
    size_t wlen = 0;
    // Set once the text has been read to its end: how the pass ends after the records.
    bool complete = false;
    bool bad = false;
    uint64_t bad_offset = 0;
    // Graph-file offset just after the last record, where parsing resumes when a pass
    // stopped early left only a prefix cached.
    uint64_t frontier = 0;
    std::vector<uint64_t> checkpoints;  // offset after every 2^kCheckpointShift-th record

    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
};

namespace {
std::mutex g_parked_mutex;
std::unique_ptr<RecordReader::Cache> g_parked;
}  // namespace

void RecordReader::release_parked_cache() {
    std::unique_ptr<Cache> dropped;
    std::lock_guard lock(g_parked_mutex);
    dropped = std::move(g_parked);
}

RecordReader::RecordReader() : buf_(new char[kBufferSize + 1]()) {}

RecordReader::~RecordReader() { close(); }

bool RecordReader::open(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    std::setvbuf(file_, nullptr, _IONBF, 0);
    from_memory_ = false;
    struct stat st {};
    const bool have_stat = ::fstat(::fileno(file_), &st) == 0;
    size_ = have_stat && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    if (have_stat && S_ISREG(st.st_mode)) {
        {
            std::lock_guard lock(g_parked_mutex);
            if (g_parked && g_parked->same_file(st)) cache_ = std::move(g_parked);
            g_parked.reset();
        }
        if (!cache_ && size_ >= cache_threshold_) {
            const int fd = make_record_file();
            if (fd >= 0) {
                cache_ = std::make_unique<Cache>();
                cache_->fd = fd;
                cache_->dev = st.st_dev;
                cache_->ino = st.st_ino;
                cache_->size = st.st_size;
                cache_->mtime = st.st_mtim;
                cache_->ctime = st.st_ctim;
            }
        }
        if (cache_) {
            if (!cache_->wbuf) cache_->wbuf.reset(new char[kCacheBytes]);
            if (!cache_buf_) cache_buf_.reset(new char[kCacheBytes]);
        }
    }
    rewind();
    pass_ = 0;
    return true;
}

void RecordReader::open_memory(std::string data) {
    close();
    memory_ = std::move(data);
    from_memory_ = true;
    size_ = memory_.size();
    rewind();
    pass_ = 0;
}

void RecordReader::close() {
    if (cache_) {
        if (appending_) cache_->frontier = consumed_ + pos_;
        appending_ = false;
        if (cache_->flush() && (cache_->records > 0 || cache_->complete)) {
            std::lock_guard lock(g_parked_mutex);
            g_parked = std::move(cache_);
        }
        cache_.reset();
    }
    if (file_) std::fclose(file_);
    file_ = nullptr;
    from_memory_ = false;
    memory_.clear();
    mode_ = Mode::text;
    cache_len_ = cache_pos_ = 0;
    len_ = pos_ = 0;
    buf_[0] = '\0';
}

bool RecordReader::is_open() const { return file_ != nullptr || from_memory_; }

void RecordReader::rewind() {
    if (cache_) {
        if (appending_) cache_->frontier = consumed_ + pos_;
        appending_ = false;
        if (!cache_->flush()) drop_cache();
    }
    bad_item_ = false;
    bad_offset_ = 0;
    cache_len_ = cache_pos_ = 0;
    cache_first_ = 0;
    if (cache_ && (cache_->records > 0 || cache_->complete)) {
        mode_ = Mode::cache;  // the first read fills the buffer
    } else {
        start_text_at(0);
        appending_ = cache_ != nullptr;
    }
    ++pass_;
    next_report_ = kProgressStep;
    if (progress_) progress_(pass_, 0, size_);
}

uint64_t RecordReader::position() const {
    if (mode_ == Mode::text) return consumed_ + pos_;
    const uint64_t k = (cache_first_ + cache_pos_ / kRecordBytes) >> kCheckpointShift;
    if (k == 0 || !cache_ || cache_->checkpoints.empty()) return 0;
    return cache_->checkpoints[std::min<uint64_t>(k, cache_->checkpoints.size()) - 1];
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
    cache_len_ = cache_pos_ = 0;
    bad_item_ = false;
    bad_offset_ = 0;
    if (from_memory_) {
        // The whole input is one buffer, see refill(); memory is only read from its start.
        len_ = memory_.size();
        pos_ = 0;
        consumed_ = 0;
        eof_ = true;
        return;
    }
    len_ = pos_ = 0;
    buf_[0] = '\0';
    consumed_ = offset;
    eof_ = false;
    if (file_ && ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0) {
        std::clearerr(file_);
    } else {
        eof_ = true;
    }
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
        buf_[len_] = '\0';
        return false;
    }
    len_ += got;
    buf_[len_] = '\0';
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
// One whole record of three numbers of at most seven digits, each with an optional minus,
// found in the 32 bytes at `p` (which has more than kMaxToken bytes of data after it): the
// white space, digit and minus bytes become bit masks, and the three numbers are located
// with bit operations on them, so their digits are read independently of one another.
// Returns the offset of the white space after the third number, or 0 when the record is
// anything else (the byte loop then reads it).
inline size_t whole_record(const char* p, int32_t v[3]) {
    const auto classify = [](__m128i x, uint32_t& space, uint32_t& digit, uint32_t& minus) {
        const __m128i c9 = _mm_sub_epi8(x, _mm_set1_epi8('\t'));  // \t \n \v \f \r: 0..4
        const __m128i sp = _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')),
                                        _mm_cmpeq_epi8(_mm_min_epu8(c9, _mm_set1_epi8(4)), c9));
        const __m128i c0 = _mm_sub_epi8(x, _mm_set1_epi8('0'));
        const __m128i dg = _mm_cmpeq_epi8(_mm_min_epu8(c0, _mm_set1_epi8(9)), c0);
        space = static_cast<uint32_t>(_mm_movemask_epi8(sp));
        digit = static_cast<uint32_t>(_mm_movemask_epi8(dg));
        minus = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('-'))));
    };
    uint32_t s0, d0, m0, s1, d1, m1;
    classify(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), s0, d0, m0);
    classify(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), s1, d1, m1);
    const uint32_t space = s0 | s1 << 16, digit = d0 | d1 << 16, minus = m0 | m1 << 16;
    unsigned at = 0;
    for (int i = 0; i < 3; ++i) {
        const uint32_t token = ~space & (~0u << at);
        if (token == 0) return 0;
        const unsigned start = static_cast<unsigned>(__builtin_ctz(token));
        const uint32_t gap = space & (~0u << start);
        if (gap == 0) return 0;
        const unsigned end = static_cast<unsigned>(__builtin_ctz(gap));
        const unsigned negative = (minus >> start) & 1u;
        const unsigned n = end - start - negative;
        if (n == 0 || n > 7) return 0;
        const uint32_t body = ((1u << n) - 1u) << (start + negative);
        if ((digit & body) != body) return 0;
        const auto value = static_cast<int32_t>(digits_value(p + start + negative, n));
        v[i] = negative ? -value : value;
        at = end;
    }
    return at;
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

bool RecordReader::read_text_record(Record& r) {
    // Away from the end of the buffer, a record of short unsigned or negative numbers is
    // read here in one go; anything else starts over from the record's first byte below.
    const char* const data = from_memory_ ? memory_.data() : buf_.get();
    const char* const end = data + len_;
    const char* p = data + pos_;
    int32_t v[3];
    int i = 0;
#if defined(__SSE2__)
    while (class_of(*p) == kSpace) ++p;
    if (static_cast<size_t>(end - p) > kMaxToken) {
        if (const size_t used = whole_record(p, v)) {
            p += used;
            i = 3;
        }
    }
#endif
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
    } else if (!next_int(v[0]) || !next_int(v[1]) || !next_int(v[2])) {
        // A trailing partial record ends the data; it is not an error of its own.
        if (appending_) finish_cache(bad_item_, bad_offset_);
        return false;
    } else {
        r = Record{v[0], v[1], v[2]};
    }
    if (appending_) append_to_cache(r);
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
    return read_text_record(r);
}

bool RecordReader::refill_cache() {
    Cache& c = *cache_;
    const uint64_t next = cache_first_ + cache_len_ / kRecordBytes;
    if (next >= c.records) return false;
    const size_t bytes = static_cast<size_t>(std::min<uint64_t>(kCacheRecords, c.records - next)) * kRecordBytes;
    if (!read_all_at(c.fd, cache_buf_.get(), bytes, next * kRecordBytes)) {
        recover_from_cache_failure();
        return false;
    }
    cache_first_ = next;
    cache_len_ = bytes;
    cache_pos_ = 0;
    report_progress();
    return true;
}

// The record file cannot be read: forget it and reach the same record by parsing the
// text from the start, so the pass goes on as if nothing had happened.
void RecordReader::recover_from_cache_failure() {
    const uint64_t done = cache_first_ + cache_pos_ / kRecordBytes;
    drop_cache();
    start_text_at(0);
    Record skipped;
    for (uint64_t i = 0; i < done && read_text_record(skipped); ++i) {
    }
}

void RecordReader::append_to_cache(const Record& r) {
    Cache& c = *cache_;
    std::memcpy(c.wbuf.get() + c.wlen, &r, kRecordBytes);
    c.wlen += kRecordBytes;
    ++c.records;
    if ((c.records & ((uint64_t{1} << kCheckpointShift) - 1)) == 0) c.checkpoints.push_back(consumed_ + pos_);
    if (c.wlen == kCacheBytes && !c.flush()) drop_cache();
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

}  // namespace plotmint
