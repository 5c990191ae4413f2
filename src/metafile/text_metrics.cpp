#include "metafile/text_metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace plotmint {

namespace {

// Code page 1252's bytes 0x80..0x9F; the five it leaves undefined keep their own value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// A height of 0 asks for the default size; GDI's default for a TrueType face is about a
// 16-pixel cell on a 96-dpi display.
constexpr int32_t kDefaultCell = 16;

int32_t clamp_to_int32(double v) {
    if (!(v == v)) return 0;
    if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (v <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

bool same_face(std::string_view a, const char* b) {
    const std::string_view bv(b);
    if (a.size() != bv.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(bv[i])) return false;
    }
    return true;
}

}  // namespace

char16_t byte_to_utf16(unsigned char byte, uint8_t char_set) {
    if (char_set == kSymbolCharset) return byte < 0x20 ? char16_t{byte} : static_cast<char16_t>(0xF000 + byte);
    if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
    return char16_t{byte};
}

std::u16string bytes_to_utf16(std::string_view bytes, uint8_t char_set) {
    std::u16string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) out.push_back(byte_to_utf16(b, char_set));
    return out;
}

unsigned char utf16_to_cp1252(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == c) return static_cast<unsigned char>(0x80 + i);
    return '?';
}

const FaceAdvances& face_advances_for(std::string_view face_name, int32_t weight) {
    const bool bold = weight >= 600;
    const FaceAdvances* regular = nullptr;
    for (const FaceAdvances& f : face_advance_tables()) {
        if (!same_face(face_name, f.face)) continue;
        if (f.bold == bold) return f;
        if (!f.bold) regular = &f;
    }
    if (regular) return *regular;
    return face_advances_for("Arial", weight);
}

std::vector<int32_t> text_advances(const LogFont& font, std::string_view bytes) {
    const FaceAdvances& face = face_advances_for(font.face_name, font.weight);
    // Scale from font units to logical units: a positive height is the cell, a negative
    // one the em.
    double scale;
    if (font.height > 0)
        scale = static_cast<double>(font.height) / face.cell_units;
    else if (font.height < 0)
        scale = -static_cast<double>(font.height) / face.units_per_em;
    else
        scale = kDefaultCell / face.cell_units;
    std::vector<int32_t> dx;
    dx.reserve(bytes.size());
    for (unsigned char b : bytes) {
        const uint16_t advance = b >= 32 ? face.advances[b - 32] : face.missing_advance;
        dx.push_back(clamp_to_int32(std::round(advance * scale)));
    }
    return dx;
}

int32_t text_cell_height(const LogFont& font) {
    if (font.height > 0) return font.height;
    if (font.height == 0) return kDefaultCell;
    const FaceAdvances& face = face_advances_for(font.face_name, font.weight);
    return clamp_to_int32(std::round(-static_cast<double>(font.height) * face.cell_units / face.units_per_em));
}

LogFont stock_system_font() {
    LogFont f;
    f.height = kDefaultCell;
    f.weight = 700;
    f.face_name = "System";
    return f;
}

}  // namespace plotmint
