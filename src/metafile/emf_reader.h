#pragma once
// Reads an EMF back with every size, offset, count and object index checked (64-bit
// arithmetic), so a damaged or hostile file is refused instead of read out of bounds.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/geometry.h"
#include "metafile/surface.h"

namespace plotmint {

struct EmfPicture {
    std::string bytes;          // the whole file as read
    Rect bounds;                // rclBounds, logical units
    Rect frame;                 // rclFrame, hundredths of a millimetre
    ReferenceDisplay display;   // szlMillimeters / szlDevice
    uint32_t record_count = 0;  // nRecords
    uint32_t handle_count = 0;  // nHandles
    // The frame in logical units (pixels of the reference display), each edge rounded to
    // the nearest unit: what a viewer stretches.
    Rect logical_frame() const;
};

// nullopt with a reason in `error` when the bytes are not a readable EMF. Bytes past the
// header's nBytes are dropped; everything before must be whole records ending in EMR_EOF,
// with nRecords matching.
std::optional<EmfPicture> read_emf(std::string bytes, std::string& error);
std::optional<EmfPicture> read_emf_file(const std::string& path, std::string& error);
// The same checks as read_emf_file, made while the file streams through a fixed window, so
// memory does not grow with the picture: for a caller that needs the picture's header and
// the assurance that it reads back, not its bytes. The result's bytes are empty.
std::optional<EmfPicture> validate_emf_file(const std::string& path, std::string& error);

// One record of a picture being walked; `data` holds its `size` bytes until the next record.
struct EmfRecord {
    uint32_t index;
    uint64_t offset;
    uint32_t type;
    uint32_t size;
    const char* data;
};
// read_emf_file and validate_emf_file on a file already open for reading; `name` is what
// the messages call it. The descriptor stays open.
std::optional<EmfPicture> read_emf_descriptor(int fd, const std::string& name, std::string& error);
std::optional<EmfPicture> validate_emf_descriptor(int fd, const std::string& name, std::string& error);

// Handed each record after the header, in order, once it has passed the checks; the header's
// fields of `picture` are filled by then. Returning false stops the walk with `error` set.
using EmfRecordVisitor = std::function<bool(const EmfPicture& picture, const EmfRecord& record, std::string& error)>;
// validate_emf_file that hands each record to `visit` as it streams by: a picture can be
// played from its file in memory that does not grow with it. Records before a failure have
// been handed on.
std::optional<EmfPicture> walk_emf_file(const std::string& path, const EmfRecordVisitor& visit, std::string& error);

// Where validate_emf's bytes come from: a size taken once at the start, then reads at an
// offset. The file may shrink meanwhile (another program truncating it), so a read may come
// up short; that refuses the picture with "cannot read NAME: ..." and nothing past what was
// read is looked at. validate_emf_file reads a file through one of these.
class EmfByteSource {
public:
    virtual ~EmfByteSource() = default;
    virtual uint64_t size() const = 0;
    // Up to `size` bytes at `offset` into `out`: the count read, 0 at the end, or -1 with
    // errno set.
    virtual int64_t read_at(uint64_t offset, char* out, size_t size) = 0;
};
// validate_emf_file on any source; `name` is what the messages call it.
// With `visit` set, each record is handed on as walk_emf_file does.
std::optional<EmfPicture> validate_emf(EmfByteSource& source, const std::string& name, std::string& error,
                                       const EmfRecordVisitor* visit = nullptr);

}  // namespace plotmint
