#include "metafile/emf_reader.h"


#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include <uemf.h>
#include <uemf_safe.h>

#include "base/format.h"
#include "base/platform.h"
#include "metafile/emf_records.h"

namespace plotmint {

namespace {

// The highest stock object index (DC_PEN).
constexpr uint32_t kLastStockObject = 19;

const char* record_name(uint32_t type) {
    switch (type) {
        case U_EMR_HEADER: return "EMR_HEADER";
        case U_EMR_POLYGON: return "EMR_POLYGON";
        case U_EMR_EOF: return "EMR_EOF";
        case U_EMR_SETBKMODE: return "EMR_SETBKMODE";
        case U_EMR_SETTEXTCOLOR: return "EMR_SETTEXTCOLOR";
        case U_EMR_MOVETOEX: return "EMR_MOVETOEX";
        case U_EMR_SELECTOBJECT: return "EMR_SELECTOBJECT";
        case U_EMR_CREATEPEN: return "EMR_CREATEPEN";
        case U_EMR_CREATEBRUSHINDIRECT: return "EMR_CREATEBRUSHINDIRECT";
        case U_EMR_DELETEOBJECT: return "EMR_DELETEOBJECT";
        case U_EMR_LINETO: return "EMR_LINETO";
        case U_EMR_EXTCREATEFONTINDIRECTW: return "EMR_EXTCREATEFONTINDIRECTW";
        case U_EMR_EXTTEXTOUTW: return "EMR_EXTTEXTOUTW";
        case U_EMR_POLYGON16: return "EMR_POLYGON16";
        default: return "record";
    }
}

// Smallest size of each record the player reads; other records only need their head.
uint32_t minimum_size(uint32_t type) {
    switch (type) {
        case U_EMR_EOF: return 20;
        case U_EMR_SETBKMODE:
        case U_EMR_SETTEXTCOLOR:
        case U_EMR_SELECTOBJECT:
        case U_EMR_DELETEOBJECT: return 12;
        case U_EMR_MOVETOEX:
        case U_EMR_LINETO: return 16;
        case U_EMR_CREATEPEN: return 28;
        case U_EMR_CREATEBRUSHINDIRECT: return 24;
        case U_EMR_EXTCREATEFONTINDIRECTW: return kFontRecordMinSize;
        case U_EMR_POLYGON:
        case U_EMR_POLYGON16: return 28;
        case U_EMR_EXTTEXTOUTW: return kTextFixedSizeNoRect;
        default: return 8;
    }
}

class RecordChecker {
public:
    RecordChecker(uint32_t handle_count, std::string& error) : handle_count_(handle_count), error_(error) {}

    // Checks the fields of one record whose size is already known to lie within the file.
    bool check(uint32_t index, uint64_t offset, const char* rec, uint32_t type, uint32_t size) {
        index_ = index;
        offset_ = offset;
        type_ = type;
        if (size < minimum_size(type))
            return fail(strformat("is %u bytes, shorter than the %u it needs", size, minimum_size(type)));
        switch (type) {
            case U_EMR_SELECTOBJECT: return check_object(load<uint32_t>(rec + 8), true);
            case U_EMR_DELETEOBJECT: return check_object(load<uint32_t>(rec + 8), true);
            case U_EMR_CREATEPEN:
            case U_EMR_CREATEBRUSHINDIRECT:
            case U_EMR_EXTCREATEFONTINDIRECTW: return check_object(load<uint32_t>(rec + 8), false) && safe(rec);
            case U_EMR_POLYGON: return check_points(rec, size, 8);
            case U_EMR_POLYGON16: return check_points(rec, size, 4);
            case U_EMR_EXTTEXTOUTW: return check_text(rec, size);
            // libUEMF's check of these two is the size minimum_size() has already checked;
            // they are most of a large picture, so the call is saved.
            case U_EMR_MOVETOEX:
            case U_EMR_LINETO: return true;
            case U_EMR_SETBKMODE:
            case U_EMR_SETTEXTCOLOR:
            case U_EMR_EOF: return safe(rec);
            default: return true;
        }
    }

    bool fail(const std::string& what) {
        error_ = strformat("%s %u at byte %llu %s", record_name(type_), index_,
                           static_cast<unsigned long long>(offset_), what.c_str());
        return false;
    }

private:
    bool check_object(uint32_t ih, bool stock_allowed) {
        if (ih & kEmfStockFlag) {
            if (stock_allowed && (ih & ~kEmfStockFlag) <= kLastStockObject) return true;
            return fail(strformat("names stock object 0x%08x, which does not exist", ih));
        }
        if (ih == 0 || ih >= handle_count_)
            return fail(strformat("uses object %u outside the object table of %u", ih, handle_count_));
        return true;
    }

    bool check_points(const char* rec, uint32_t size, uint64_t point_size) {
        const uint64_t count = load<uint32_t>(rec + 24);
        const uint64_t needed = 28 + count * point_size;
        if (needed > size)
            return fail(strformat("holds %llu points in %u bytes", static_cast<unsigned long long>(count), size));
        return safe(rec);
    }

    bool check_text(const char* rec, uint32_t size) {
        const auto text = load<U_EMREXTTEXTOUTW>(rec);
        const uint32_t options = text.emrtext.fOptions;
        const uint32_t fixed = (options & U_ETO_NO_RECT) ? kTextFixedSizeNoRect : kTextFixedSize;
        if (size < fixed) return fail(strformat("is %u bytes, shorter than the %u it needs", size, fixed));
        const uint64_t chars = text.emrtext.nChars;
        const uint64_t off_string = text.emrtext.offString;
        const uint64_t off_dx = load<uint32_t>(rec + fixed - 4);
        if (chars > 0 && (off_string < fixed || off_string + 2 * chars > size))
            return fail(strformat("has %llu characters at offset %llu outside its %u bytes",
                                  static_cast<unsigned long long>(chars), static_cast<unsigned long long>(off_string),
                                  size));
        if (off_dx != 0) {
            const uint64_t entries = chars * ((options & U_ETO_PDY) ? 2 : 1);
            if (off_dx < fixed || off_dx + 4 * entries > size)
                return fail(strformat("has %llu advances at offset %llu outside its %u bytes",
                                      static_cast<unsigned long long>(entries),
                                      static_cast<unsigned long long>(off_dx), size));
        }
        return safe(rec);
    }

    // libUEMF's own record check, on top of the checks above.
    bool safe(const char* rec) {
        if (U_emf_record_safe(rec)) return true;
        return fail("is damaged");
    }

    uint32_t handle_count_;
    std::string& error_;
    uint32_t index_ = 0;
    uint64_t offset_ = 0;
    uint32_t type_ = 0;
};

}  // namespace

bool check_emf_record(uint32_t handle_count, uint32_t index, uint64_t offset, const char* rec, uint32_t type,
                      uint32_t size, std::string& error) {
    return RecordChecker(handle_count, error).check(index, offset, rec, type, size);
}

Rect EmfPicture::logical_frame() const {
    // rclFrame is in hundredths of a millimetre; one logical unit is one display pixel.
    const auto convert = [](int32_t v, int32_t px, int32_t mm) {
        if (px <= 0 || mm <= 0) return 0;
        const double r = std::round(static_cast<double>(v) * px / (mm * 100.0));
        return static_cast<int32_t>(std::clamp(r, static_cast<double>(std::numeric_limits<int32_t>::min()),
                                               static_cast<double>(std::numeric_limits<int32_t>::max())));
    };
    return {convert(frame.left, display.horz_px, display.horz_mm), convert(frame.top, display.vert_px, display.vert_mm),
            convert(frame.right, display.horz_px, display.horz_mm),
            convert(frame.bottom, display.vert_px, display.vert_mm)};
}

namespace {

// Bytes of the whole file in memory.
class MemorySource {
public:
    explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
    uint64_t size() const { return bytes_.size(); }
    // `size` bytes at `offset`, which the caller has checked lie within size().
    const char* view(uint64_t offset, uint64_t) { return bytes_.data() + offset; }
    bool failed() const { return false; }

private:
    const std::string& bytes_;
};

// Bytes of a source read through a window that slides along it; only a record longer than
// the window makes it grow, to that record's size. A read that comes up short (the file
// shrank) or fails gives nullptr: never a smaller buffer than was asked for.
class WindowSource {
public:
    explicit WindowSource(EmfByteSource& source) : source_(source), size_(source.size()), buffer_(kWindow) {}
    uint64_t size() const { return size_; }
    const char* view(uint64_t offset, uint64_t size) {
        if (failed_) return nullptr;
        if (offset >= start_ && offset + size <= start_ + length_) return buffer_.data() + (offset - start_);
        const uint64_t want = std::max<uint64_t>(size, std::min<uint64_t>(kWindow, size_ - offset));
        // A 32-bit build cannot hold a window past its address space.
        if constexpr (sizeof(size_t) < sizeof(uint64_t)) {
            if (want > std::numeric_limits<size_t>::max()) {
                failed_ = true;
                return nullptr;
            }
        }
        if (want > buffer_.size()) buffer_.resize(static_cast<size_t>(want));
        length_ = 0;
        uint64_t got = 0;
        while (got < want) {
            const int64_t n = source_.read_at(offset + got, buffer_.data() + got, static_cast<size_t>(want - got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || static_cast<uint64_t>(n) > want - got) {
                failed_ = true;
                read_errno_ = n < 0 ? errno : 0;
                return nullptr;
            }
            got += static_cast<uint64_t>(n);
        }
        start_ = offset;
        length_ = want;
        return buffer_.data();
    }
    bool failed() const { return failed_; }
    // Why the read failed: the system's reason, or the file having become shorter.
    std::string failure() const {
        return read_errno_ != 0 ? std::strerror(read_errno_) : "the file became shorter while it was read";
    }

private:
    static constexpr uint64_t kWindow = 1 << 20;
    EmfByteSource& source_;
    uint64_t size_;
    std::vector<char> buffer_;
    uint64_t start_ = 0, length_ = 0;
    bool failed_ = false;
    int read_errno_ = 0;
};

class DescriptorSource final : public EmfByteSource {
public:
    DescriptorSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    uint64_t size() const override { return size_; }
    int64_t read_at(uint64_t offset, char* out, size_t size) override {
        return platform::read_at(fd_, out, size, offset);
    }

private:
    int fd_;
    uint64_t size_;
};

// The checks of the header alone, on bytes from `src`; fills the header's fields of
// `picture`. nullopt with a reason, or with none when a view could not be had.
template <class Source>
std::optional<U_EMRHEADER> check_header(Source& src, EmfPicture& picture, std::string& error) {
    const uint64_t file_size = src.size();
    if (file_size < 8) {
        error = strformat("the file is too short to be an enhanced metafile (%llu bytes)",
                          static_cast<unsigned long long>(file_size));
        return std::nullopt;
    }
    // A view is nullptr when the bytes could not be read; the caller names the reason.
    const char* at = src.view(0, 8);
    if (!at) return std::nullopt;
    const auto head = load<U_EMR>(at);
    if (head.iType != U_EMR_HEADER) {
        error = "the file does not start with an enhanced metafile header";
        return std::nullopt;
    }
    if (head.nSize < U_SIZE_EMRHEADER_MIN || head.nSize % 4 != 0 || head.nSize > file_size) {
        error = strformat("the enhanced metafile header has a bad size (%u bytes)", head.nSize);
        return std::nullopt;
    }
    // The minimal header lacks the fields after szlMillimeters; copy only what is there.
    U_EMRHEADER header{};
    if (!(at = src.view(0, head.nSize))) return std::nullopt;
    std::memcpy(&header, at, std::min<size_t>(head.nSize, sizeof header));
    if (header.dSignature != U_ENHMETA_SIGNATURE) {
        error = "the enhanced metafile header has no \" EMF\" signature";
        return std::nullopt;
    }
    if (header.nBytes > file_size) {
        error = strformat("the file is %llu bytes, shorter than the %u bytes its header gives",
                          static_cast<unsigned long long>(file_size), header.nBytes);
        return std::nullopt;
    }
    if (header.nDescription != 0 &&
        (header.offDescription < U_SIZE_EMRHEADER_MIN ||
         uint64_t{header.offDescription} + 2 * uint64_t{header.nDescription} > head.nSize)) {
        error = "the enhanced metafile header's description lies outside the header";
        return std::nullopt;
    }
    if (header.szlDevice.cx <= 0 || header.szlDevice.cy <= 0 || header.szlMillimeters.cx <= 0 ||
        header.szlMillimeters.cy <= 0) {
        error = strformat("the enhanced metafile's reference display has no size (%d x %d mm, %d x %d pixels)",
                          header.szlMillimeters.cx, header.szlMillimeters.cy, header.szlDevice.cx,
                          header.szlDevice.cy);
        return std::nullopt;
    }

    picture.bounds = {header.rclBounds.left, header.rclBounds.top, header.rclBounds.right, header.rclBounds.bottom};
    picture.frame = {header.rclFrame.left, header.rclFrame.top, header.rclFrame.right, header.rclFrame.bottom};
    picture.display = {header.szlMillimeters.cx, header.szlMillimeters.cy, header.szlDevice.cx, header.szlDevice.cy};
    picture.record_count = header.nRecords;
    picture.handle_count = header.nHandles;
    return header;
}

// Every check of a picture, on bytes from `src`; fills all of `picture` but its bytes.
// Returns the end of the picture (the header's nBytes), or nullopt with a reason. `visit`,
// when set, is handed each record after the header once it has passed its checks.
template <class Source>
std::optional<uint64_t> check_picture(Source& src, EmfPicture& picture, std::string& error,
                                      const EmfRecordVisitor* visit = nullptr) {
    const std::optional<U_EMRHEADER> header = check_header(src, picture, error);
    if (!header) return std::nullopt;
    const char* at = nullptr;
    // Trailing bytes past nBytes (padding some writers add) are not part of the picture.
    const uint64_t end = header->nBytes;
    RecordChecker checker(picture.handle_count, error);
    uint64_t offset = 0;
    uint32_t index = 0;
    bool eof_seen = false;
    while (offset < end) {
        const uint64_t remaining = end - offset;
        if (eof_seen) {
            error = strformat("%llu bytes follow EMR_EOF", static_cast<unsigned long long>(remaining));
            return std::nullopt;
        }
        if (remaining < 8) {
            error = strformat("record %u at byte %llu is cut off after %llu bytes", index,
                              static_cast<unsigned long long>(offset), static_cast<unsigned long long>(remaining));
            return std::nullopt;
        }
        if (!(at = src.view(offset, 8))) return std::nullopt;
        const auto emr = load<U_EMR>(at);
        if (emr.nSize < 8 || emr.nSize % 4 != 0 || emr.nSize > remaining) {
            error = strformat("record %u (type %u) at byte %llu has a bad size of %u bytes (%llu remain)", index,
                              emr.iType, static_cast<unsigned long long>(offset), emr.nSize,
                              static_cast<unsigned long long>(remaining));
            return std::nullopt;
        }
        if (index > 0 && emr.iType == U_EMR_HEADER) {
            error = strformat("a second header at byte %llu", static_cast<unsigned long long>(offset));
            return std::nullopt;
        }
        if (index > 0) {
            if (!(at = src.view(offset, emr.nSize))) return std::nullopt;
            if (!checker.check(index, offset, at, emr.iType, emr.nSize)) return std::nullopt;
            if (visit && !(*visit)(picture, EmfRecord{index, offset, emr.iType, emr.nSize, at}, error))
                return std::nullopt;
        }
        eof_seen = emr.iType == U_EMR_EOF;
        offset += emr.nSize;
        ++index;
    }
    if (!eof_seen) {
        error = "the enhanced metafile does not end with EMR_EOF";
        return std::nullopt;
    }
    if (index != header->nRecords) {
        error = strformat("the enhanced metafile holds %u records but its header says %u", index, header->nRecords);
        return std::nullopt;
    }
    return end;
}

// The first bytes of a file, the rest of which is not looked at.
class PrefixSource {
public:
    PrefixSource(const char* bytes, size_t size, uint64_t file_size) : bytes_(bytes), size_(size), file_size_(file_size) {}
    uint64_t size() const { return file_size_; }
    const char* view(uint64_t offset, uint64_t size) {
        return offset <= size_ && size <= size_ - offset ? bytes_ + offset : nullptr;
    }

private:
    const char* bytes_;
    size_t size_;
    uint64_t file_size_;
};

}  // namespace

bool check_emf_header(const char* bytes, size_t size, uint64_t file_size, EmfPicture& picture, EmfHeaderSpan& span,
                      std::string& error) {
    PrefixSource src(bytes, size, file_size);
    const std::optional<U_EMRHEADER> header = check_header(src, picture, error);
    if (!header) return false;
    span.header_size = header->emr.nSize;
    span.end = header->nBytes;
    return true;
}

std::optional<EmfPicture> read_emf(std::string bytes, std::string& error) {
    EmfPicture picture;
    MemorySource src(bytes);
    const std::optional<uint64_t> end = check_picture(src, picture, error);
    if (!end) return std::nullopt;
    picture.bytes = std::move(bytes);
    picture.bytes.resize(static_cast<size_t>(*end));  // within the bytes it was checked in
    return picture;
}

std::optional<EmfPicture> validate_emf(EmfByteSource& source, const std::string& name, std::string& error,
                                       const EmfRecordVisitor* visit) {
    if (source.size() > kFileLimit) {
        error = strformat("%s is larger than an enhanced metafile can be", name.c_str());
        return std::nullopt;
    }
    EmfPicture picture;
    WindowSource src(source);
    std::string why;
    const std::optional<uint64_t> end = check_picture(src, picture, why, visit);
    // The checks stop at the first read that fails; the real reason is that read.
    if (src.failed()) {
        error = strformat("cannot read %s: %s", name.c_str(), src.failure().c_str());
        return std::nullopt;
    }
    if (!end) {
        error = why;
        return std::nullopt;
    }
    return picture;
}

std::optional<EmfPicture> validate_emf_file(const std::string& path, std::string& error) {
    return walk_emf_file(path, nullptr, error);
}

std::optional<EmfPicture> walk_emf_file(const std::string& path, const EmfRecordVisitor& visit, std::string& error) {
    std::string reason;
    const int fd = platform::open_regular_file(path, reason);
    if (fd < 0) {
        error = strformat("cannot open %s: %s", path.c_str(), reason.c_str());
        return std::nullopt;
    }
    const std::optional<platform::FileStamp> stamp = platform::file_stamp(fd);
    if (!stamp) {
        error = strformat("cannot read %s", path.c_str());
        platform::close_file(fd);
        return std::nullopt;
    }
    DescriptorSource source(fd, stamp->size);
    auto picture = validate_emf(source, path, error, visit ? &visit : nullptr);
    platform::close_file(fd);
    return picture;
}

std::optional<EmfPicture> validate_emf_descriptor(int fd, const std::string& name, std::string& error) {
    const std::optional<platform::FileStamp> stamp = platform::file_stamp(fd);
    if (!stamp) {
        error = strformat("cannot read %s", name.c_str());
        return std::nullopt;
    }
    DescriptorSource source(fd, stamp->size);
    return validate_emf(source, name, error);
}

std::optional<EmfPicture> read_emf_descriptor(int fd, const std::string& name, std::string& error) {
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        const int64_t n = platform::read_at(fd, buffer, sizeof buffer, bytes.size());
        if (n < 0) {
            error = strformat("cannot read %s", name.c_str());
            return std::nullopt;
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<uint64_t>(n) > kFileLimit) {
            error = strformat("%s is larger than an enhanced metafile can be", name.c_str());
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return read_emf(std::move(bytes), error);
}

std::optional<EmfPicture> read_emf_file(const std::string& path, std::string& error) {
    std::string reason;
    std::FILE* f = platform::fopen_regular_file(path, reason);
    if (!f) {
        error = strformat("cannot open %s: %s", path.c_str(), reason.c_str());
        return std::nullopt;
    }
    std::string bytes;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        if (static_cast<uint64_t>(bytes.size()) + n > kFileLimit) {
            std::fclose(f);
            error = strformat("%s is larger than an enhanced metafile can be", path.c_str());
            return std::nullopt;
        }
        bytes.append(buffer, n);
    }
    const bool read_error = std::ferror(f) != 0;
    std::fclose(f);
    if (read_error) {
        error = strformat("cannot read %s", path.c_str());
        return std::nullopt;
    }
    return read_emf(std::move(bytes), error);
}

}  // namespace plotmint
