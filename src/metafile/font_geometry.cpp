#include "metafile/font_geometry.h"

#include <cctype>

#include "metafile/symbol_encoding.h"
#include "metafile/text_metrics.h"

namespace plotmint {

namespace {

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

struct Twin {
    const char* face;
    const char* twins[1];
};
constexpr Twin kTwins[] = {
    {"Arial", {"Liberation Sans"}},
    {"Times New Roman", {"Liberation Serif"}},
    {"Courier New", {"Liberation Mono"}},
    {"Century", {"C059"}},
};

constexpr const char* kSymbolStandIns[] = {"Nimbus Roman", "Times New Roman", "Liberation Serif", "DejaVu Serif"};

}  // namespace

double em_height(const LogFont& font) {
    if (font.height < 0) return -static_cast<double>(font.height);
    const FaceAdvances& face = face_advances_for(font.face_name, font.weight);
    return cell_height(font) * face.units_per_em / face.cell_units;
}

double cell_height(const LogFont& font) {
    if (font.height > 0) return font.height;
    if (font.height == 0) return text_cell_height(font);
    const FaceAdvances& face = face_advances_for(font.face_name, font.weight);
    return -static_cast<double>(font.height) * face.cell_units / face.units_per_em;
}

double baseline_offset(const LogFont& font) {
    const FaceAdvances& face = face_advances_for(font.face_name, font.weight);
    return cell_height(font) * face.ascent_units / face.cell_units;
}

bool is_symbol_face(std::string_view face) { return same_name(face, "Symbol"); }

char16_t drawn_character(const LogFont& font, char16_t recorded) {
    if (is_symbol_face(font.face_name)) {
        // As on Windows, the Symbol face shows the same character for a byte whether the
        // record holds the byte itself or U+F000 + byte.
        if (recorded >= 0x20 && recorded <= 0xFF) return symbol_byte_to_unicode(static_cast<unsigned char>(recorded));
        return symbol_text_to_unicode(recorded);
    }
    // Other symbol-set faces reach their glyphs through the byte, as their free stand-ins
    // map them.
    if (recorded >= 0xF020 && recorded <= 0xF0FF) return static_cast<char16_t>(recorded - 0xF000);
    return recorded;
}

std::span<const char* const> twin_families(std::string_view face) {
    for (const Twin& t : kTwins)
        if (same_name(face, t.face)) return t.twins;
    return {};
}

std::span<const char* const> symbol_stand_in_families() { return kSymbolStandIns; }

}  // namespace plotmint
