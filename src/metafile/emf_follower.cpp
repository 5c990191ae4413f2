#include "metafile/emf_follower.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <thread>

#include <uemf.h>

#include "base/platform.h"
#include "metafile/emf_records.h"
#include "metafile/emf_writer.h"
#include "worker/worker.h"

namespace plotmint {

namespace {

// Reads of about this much at a time: few enough wake-ups, and the tail left for the end
// stays short.
constexpr size_t kWindow = size_t{1} << 20;
// Object indices are checked against the table's size once the patched header gives it;
// meanwhile only index 0 and unknown stock objects are wrong.
constexpr uint32_t kAnyTable = std::numeric_limits<uint32_t>::max();

bool names_object(uint32_t type) {
    switch (type) {
        case U_EMR_SELECTOBJECT:
        case U_EMR_DELETEOBJECT:
        case U_EMR_CREATEPEN:
        case U_EMR_CREATEBRUSHINDIRECT:
        case U_EMR_EXTCREATEFONTINDIRECTW: return true;
        default: return false;
    }
}

// `size` bytes at `offset`, through short reads; false when the file ends first or the
// read fails.
bool read_exactly(int fd, char* out, size_t size, uint64_t offset) {
    size_t got = 0;
    while (got < size) {
        const int64_t n = platform::read_at(fd, out + got, size - got, offset + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

EmfFollower::EmfFollower(FileSink& file, Worker& worker, bool keep_bytes)
    : file_(file), worker_(worker), keep_bytes_(keep_bytes) {
    std::string reason;
    fd_ = platform::open_regular_file(file_.temporary_path(), reason);
    if (fd_ < 0 || !worker_.concurrent()) return;
    // The mark is stored before the lock is taken here, and the job looks at it under the
    // lock: a wake-up cannot fall between its look and its wait.
    file_.on_written([this] {
        { const std::lock_guard<std::mutex> lock(mutex_); }
        more_.notify_one();
    });
    started_ = true;
    const std::thread::id owner = std::this_thread::get_id();
    worker_.start([this, owner] {
        // A worker that found no thread to be had runs the job here, where waiting for the
        // writer would wait for ourselves: the full checks then do it all at the end.
        if (std::this_thread::get_id() != owner) follow();
    });
}

EmfFollower::~EmfFollower() {
    if (started_) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            cancelled_ = true;
        }
        more_.notify_one();
        try {
            worker_.wait();
        } catch (...) {
            // Nothing is made of a run that is being dropped.
        }
        file_.on_written({});
    }
    platform::close_file(fd_);
}

bool EmfFollower::still_named() const {
    if (fd_ < 0) return false;
    const std::optional<platform::FileStamp> open = platform::file_stamp(fd_);
    const std::optional<platform::FileStamp> named = platform::file_stamp(file_.temporary_path());
    return open && named && open->device == named->device && open->inode == named->inode;
}

// Makes the window hold the file's bytes [offset, offset + size), reading on as far as the
// writer has got; waits while the writer has not got that far. False when it never will
// (the writer closed first, the run was dropped) or the file gives fewer bytes than the
// writer handed over (another hand cut it short).
bool EmfFollower::have(uint64_t offset, uint64_t size) {
    if (offset >= window_start_ && offset + size <= window_end_) return true;
    // The records are walked in order, each starting where the last one ended.
    if (offset < window_start_ || offset > window_end_) return false;
    // What is still to be looked at moves to the front; the window only grows past its
    // usual size for a record longer than it.
    const size_t kept = static_cast<size_t>(window_end_ - offset);
    if (kept != 0 && offset != window_start_)
        std::copy(window_.begin() + static_cast<std::ptrdiff_t>(offset - window_start_),
                  window_.begin() + static_cast<std::ptrdiff_t>(offset - window_start_ + kept), window_.begin());
    window_start_ = offset;
    if (window_.size() < kWindow) window_.resize(kWindow);
    if (size > window_.size()) {
        // Memory for a long record only once the writer has written it, so that a damaged
        // size asks for no more than the file holds.
        std::unique_lock<std::mutex> lock(mutex_);
        more_.wait(lock, [&] { return file_.written() >= offset + size || closed_ || cancelled_; });
        if (cancelled_ || file_.written() < offset + size) return false;
        if constexpr (sizeof(size_t) < sizeof(uint64_t)) {
            if (size > std::numeric_limits<size_t>::max()) return false;
        }
        window_.resize(static_cast<size_t>(size));
    }
    const uint64_t full = window_start_ + window_.size();
    while (window_end_ < offset + size) {
        uint64_t mark = file_.written();
        if (mark < full) {
            // A whole window at a time while the writer writes; what there is once it has closed.
            std::unique_lock<std::mutex> lock(mutex_);
            more_.wait(lock, [&] {
                mark = file_.written();
                return mark >= full || closed_ || cancelled_;
            });
            if (cancelled_) return false;
            if (mark <= window_end_) return false;  // closed, and the record runs past the end
        }
        const uint64_t upto = std::min(mark, full);
        char* into = window_.data() + (window_end_ - window_start_);
        const size_t count = static_cast<size_t>(upto - window_end_);
        if (!read_exactly(fd_, into, count, window_end_)) return false;
        if (keep_bytes_) bytes_.append(into, count);
        window_end_ = upto;
    }
    return true;
}

// Walks the records as far as EMR_EOF with every check that the final header cannot
// change; stops at the first doubt, which the full checks then settle.
void EmfFollower::follow() {
    if (!have(0, 8)) return;
    const auto head = load<U_EMR>(window_.data());
    if (head.iType != U_EMR_HEADER || head.nSize < 8 || head.nSize % 4 != 0 || head.nSize > kWindow) return;
    if (!have(0, head.nSize)) return;
    header_size_ = head.nSize;
    uint64_t offset = head.nSize;
    uint32_t index = 1;
    std::string error;
    // Checks the record at `offset` and steps past it.
    const auto check = [&](const char* rec, uint32_t type, uint32_t size) {
        if (!check_emf_record(kAnyTable, index, offset, rec, type, size, error)) return false;
        if (names_object(type)) {
            const uint32_t ih = load<uint32_t>(rec + 8);
            if (!(ih & kEmfStockFlag)) highest_object_ = std::max(highest_object_, ih);
        }
        offset += size;
        ++index;
        return true;
    };
    for (;;) {
        // Records that lie whole in the window are walked here without asking have(): most
        // of a large picture is lines and moves, whose only check is their size.
        while (offset + 8 <= window_end_) {
            const char* rec = window_.data() + (offset - window_start_);
            const uint32_t type = load<uint32_t>(rec);
            const uint32_t size = load<uint32_t>(rec + 4);
            if (size < 8 || size % 4 != 0 || size > window_end_ - offset) break;
            if ((type == U_EMR_LINETO || type == U_EMR_MOVETOEX) && size >= 16) {
                offset += size;
                ++index;
                continue;
            }
            if (type == U_EMR_HEADER || type == U_EMR_EOF) break;
            if (!check(rec, type, size)) return;
        }
        if (!have(offset, 8)) return;
        const auto emr = load<U_EMR>(window_.data() + (offset - window_start_));
        if (emr.nSize < 8 || emr.nSize % 4 != 0 || emr.iType == U_EMR_HEADER) return;
        if (!have(offset, emr.nSize)) return;
        if (!check(window_.data() + (offset - window_start_), emr.iType, emr.nSize)) return;
        if (emr.iType == U_EMR_EOF) {
            end_ = offset;
            records_ = index;
            reached_eof_ = true;
            return;
        }
    }
}

std::optional<EmfPicture> EmfFollower::result(const std::string& name, std::string& error) {
    if (started_) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        more_.notify_one();
        started_ = false;
        try {
            worker_.wait();
        } catch (...) {
            reached_eof_ = false;  // out of memory for the window: the full checks decide
        }
        file_.on_written({});
    }
    // The picture read whole stops at nBytes, so the stream must have ended exactly there,
    // with the record count and the object table the header gives, in a file that still
    // holds it all.
    if (reached_eof_ && !file_.cut_short()) {
        const std::optional<platform::FileStamp> stamp = platform::file_stamp(fd_);
        std::vector<char> header(header_size_);
        EmfPicture picture;
        EmfHeaderSpan span;
        std::string why;
        if (stamp && stamp->size <= kFileLimit && read_exactly(fd_, header.data(), header.size(), 0) &&
            check_emf_header(header.data(), header.size(), stamp->size, picture, span, why) &&
            span.header_size == header_size_ && span.end == end_ && picture.record_count == records_ &&
            highest_object_ < picture.handle_count) {
            if (keep_bytes_) {
                bytes_.resize(static_cast<size_t>(end_));
                std::copy(header.begin(), header.end(), bytes_.begin());
                picture.bytes = std::move(bytes_);
            }
            streamed_ = true;
            return picture;
        }
    }
    bytes_ = std::string();
    window_ = std::vector<char>();
    return keep_bytes_ ? read_emf_descriptor(fd_, name, error) : validate_emf_descriptor(fd_, name, error);
}

}  // namespace plotmint
