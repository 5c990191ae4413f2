#pragma once
// Arbitrary bytes as a metafile read back from disk: the checked reader, then the player
// onto a canvas that reads everything it is given. Nothing may be read outside the bytes.
#include <cstdint>
#include <string>

#include "fuzz_bytes.h"
#include "metafile/emf_player.h"
#include "metafile/emf_reader.h"

namespace plotmint::fuzz {

inline std::string emf_one(const uint8_t* data, size_t size) {
    std::string error;
    const auto picture = read_emf(std::string(reinterpret_cast<const char*>(data), size), error);
    if (!picture) {
        if (error.empty()) return "a refused metafile gives no reason";
        return {};
    }
    const Rect frame = picture->logical_frame();
    NullCanvas canvas;
    canvas.line({frame.left, frame.top}, {frame.right, frame.bottom});
    std::string why;
    if (!play_emf(*picture, canvas, &why) && why.empty()) return "a picture that does not play gives no reason";
    if (canvas.mismatched()) return "text advances and characters differ in number";
    return {};
}

}  // namespace plotmint::fuzz
