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

// The longest side of a PNG for which neither a resolution nor a size was asked: large
// enough to read every label, small enough to open, mail and put on a page.
inline constexpr int kDefaultPngLongestSide = 2000;
// The painter's coordinates end at 32767 pixels, so neither side may be longer.
inline constexpr int kMaxPngSide = 32767;
// A PNG is drawn a band of rows at a time and each band streamed into the file, so an image
// takes no more memory than this, whatever its size.
inline constexpr long long kPngBandBytes = 32LL << 20;

// How large a PNG is asked to be. With `dpi` set, the picture's physical size at that
// resolution; otherwise fitted, aspect kept, into `width` x `height` pixels, where 0 leaves
// a side free; with nothing set, the longest side is kDefaultPngLongestSide.
struct PngSizing {
    int dpi = 0;
    int width = 0, height = 0;

    static PngSizing at_dpi(int d) { return PngSizing{d, 0, 0}; }
    static PngSizing fit(int w, int h) { return PngSizing{0, w, h}; }
};

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
