#pragma once
// Records Surface calls into an enhanced metafile the way Windows GDI records them, one
// record at a time through a ByteSink, and patches the header when closed.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/geometry.h"
#include "base/log_sink.h"
#include "base/platform.h"
#include "metafile/surface.h"

namespace plotmint {

// Where the metafile's bytes go. patch() rewrites bytes already written (the header).
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool write(const void* data, size_t size) = 0;
    virtual bool patch(uint64_t offset, const void* data, size_t size) = 0;
    // Makes the result final (for a file: flush, then rename over the target).
    virtual bool commit() = 0;
    virtual std::string error() const = 0;
};

class MemorySink final : public ByteSink {
public:
    bool write(const void* data, size_t size) override;
    bool patch(uint64_t offset, const void* data, size_t size) override;
    bool commit() override { return true; }
    std::string error() const override { return {}; }
    std::string bytes;
};

// Writes to a temporary file beside `path` and renames it over `path` on commit, so an
// interrupted or failed write never leaves a damaged picture behind. Refused at once (ok()
// false, the reason in error()) when `path` is there and is not a regular file or a
// symbolic link to one; through a link, the file it leads to is replaced. A replaced
// file's permission bits are kept.
class FileSink final : public ByteSink {
public:
    explicit FileSink(std::string path);
    ~FileSink() override;
    bool ok() const { return file_ != nullptr && !failed_; }
    bool write(const void* data, size_t size) override;
    bool patch(uint64_t offset, const void* data, size_t size) override;
    bool commit() override;
    std::string error() const override { return error_; }
    // Hands what is buffered to the system, so that the temporary file reads back whole
    // before commit() makes it durable and puts it in place.
    bool finish();
    // Syncs to disk what has reached the system so far, so that commit() has less to wait
    // for. Touches nothing of the sink but its file: another thread may call it while this
    // one goes on writing. False with the system's errno in `err`; a failure must then be
    // handed to fail_sync(), since the system reports a lost write only once.
    bool sync_written(int& err);
    // Starts the disk writing what sync_written() would wait for, and does not wait; the
    // same terms.
    bool start_writeback(int& err);
    void fail_sync(int err);
    // Where the bytes are until commit() renames them over the target.
    const std::string& temporary_path() const { return temp_.path; }
    // How many bytes of the temporary have reached the system (write(2) has returned), so
    // that another thread may pread them while this one goes on writing. Only grows; the
    // header patched at close lies below it and is rewritten in place.
    uint64_t written() const { return written_.load(std::memory_order_acquire); }
    // Called on the writing thread each time written() has grown, to wake a reader that
    // waits for bytes. Set before the writing starts, or cleared once it has ended.
    void on_written(std::function<void()> told) { on_written_ = std::move(told); }
    // Whether, while on_written() was set, the temporary was found shorter than written()
    // before a write: cut by another hand, so that the write left a run of zeros behind
    // bytes a reader may have read before they went.
    bool cut_short() const { return cut_short_.load(std::memory_order_acquire); }

private:
    void fail(const std::string& what);
    bool flush_buffer();
    std::string path_, target_, error_;
    platform::TempFile temp_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::unique_ptr<char[]> buffer_;
    size_t buffered_ = 0;
    std::atomic<uint64_t> written_{0};
    std::function<void()> on_written_;
    std::atomic<bool> cut_short_{false};
    void handing_over();
    void handed_over(size_t size);
};

// What the file holds follows GDI: an object reaches the file when first selected (create
// record, then EMR_SELECTOBJECT) and takes the lowest free slot of the object table; a null
// pen is the stock NULL_PEN; deleting a stock object or one never selected writes nothing;
// text is EMR_EXTTEXTOUTW with one advance per character from the face's metric twin.
// Bounds are geometry, not ink: a line spans its two end points and a polygon its points,
// whatever the pen width; a text record spans (x, y) to (x + sum of advances + 1,
// y + cell height + 1), unrotated, where the cell height is lfHeight itself (see
// text_cell_height). A picture that is never closed is never committed.
class EmfWriter final : public Surface {
public:
    // frame: rclFrame in hundredths of a millimetre, kept exactly.
    EmfWriter(ByteSink& sink, const ReferenceDisplay& display, const Rect& frame);
    ~EmfWriter() override;

    ObjectId create_pen(PenStyle style, int32_t width, uint32_t color) override;
    ObjectId create_solid_brush(uint32_t color) override;
    ObjectId create_font(const LogFont& font) override;
    ObjectId select_object(ObjectId id) override;
    void delete_object(ObjectId id) override;
    void move_to(int32_t x, int32_t y) override;
    void line_to(int32_t x, int32_t y) override;
    void polygon(std::span<const Point> points) override;
    void set_text_color(uint32_t color) override;
    void set_bk_mode(int32_t mode) override;
    void text_out(int32_t x, int32_t y, std::string_view bytes) override;

    // Writes EMR_EOF, patches the header and commits the sink. Returns false, with a
    // reason in error(), when anything failed (including a picture beyond 4 GiB).
    bool close();
    std::string error() const;

    // Bytes written so far (the header and every record; EMR_EOF once closed).
    uint64_t size() const;
    // Union of the drawing records' bounds so far, logical units; (0, 0, -1, -1) when
    // nothing has been drawn. Geometry only: pen widths are not included.
    Rect bounds() const;

    // Counts `bytes` as written without writing them, so that the 4 GiB limit can be
    // reached in a test without producing 4 GiB.
    void count_unwritten_bytes_for_test(uint64_t bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace plotmint
