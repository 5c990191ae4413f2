// clipboard_put FILE.emf
// Puts FILE.emf on the clipboard as CF_ENHMETAFILE, with the calls a copy from the converter
// makes, then exits: clipboard_check run afterwards sees what a paste would.
// Exit status: 0 done, 2 error.
#include "win_util.h"

namespace {
constexpr const char* kProgram = "clipboard_put";
}

int main() {
    const auto args = wincheck::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: clipboard_put FILE.emf\n");
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
    // EmptyClipboard makes the window passed to OpenClipboard the owner; with none,
    // SetClipboardData fails. A message-only window is never shown.
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"clipboard_put", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
    if (!owner) {
        wincheck::say(kProgram, L"cannot create the clipboard owner window: " + wincheck::last_error_text());
        ::DeleteEnhMetaFile(picture);
        return 2;
    }
    int status = 0;
    if (!wincheck::open_clipboard(owner)) {
        wincheck::say(kProgram, L"cannot open the clipboard: " + wincheck::last_error_text());
        status = 2;
    } else {
        if (!::EmptyClipboard()) {
            wincheck::say(kProgram, L"cannot empty the clipboard: " + wincheck::last_error_text());
            status = 2;
        } else if (!::SetClipboardData(CF_ENHMETAFILE, picture)) {
            wincheck::say(kProgram, L"cannot put the picture on the clipboard: " + wincheck::last_error_text());
            status = 2;
        } else {
            picture = nullptr;  // the clipboard owns it now
        }
        ::CloseClipboard();
    }
    if (picture) ::DeleteEnhMetaFile(picture);
    ::DestroyWindow(owner);
    return status;
}
