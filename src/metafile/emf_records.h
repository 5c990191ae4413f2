#pragma once
// Sizes and helpers shared by the EMF reader and player (not part of the public interface).
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace plotmint {

// EMR_EXTTEXTOUTW up to and including offDx, with and without the rcl rectangle.
constexpr uint32_t kTextFixedSize = 76;
constexpr uint32_t kTextFixedSizeNoRect = 60;
// EMR_EXTCREATEFONTINDIRECTW with a bare LOGFONTW (record head, ihFont, 92 bytes).
constexpr uint32_t kFontRecordMinSize = 104;
constexpr uint32_t kEmfStockFlag = 0x80000000u;

// Records sit at any 4-byte offset of a byte string: copy fields out rather than cast.
template <class T>
T load(const char* p) {
    static_assert(std::is_trivially_copyable_v<T>);
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Checks one record whose size is already known to be at least 8, a multiple of 4 and
// within the file: the fields the player reads, counts against the size, string and
// advance offsets, object indices against the table of `handle_count` slots. On failure
// `error` names the record and what is wrong with it.
bool check_emf_record(uint32_t handle_count, uint32_t index, uint64_t offset, const char* rec, uint32_t type,
                      uint32_t size, std::string& error);

// An enhanced metafile cannot exceed 4 GiB; anything longer is not one.
inline constexpr uint64_t kFileLimit = uint64_t{0xffffffffu} + 1;

// Where a checked header says its picture lies: the header's own size and nBytes.
struct EmfHeaderSpan {
    uint32_t header_size = 0;
    uint64_t end = 0;
};
struct EmfPicture;
// The checks the readers make of a header, on the first `size` bytes of a file of
// `file_size` bytes; fills the header's fields of `picture`. False when the header fails
// them (`error` says why) or runs past the `size` bytes given (`error` left empty).
bool check_emf_header(const char* bytes, size_t size, uint64_t file_size, EmfPicture& picture, EmfHeaderSpan& span,
                      std::string& error);

}  // namespace plotmint
