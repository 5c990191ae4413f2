// clipboard_check FILE.emf
// Reads the enhanced metafile on the clipboard and compares its bytes with FILE.emf: what a
// program pasting the picture receives must be the file itself.
// Exit status: 0 equal, 1 different, 2 error (no picture on the clipboard, unreadable file).
#include <algorithm>

#include "win_util.h"

namespace {
constexpr const char* kProgram = "clipboard_check";
}

int main() {
    const auto args = wincheck::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: clipboard_check FILE.emf\n");
        return 2;
    }
    std::wstring error;
    const auto expected = wincheck::read_file(args[1], error);
    if (!expected) {
        wincheck::say(kProgram, error);
        return 2;
    }
    if (!wincheck::open_clipboard(nullptr)) {
        wincheck::say(kProgram, L"cannot open the clipboard: " + wincheck::last_error_text());
        return 2;
    }
    // The clipboard keeps the handle; it is not ours to delete.
    const auto picture = static_cast<HENHMETAFILE>(::GetClipboardData(CF_ENHMETAFILE));
    std::string got;
    if (picture) {
        const UINT size = ::GetEnhMetaFileBits(picture, 0, nullptr);
        got.resize(size);
        if (size == 0 || ::GetEnhMetaFileBits(picture, size, reinterpret_cast<BYTE*>(got.data())) != size)
            got.clear();
    }
    ::CloseClipboard();
    if (!picture) {
        wincheck::say(kProgram, L"the clipboard holds no enhanced metafile");
        return 2;
    }
    if (got.empty()) {
        wincheck::say(kProgram, L"cannot read the bytes of the clipboard's enhanced metafile");
        return 2;
    }
    if (got == *expected) {
        std::printf("clipboard_check: the clipboard holds the %zu bytes of the file\n", got.size());
        return 0;
    }
    const auto diff = std::mismatch(got.begin(), got.end(), expected->begin(), expected->end());
    std::printf("clipboard_check: differs: clipboard %zu bytes, file %zu bytes, first difference at byte %zu\n",
                got.size(), expected->size(), static_cast<size_t>(diff.first - got.begin()));
    return 1;
}
