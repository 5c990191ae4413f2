#pragma once
// The picture formats Plotmint writes, by name and by file extension. No Qt here: the
// converter reads these names even when it is built without the exports.
#include <optional>
#include <string>
#include <string_view>

namespace plotmint {

enum class PictureFormat { emf, svg, pdf, png };

// PNG resolution, in dots per inch of the picture's physical size.
inline constexpr int kDefaultPngDpi = 96;
inline constexpr int kMaxPngDpi = 4800;

// "emf", "svg", "pdf", "png" in any case; nullopt for anything else.
inline std::optional<PictureFormat> format_from_name(std::string_view name) {
    std::string n(name);
    for (char& c : n)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (n == "emf") return PictureFormat::emf;
    if (n == "svg") return PictureFormat::svg;
    if (n == "pdf") return PictureFormat::pdf;
    if (n == "png") return PictureFormat::png;
    return std::nullopt;
}

// By the extension of the last component of `path`; nullopt when it names none of the
// formats (a name that is all extension, like ".svg", has none).
inline std::optional<PictureFormat> format_from_path(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    return format_from_name(base.substr(dot + 1));
}

// The extension without its dot, lower case; also the format's name.
inline const char* format_extension(PictureFormat format) {
    switch (format) {
        case PictureFormat::svg: return "svg";
        case PictureFormat::pdf: return "pdf";
        case PictureFormat::png: return "png";
        case PictureFormat::emf: break;
    }
    return "emf";
}

}  // namespace plotmint
