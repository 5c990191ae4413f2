#pragma once
// What the Win32 check programs share: arguments as UTF-16 (a path in any script opens),
// whole files in and out, and messages on standard error.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace wincheck {

inline std::vector<std::wstring> arguments() {
    std::vector<std::wstring> out;
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv) return out;
    for (int i = 0; i < count; ++i) out.emplace_back(argv[i]);
    ::LocalFree(argv);
    return out;
}

inline void say(const char* program, const std::wstring& what) {
    std::fprintf(stderr, "%s: %ls\n", program, what.c_str());
}

inline std::wstring last_error_text() {
    const DWORD code = ::GetLastError();
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(code);
    if (text) ::LocalFree(text);
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    return out;
}

// The whole file; nothing when it cannot be read or is larger than limit.
inline std::optional<std::string> read_file(const std::wstring& path, std::wstring& error,
                                            unsigned long long limit = 1ull << 30) {
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        error = L"cannot open " + path + L": " + last_error_text();
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(f, &size) || static_cast<unsigned long long>(size.QuadPart) > limit) {
        error = path + L" is too large or its size cannot be read";
        ::CloseHandle(f);
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - got, 1u << 24));
        if (!::ReadFile(f, bytes.data() + got, want, &n, nullptr) || n == 0) {
            error = L"cannot read " + path + L": " + last_error_text();
            ::CloseHandle(f);
            return std::nullopt;
        }
        got += n;
    }
    ::CloseHandle(f);
    return bytes;
}

// Writes the file in full or reports why not; a half-written file is removed.
inline bool write_file(const std::wstring& path, const std::string& bytes, std::wstring& error) {
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        error = L"cannot create " + path + L": " + last_error_text();
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
        if (!::WriteFile(f, bytes.data() + done, want, &n, nullptr) || n == 0) {
            error = L"cannot write " + path + L": " + last_error_text();
            ::CloseHandle(f);
            ::DeleteFileW(path.c_str());
            return false;
        }
        done += n;
    }
    if (!::CloseHandle(f)) {
        error = L"cannot write " + path + L": " + last_error_text();
        ::DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

// The clipboard is one for the whole session: another program may hold it for a moment.
inline bool open_clipboard(HWND owner) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::OpenClipboard(owner)) return true;
        ::Sleep(20);
    }
    return false;
}

}  // namespace wincheck
