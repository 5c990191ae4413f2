// playback_check FILE.emf OUT.bmp WIDTH HEIGHT
// Plays FILE.emf with GDI's PlayEnhMetaFile over the whole of a white WIDTH x HEIGHT 24-bit
// bitmap and writes it as OUT.bmp: how a Windows program that pastes or inserts the picture
// draws it, for a comparison with our own PNG export.
// Exit status: 0 written, 2 error.
#include <cstring>

#include "win_util.h"

namespace {

constexpr const char* kProgram = "playback_check";
constexpr long kMaxSide = 16384;

bool parse_side(const std::wstring& text, LONG& out) {
    if (text.empty() || text.size() > 5) return false;
    long v = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        v = v * 10 + (c - L'0');
    }
    if (v < 1 || v > kMaxSide) return false;
    out = static_cast<LONG>(v);
    return true;
}

}  // namespace

int main() {
    const auto args = wincheck::arguments();
    LONG width = 0, height = 0;
    if (args.size() != 5 || !parse_side(args[3], width) || !parse_side(args[4], height)) {
        std::fprintf(stderr, "usage: playback_check FILE.emf OUT.bmp WIDTH HEIGHT (sides 1 to %ld)\n", kMaxSide);
        return 2;
    }
    std::wstring error;
    const auto bytes = wincheck::read_file(args[1], error);
    if (!bytes) {
        wincheck::say(kProgram, error);
        return 2;
    }
    HENHMETAFILE picture =
        ::SetEnhMetaFileBits(static_cast<UINT>(bytes->size()), reinterpret_cast<const BYTE*>(bytes->data()));
    if (!picture) {
        wincheck::say(kProgram, args[1] + L" is no enhanced metafile: " + wincheck::last_error_text());
        return 2;
    }

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, the row order a BMP file keeps
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    const size_t image_size = stride * static_cast<size_t>(height);

    int status = 0;
    void* pixels = nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = dc ? ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0) : nullptr;
    if (!bitmap || !pixels) {
        wincheck::say(kProgram, L"cannot make the bitmap: " + wincheck::last_error_text());
        status = 2;
    } else {
        HGDIOBJ old = ::SelectObject(dc, bitmap);
        std::memset(pixels, 0xFF, image_size);
        const RECT whole{0, 0, width, height};
        if (!::PlayEnhMetaFile(dc, picture, &whole)) {
            // GDI also says false when one record failed and the others were drawn; keep
            // the picture for a look but report it.
            wincheck::say(kProgram, L"PlayEnhMetaFile reported a failure: " + wincheck::last_error_text());
            status = 2;
        }
        ::GdiFlush();

        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        file.bfSize = static_cast<DWORD>(file.bfOffBits + image_size);
        info.bmiHeader.biSizeImage = static_cast<DWORD>(image_size);
        std::string out(reinterpret_cast<const char*>(&file), sizeof file);
        out.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
        out.append(static_cast<const char*>(pixels), image_size);
        if (!wincheck::write_file(args[2], out, error)) {
            wincheck::say(kProgram, error);
            status = 2;
        }
        ::SelectObject(dc, old);
    }
    if (bitmap) ::DeleteObject(bitmap);
    if (dc) ::DeleteDC(dc);
    ::DeleteEnhMetaFile(picture);
    return status;
}
