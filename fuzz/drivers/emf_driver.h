#pragma once
// Arbitrary bytes as a metafile read back from disk: the checked reader, then the player
// onto a canvas that reads everything it is given. Nothing may be read outside the bytes.
// For one input in eight (chosen by a hash of the bytes, so a finding replays) the same bytes
// as a file go through read_emf_file and the streaming validate_emf_file, which must come
// to the same verdict and the same header as read_emf; the file round trip costs far more
// than the checks themselves, and this keeps the rest of the search fast.
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_bytes.h"
#include "metafile/emf_player.h"
#include "metafile/emf_reader.h"
#include "scratch_file.h"

namespace plotmint::fuzz {

inline bool same_header(const EmfPicture& a, const EmfPicture& b) {
    return a.bounds == b.bounds && a.frame == b.frame && a.display.horz_mm == b.display.horz_mm &&
           a.display.vert_mm == b.display.vert_mm && a.display.horz_px == b.display.horz_px &&
           a.display.vert_px == b.display.vert_px && a.record_count == b.record_count &&
           a.handle_count == b.handle_count;
}

inline bool check_files_too(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return (h & 7) == 0;
}

inline std::string emf_files_agree(const std::string& bytes, const std::optional<EmfPicture>& picture,
                                   const std::string& error) {
    static ScratchFile file;
    file.assign(bytes);
    std::string file_error, stream_error;
    const auto from_file = read_emf_file(file.path(), file_error);
    const auto streamed = validate_emf_file(file.path(), stream_error);
    if (from_file.has_value() != picture.has_value()) return "read_emf_file and read_emf disagree: " + error + file_error;
    if (streamed.has_value() != picture.has_value())
        return "validate_emf_file and read_emf disagree: " + error + " | " + stream_error;
    if (!picture) return stream_error.empty() ? "the streaming check refuses a metafile without a reason" : "";
    if (!same_header(*picture, *streamed) || !same_header(*picture, *from_file) || from_file->bytes != picture->bytes)
        return "the readers agree on a picture but not on its header";
    return {};
}

// The regression tests ask for the file round trip on every input.
inline std::string emf_one(const uint8_t* data, size_t size, bool always_files = false) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto picture = read_emf(bytes, error);
    if (always_files || check_files_too(data, size)) {
        const std::string wrong = emf_files_agree(bytes, picture, error);
        if (!wrong.empty()) return wrong;
    }
    if (!picture) return error.empty() ? "a refused metafile gives no reason" : "";

    const Rect frame = picture->logical_frame();
    NullCanvas canvas;
    canvas.line({frame.left, frame.top}, {frame.right, frame.bottom});
    std::string why;
    if (!play_emf(*picture, canvas, &why) && why.empty()) return "a picture that does not play gives no reason";
    if (canvas.mismatched()) return "text advances and characters differ in number";
    return {};
}

}  // namespace plotmint::fuzz
