#include "metafile/emf_writer.h"


#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include <uemf.h>

#include "base/format.h"
#include "base/platform.h"
#include "metafile/text_metrics.h"

static_assert(std::endian::native == std::endian::little, "EMF records are little-endian");

namespace plotmint {

// ---------------------------------------------------------------------------------------
// Sinks

bool MemorySink::write(const void* data, size_t size) {
    bytes.append(static_cast<const char*>(data), size);
    return true;
}

bool MemorySink::patch(uint64_t offset, const void* data, size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    std::memcpy(bytes.data() + offset, data, size);
    return true;
}

namespace {

constexpr size_t kFileBuffer = 1 << 18;

std::string errno_text(int err) { return std::strerror(err); }

}  // namespace

FileSink::FileSink(std::string path) : path_(std::move(path)) {
    std::string error;
    // A device, a FIFO or a folder in the way is refused before anything is made: a rename
    // over /dev/null would turn it into a plain file. A link to a picture keeps being a link.
    const std::optional<std::string> target = platform::replace_target(path_, error);
    if (!target) {
        fail(error);
        return;
    }
    target_ = *target;
    // The temporary sits beside the file it replaces so the final rename stays on one file
    // system and replaces the old picture in one step.
    std::optional<platform::TempFile> temp = platform::create_temporary(target_, error);
    if (!temp) {
        fail(strformat("cannot create a temporary file beside %s: %s", target_.c_str(), error.c_str()));
        return;
    }
    temp_ = std::move(*temp);
    file_ = platform::stream_from(temp_.fd, "wb");
    if (!file_) {
        const int err = errno;
        fail(strformat("cannot open %s: %s", temp_.path.c_str(), errno_text(err).c_str()));
        platform::discard_temporary(temp_);
        return;
    }
    // The sink buffers the records itself: a picture is millions of records of 12 to 28
    // bytes, and a copy into a buffer costs a fraction of a call into stdio for each.
    buffer_ = std::make_unique<char[]>(kFileBuffer);
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

FileSink::~FileSink() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
        temp_.fd = -1;
    }
    // Never committed: the old picture stays and the partial one goes.
    platform::discard_temporary(temp_);
}

void FileSink::fail(const std::string& what) {
    if (!failed_) error_ = what;
    failed_ = true;
}

// Looked at only when someone reads the temporary as it grows: a file cut short and then
// written on looks whole by its size.
void FileSink::handing_over() {
    if (!on_written_ || cut_short_.load(std::memory_order_relaxed)) return;
    const std::optional<platform::FileStamp> stamp = platform::file_stamp(platform::stream_descriptor(file_));
    if (!stamp || stamp->size < written_.load(std::memory_order_relaxed))
        cut_short_.store(true, std::memory_order_release);
}

// The stream is unbuffered, so a whole fwrite has been handed to write(2) when it returns;
// the fflush costs nothing then, and keeps the mark from running ahead of the system should
// stdio ever hold bytes back.
void FileSink::handed_over(size_t size) {
    if (std::fflush(file_) != 0) {
        fail(strformat("cannot write %s: %s", temp_.path.c_str(), errno_text(errno).c_str()));
        return;
    }
    written_.store(written_.load(std::memory_order_relaxed) + size, std::memory_order_release);
    if (on_written_) on_written_();
}

bool FileSink::flush_buffer() {
    if (buffered_ == 0) return true;
    handing_over();
    if (std::fwrite(buffer_.get(), 1, buffered_, file_) != buffered_) {
        fail(strformat("cannot write %s: %s", temp_.path.c_str(), errno_text(errno).c_str()));
        return false;
    }
    handed_over(buffered_);
    buffered_ = 0;
    return ok();
}

bool FileSink::write(const void* data, size_t size) {
    if (!ok()) return false;
    if (size <= kFileBuffer - buffered_) {
        std::memcpy(buffer_.get() + buffered_, data, size);
        buffered_ += size;
        return true;
    }
    if (!flush_buffer()) return false;
    if (size < kFileBuffer) {
        std::memcpy(buffer_.get(), data, size);
        buffered_ = size;
        return true;
    }
    handing_over();
    if (std::fwrite(data, 1, size, file_) != size) {
        fail(strformat("cannot write %s: %s", temp_.path.c_str(), errno_text(errno).c_str()));
        return false;
    }
    handed_over(size);
    return ok();
}

bool FileSink::patch(uint64_t offset, const void* data, size_t size) {
    if (!ok() || !flush_buffer()) return false;
    if (std::fflush(file_) != 0 || !platform::seek_stream(file_, offset) ||
        (size != 0 && std::fwrite(data, 1, size, file_) != size) || !platform::seek_stream_to_end(file_)) {
        fail(strformat("cannot write %s: %s", temp_.path.c_str(), errno_text(errno).c_str()));
        return false;
    }
    return true;
}

bool FileSink::finish() {
    if (!ok() || !flush_buffer()) return false;
    if (std::fflush(file_) != 0) {
        fail(strformat("cannot write %s: %s", temp_.path.c_str(), errno_text(errno).c_str()));
        return false;
    }
    // The permission bits the picture will have, before anyone opens it to read it back: a
    // picture its owner may not read fails the read-back as it would after the rename.
    platform::keep_permissions(platform::stream_descriptor(file_), target_);
    return true;
}

bool FileSink::sync_written(int& err) {
    if (file_ && platform::flush_to_disk(file_)) return true;
    err = file_ ? errno : EBADF;
    return false;
}

bool FileSink::start_writeback(int& err) {
    if (file_ && platform::start_writeback(file_)) return true;
    err = file_ ? errno : EBADF;
    return false;
}

void FileSink::fail_sync(int err) {
    fail(strformat("cannot write %s: %s", temp_.path.c_str(), errno_text(err).c_str()));
}

bool FileSink::commit() {
    if (!ok() || !flush_buffer()) return false;
    // A replaced picture keeps who may read it (a private 0600 one stays private).
    platform::keep_permissions(platform::stream_descriptor(file_), target_);
    if (!platform::flush_to_disk(file_)) {
        fail(strformat("cannot write %s: %s", temp_.path.c_str(), errno_text(errno).c_str()));
        return false;
    }
    const int closed = std::fclose(file_);
    const int close_err = errno;
    file_ = nullptr;
    temp_.fd = -1;
    if (closed != 0) {
        fail(strformat("cannot write %s: %s", temp_.path.c_str(), errno_text(close_err).c_str()));
        return false;
    }
    std::string error;
    if (!platform::commit_temporary(temp_, target_, error)) {
        fail(strformat("cannot replace %s: %s", path_.c_str(), error.c_str()));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Writer

namespace {

struct FreeRecord {
    void operator()(char* p) const { std::free(p); }
};
using Record = std::unique_ptr<char, FreeRecord>;

constexpr uint64_t kMaxBytes = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kEofSize = 20;
// The header's nHandles is 16 bits wide and counts slot 0 too.
constexpr uint32_t kMaxSlots = std::numeric_limits<uint16_t>::max() - 1;

enum class Kind { pen, brush, font, none };

Kind stock_kind(ObjectId id) {
    const uint32_t index = id & ~kStockFlag;
    if (index <= 5) return Kind::brush;  // WHITE_BRUSH .. NULL_BRUSH
    if (index >= 6 && index <= 8) return Kind::pen;  // WHITE_PEN, BLACK_PEN, NULL_PEN
    if (index >= 10 && index <= 17 && index != 15) return Kind::font;  // 15 is DEFAULT_PALETTE
    return Kind::none;
}

U_COLORREF colorref(uint32_t color) {
    U_COLORREF c;
    std::memcpy(&c, &color, sizeof c);
    return c;
}

int32_t clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                     std::numeric_limits<int32_t>::max()));
}

std::vector<uint16_t> face_name_utf16(const std::string& name) {
    std::vector<uint16_t> out(U_LF_FACESIZE, 0);
    // LOGFONTA holds 31 characters and the terminator; longer names are cut as GDI cuts them.
    const size_t n = std::min<size_t>(name.size(), U_LF_FACESIZE - 1);
    for (size_t i = 0; i < n; ++i) out[i] = byte_to_utf16(static_cast<unsigned char>(name[i]), kAnsiCharset);
    return out;
}

// The records written most often (one per segment, per pen, per fill) are built in place
// instead of by libUEMF, which allocates each record on the heap: the same bytes (the tests
// compare the two), at a fraction of the cost.
template <size_t N>
struct Words {
    uint32_t w[N];
    const char* bytes() const { return reinterpret_cast<const char*>(w); }
};

template <class T>
uint32_t word_of(const T& v) {
    static_assert(sizeof(T) == 4 && std::is_trivially_copyable_v<T>);
    uint32_t w;
    std::memcpy(&w, &v, 4);
    return w;
}

}  // namespace

struct EmfWriter::Impl {
    struct Object {
        Kind kind = Kind::none;
        U_LOGPEN pen{};
        uint32_t brush_color = 0;
        LogFont font;
        uint32_t slot = 0;  // 0 until first selected
    };

    Impl(ByteSink& s, const ReferenceDisplay& d, const Rect& f) : sink(s), display(d), frame(f) {}

    ByteSink& sink;
    ReferenceDisplay display;
    Rect frame;

    static constexpr size_t kStageBytes = size_t{1} << 16;
    std::unique_ptr<char[]> stage = std::make_unique<char[]>(kStageBytes);
    size_t staged = 0;

    uint64_t bytes = 0;
    uint32_t records = 0;
    std::string error;
    bool closed = false;
    bool close_result = false;

    bool has_bounds = false;
    Rect bounds{0, 0, -1, -1};

    std::unordered_map<ObjectId, Object> objects;
    ObjectId next_id = 1;
    std::set<uint32_t> free_slots;  // freed slots below peak_slots
    uint32_t peak_slots = 0;
    ObjectId selected[3] = {kStockBlackPen, kStockWhiteBrush, kStockSystemFont};
    LogFont font = stock_system_font();
    Point position;
    std::vector<uint32_t> scratch;  // a record being built, kept for its capacity

    bool failed() const { return !error.empty() || closed; }

    void fail(std::string what) {
        if (error.empty()) error = std::move(what);
    }

    // Whether a record of `size` bytes may still be written, leaving room for EMR_EOF
    // unless it is EMR_EOF.
    bool fits(uint64_t size, bool is_eof = false) {
        if (failed()) return false;
        if (size > kMaxBytes || bytes + size + (is_eof ? 0 : kEofSize) > kMaxBytes) {
            too_large();
            return false;
        }
        return true;
    }

    void too_large() { fail("the picture would be larger than the 4 GiB an enhanced metafile can hold"); }

    bool emit(const char* rec, bool is_eof = false) {
        if (failed()) return false;
        if (!rec) {
            fail("out of memory while building a metafile record");
            return false;
        }
        uint32_t size;
        std::memcpy(&size, rec + offsetof(U_EMR, nSize), sizeof size);
        if (!fits(size, is_eof)) return false;
        if (size > kStageBytes - staged) {
            if (!hand_over()) return false;
            if (size > kStageBytes) {
                if (!write_to_sink(rec, size)) return false;
                bytes += size;
                ++records;
                return true;
            }
        }
        std::memcpy(stage.get() + staged, rec, size);
        staged += size;
        bytes += size;
        ++records;
        return true;
    }
    bool emit(const Record& rec) { return emit(rec.get()); }

    // Records gather here and reach the sink a stage at a time, each write holding whole
    // records: a picture is mostly records of 12 and 16 bytes, and a call down to the file
    // for each cost more than building them.
    bool hand_over() {
        if (staged == 0) return true;
        const size_t n = staged;
        staged = 0;
        return write_to_sink(stage.get(), n);
    }

    bool write_to_sink(const char* data, size_t size) {
        if (sink.write(data, size)) return true;
        const std::string why = sink.error();
        fail(why.empty() ? std::string("cannot write the metafile") : why);
        return false;
    }

    void add_bounds(const Rect& r) {
        if (!has_bounds) {
            bounds = r;
            has_bounds = true;
            return;
        }
        bounds.left = std::min(bounds.left, r.left);
        bounds.top = std::min(bounds.top, r.top);
        bounds.right = std::max(bounds.right, r.right);
        bounds.bottom = std::max(bounds.bottom, r.bottom);
    }

    Record header_record() const {
        const U_RECTL b{bounds.left, bounds.top, bounds.right, bounds.bottom};
        const U_RECTL f{frame.left, frame.top, frame.right, frame.bottom};
        Record rec(U_EMRHEADER_set(b, f, nullptr, 0, nullptr, sizel_set(display.horz_px, display.vert_px),
                                   sizel_set(display.horz_mm, display.vert_mm), 0));
        if (rec) {
            auto* h = reinterpret_cast<U_EMRHEADER*>(rec.get());
            h->szlMicrometers.cx = clamp32(int64_t{display.horz_mm} * 1000);
            h->szlMicrometers.cy = clamp32(int64_t{display.vert_mm} * 1000);
            h->nBytes = static_cast<uint32_t>(bytes);
            h->nRecords = records;
            h->nHandles = static_cast<uint16_t>(peak_slots + 1);
        }
        return rec;
    }

    // The lowest free slot, as GDI hands them out; 0 when the table is full.
    uint32_t take_slot() {
        if (!free_slots.empty()) {
            const uint32_t slot = *free_slots.begin();
            free_slots.erase(free_slots.begin());
            return slot;
        }
        if (peak_slots >= kMaxSlots) {
            fail("too many objects alive at once for an enhanced metafile");
            return 0;
        }
        return ++peak_slots;
    }

    ObjectId add_object(Object obj) {
        if (failed()) return 0;
        if (next_id >= kStockFlag) {
            fail("too many objects created for one metafile");
            return 0;
        }
        const ObjectId id = next_id++;
        objects.emplace(id, std::move(obj));
        return id;
    }

    bool record_create(Object& obj) {
        const uint32_t slot = take_slot();
        if (slot == 0) return false;
        obj.slot = slot;
        switch (obj.kind) {
            case Kind::pen: {
                static_assert(sizeof(U_LOGPEN) == 16);
                const Words<7> rec{{U_EMR_CREATEPEN, 28, slot, obj.pen.lopnStyle, word_of(obj.pen.lopnWidth.x),
                                    word_of(obj.pen.lopnWidth.y), word_of(obj.pen.lopnColor)}};
                return emit(rec.bytes());
            }
            case Kind::brush: {
                const Words<6> rec{{U_EMR_CREATEBRUSHINDIRECT, 24, slot, U_BS_SOLID, word_of(colorref(obj.brush_color)), 0}};
                return emit(rec.bytes());
            }
            case Kind::font: {
                std::vector<uint16_t> face = face_name_utf16(obj.font.face_name);
                const LogFont& f = obj.font;
                const U_LOGFONT lf = logfont_set(f.height, f.width, f.escapement, f.orientation, f.weight, f.italic,
                                                 f.underline, f.strike_out, f.char_set, f.out_precision,
                                                 f.clip_precision, f.quality, f.pitch_and_family, face.data());
                // Every PANOSE field "no fit", as CreateFont leaves them (libUEMF's U_PAN_ALL1 is a C
                // compound literal, which C++ compilers only take as an extension).
                const U_PANOSE no_fit{1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
                U_LOGFONT_PANOSE elfw = logfont_panose_set(lf, nullptr, nullptr, 0, no_fit);
                return emit(Record(U_EMREXTCREATEFONTINDIRECTW_set(slot, nullptr, reinterpret_cast<const char*>(&elfw))));
            }
            case Kind::none:
                break;
        }
        return false;
    }
};

EmfWriter::EmfWriter(ByteSink& sink, const ReferenceDisplay& display, const Rect& frame)
    : impl_(std::make_unique<Impl>(sink, display, frame)) {
    if (display.horz_mm <= 0 || display.vert_mm <= 0 || display.horz_px <= 0 || display.vert_px <= 0) {
        impl_->fail(strformat("the reference display has no size (%d x %d mm, %d x %d pixels)", display.horz_mm,
                              display.vert_mm, display.horz_px, display.vert_px));
        return;
    }
    impl_->emit(impl_->header_record());
}

// A writer dropped unclosed still hands over what it has written, as it did record by record.
EmfWriter::~EmfWriter() {
    if (!impl_->failed()) impl_->hand_over();
}

ObjectId EmfWriter::create_pen(PenStyle style, int32_t width, uint32_t color) {
    if (style == PenStyle::null) return kStockNullPen;
    Impl::Object obj;
    obj.kind = Kind::pen;
    // GDI keeps the magnitude of a negative width.
    const int64_t w = std::abs(int64_t{width});
    obj.pen = logpen_set(static_cast<uint32_t>(style), U_POINT{clamp32(w), 0}, colorref(color));
    return impl_->add_object(std::move(obj));
}

ObjectId EmfWriter::create_solid_brush(uint32_t color) {
    Impl::Object obj;
    obj.kind = Kind::brush;
    obj.brush_color = color;
    return impl_->add_object(std::move(obj));
}

ObjectId EmfWriter::create_font(const LogFont& font) {
    Impl::Object obj;
    obj.kind = Kind::font;
    obj.font = font;
    return impl_->add_object(std::move(obj));
}

ObjectId EmfWriter::select_object(ObjectId id) {
    Impl& m = *impl_;
    if (m.failed()) return 0;
    Kind kind;
    uint32_t index;
    const LogFont* font = nullptr;
    LogFont system_font;
    if (is_stock(id)) {
        kind = stock_kind(id);
        if (kind == Kind::none) return 0;
        index = id;
        if (kind == Kind::font) {
            system_font = stock_system_font();
            font = &system_font;
        }
    } else {
        auto it = m.objects.find(id);
        if (it == m.objects.end()) return 0;
        Impl::Object& obj = it->second;
        // Objects reach the file when first selected, not when made.
        if (obj.slot == 0 && !m.record_create(obj)) return 0;
        kind = obj.kind;
        index = obj.slot;
        if (kind == Kind::font) font = &obj.font;
    }
    if (!m.emit(Words<3>{{U_EMR_SELECTOBJECT, 12, index}}.bytes())) return 0;
    const int k = static_cast<int>(kind);
    const ObjectId old = m.selected[k];
    m.selected[k] = id;
    if (font) m.font = *font;
    return old;
}

void EmfWriter::delete_object(ObjectId id) {
    Impl& m = *impl_;
    if (m.failed() || is_stock(id)) return;
    auto it = m.objects.find(id);
    if (it == m.objects.end()) return;
    const uint32_t slot = it->second.slot;
    m.objects.erase(it);
    if (slot == 0) return;  // never selected, so never in the file
    m.free_slots.insert(slot);
    m.emit(Words<3>{{U_EMR_DELETEOBJECT, 12, slot}}.bytes());
}

void EmfWriter::move_to(int32_t x, int32_t y) {
    Impl& m = *impl_;
    if (m.emit(Words<4>{{U_EMR_MOVETOEX, 16, word_of(x), word_of(y)}}.bytes())) m.position = {x, y};
}

void EmfWriter::line_to(int32_t x, int32_t y) {
    Impl& m = *impl_;
    if (!m.emit(Words<4>{{U_EMR_LINETO, 16, word_of(x), word_of(y)}}.bytes())) return;
    // A line's bounds are its two end points; the pen width is left out, as for polygons.
    m.add_bounds({std::min(m.position.x, x), std::min(m.position.y, y), std::max(m.position.x, x),
                  std::max(m.position.y, y)});
    m.position = {x, y};
}

void EmfWriter::polygon(std::span<const Point> points) {
    Impl& m = *impl_;
    if (points.size() < 2 || m.failed()) return;
    const uint64_t n = points.size();
    constexpr uint64_t fixed = sizeof(U_EMRPOLYGON16) - sizeof(U_POINT16);  // 28 for both kinds
    // Refuse before touching the points when even the compact form could not fit.
    if (n > kMaxBytes / 4) {
        m.too_large();
        return;
    }
    if (!m.fits(fixed + 4 * n)) return;
    Rect r{points[0].x, points[0].y, points[0].x, points[0].y};
    bool small = true;
    for (const Point& p : points) {
        r.left = std::min(r.left, p.x);
        r.top = std::min(r.top, p.y);
        r.right = std::max(r.right, p.x);
        r.bottom = std::max(r.bottom, p.y);
        small = small && p.x >= INT16_MIN && p.x <= INT16_MAX && p.y >= INT16_MIN && p.y <= INT16_MAX;
    }
    const U_RECTL bounds{r.left, r.top, r.right, r.bottom};
    const uint32_t count = static_cast<uint32_t>(n);
    bool written;
    if (small) {
        // EMR_POLYGON16: head, rclBounds, cpts, then the points as pairs of 16-bit values.
        std::vector<uint32_t>& rec = m.scratch;
        rec.resize(7 + points.size());
        rec[0] = U_EMR_POLYGON16;
        rec[1] = static_cast<uint32_t>(fixed + 4 * n);
        rec[2] = word_of(bounds.left);
        rec[3] = word_of(bounds.top);
        rec[4] = word_of(bounds.right);
        rec[5] = word_of(bounds.bottom);
        rec[6] = count;
        for (size_t i = 0; i < points.size(); ++i)
            rec[7 + i] = static_cast<uint16_t>(points[i].x) | static_cast<uint32_t>(static_cast<uint16_t>(points[i].y)) << 16;
        written = m.emit(reinterpret_cast<const char*>(rec.data()));
    } else {
        if (!m.fits(fixed + 8 * n)) return;
        std::vector<U_POINTL> pts;
        pts.reserve(points.size());
        for (const Point& p : points) pts.push_back(point32_set(p.x, p.y));
        written = m.emit(Record(U_EMRPOLYGON_set(bounds, count, pts.data())));
    }
    if (written) m.add_bounds(r);
}

void EmfWriter::set_text_color(uint32_t color) {
    impl_->emit(Words<3>{{U_EMR_SETTEXTCOLOR, 12, word_of(colorref(color))}}.bytes());
}

void EmfWriter::set_bk_mode(int32_t mode) {
    impl_->emit(Record(U_EMRSETBKMODE_set(static_cast<uint32_t>(mode))));
}

void EmfWriter::text_out(int32_t x, int32_t y, std::string_view bytes) {
    Impl& m = *impl_;
    if (bytes.empty() || m.failed()) return;
    const uint64_t n = bytes.size();
    // Fixed part (76) + UTF-16 string padded to 4 + one 32-bit advance per character.
    const uint64_t size = 76 + ((2 * n + 3) & ~uint64_t{3}) + 4 * n;
    if (n > kMaxBytes) {
        m.too_large();
        return;
    }
    if (!m.fits(size)) return;
    const std::u16string text = bytes_to_utf16(bytes, m.font.char_set);
    const std::vector<int32_t> dx = text_advances(m.font, bytes);
    int64_t extent = 0;
    for (int32_t d : dx) extent += d;
    const int64_t cell = text_cell_height(m.font);
    const Rect r{x, y, clamp32(int64_t{x} + extent + 1), clamp32(int64_t{y} + cell + 1)};

    std::vector<uint32_t> dx_words(dx.begin(), dx.end());
    const Record emrtext(emrtext_set(point32_set(x, y), static_cast<uint32_t>(n), 2,
                                     const_cast<char16_t*>(text.data()), 0, U_RECTL{0, 0, -1, -1}, dx_words.data()));
    if (!emrtext) {
        m.fail("out of memory while building a metafile record");
        return;
    }
    const float ex = static_cast<float>(m.display.horz_mm * 100.0 / m.display.horz_px);
    const float ey = static_cast<float>(m.display.vert_mm * 100.0 / m.display.vert_px);
    const Record rec(U_EMREXTTEXTOUTW_set(U_RECTL{r.left, r.top, r.right, r.bottom}, U_GM_COMPATIBLE, ex, ey,
                                          reinterpret_cast<PU_EMRTEXT>(emrtext.get())));
    if (m.emit(rec)) m.add_bounds(r);
}

bool EmfWriter::close() {
    Impl& m = *impl_;
    if (m.closed) return m.close_result;
    bool ok = m.error.empty();
    if (ok) {
        EMFTRACK track{};
        const Record eof(U_EMREOF_set(0, nullptr, &track));
        // GDI records offPalEntries as 16 (the first byte after the fixed fields) even with
        // no palette entries; some readers compare it with what Windows writes.
        if (eof) reinterpret_cast<U_EMREOF*>(eof.get())->offPalEntries = 16;
        ok = m.emit(eof.get(), true) && m.hand_over();
    }
    if (ok) {
        const Record header = m.header_record();
        if (!header) {
            m.fail("out of memory while building a metafile record");
            ok = false;
        } else if (!m.sink.patch(0, header.get(), reinterpret_cast<const U_EMR*>(header.get())->nSize)) {
            m.fail(m.sink.error().empty() ? std::string("cannot write the metafile header") : m.sink.error());
            ok = false;
        }
    }
    if (ok && !m.sink.commit()) {
        m.fail(m.sink.error().empty() ? std::string("cannot finish the metafile") : m.sink.error());
        ok = false;
    }
    m.closed = true;
    m.close_result = ok;
    return ok;
}

std::string EmfWriter::error() const { return impl_->error; }

uint64_t EmfWriter::size() const { return impl_->bytes; }

Rect EmfWriter::bounds() const { return impl_->bounds; }

void EmfWriter::count_unwritten_bytes_for_test(uint64_t bytes) { impl_->bytes += bytes; }

}  // namespace plotmint
