// The platform functions for Windows. Paths come in as UTF-8 and go to the wide (UTF-16)
// calls, so any name the file system holds can be opened; descriptors handed out are CRT
// descriptors in binary mode, since a picture's bytes must reach the disk untranslated.
#include "base/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "base/format.h"
#include "platform/cleanup_slots.h"
#include "platform/temporary_names.h"

namespace plotmint::platform {

namespace {

using detail::kRandomHexDigits;
using detail::kTempMarker;
using detail::temporary_owner;

bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* s, size_t size) {
    if (size == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(size), out.data(), n, nullptr, nullptr);
    return out;
}
std::string narrow(const std::wstring& s) { return narrow(s.data(), s.size()); }

// The callers report errno's text (strerror) after some failures, as they do on POSIX.
void set_errno_from(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: errno = ENOENT; break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: errno = EACCES; break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: errno = ENOMEM; break;
        default: errno = EIO; break;
    }
}

// The system's own text for the last error, without its closing full stop and line break.
std::string last_error_text() {
    const DWORD code = ::GetLastError();
    set_errno_from(code);
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n && text ? narrow(text, n) : strformat("error %lu", static_cast<unsigned long>(code));
    if (text) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.' || out.back() == ' '))
        out.pop_back();
    return out;
}

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// A CRT descriptor for `h`, which it then owns; -1 (and `h` closed) on failure.
int descriptor_for(HANDLE h, int flags) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0) ::CloseHandle(h);
    return fd;
}

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    explicit operator bool() const { return h != INVALID_HANDLE_VALUE; }
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what `path` names for looking at only (no read or write access), links followed;
// folders too.
HANDLE open_for_info(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool is_regular(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The final path of an open file, without the \\?\ prefix the system puts before it.
std::wstring final_path(HANDLE h) {
    std::wstring out(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
        if (n == 0) return {};
        if (n < out.size()) {
            out.resize(n);
            break;
        }
        out.resize(n + 1);
    }
    if (out.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + out.substr(8);
    if (out.rfind(L"\\\\?\\", 0) == 0) return out.substr(4);
    return out;
}

int64_t filetime_ns(LARGE_INTEGER t) { return t.QuadPart * 100; }
int64_t filetime_ns(FILETIME t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100;
}

std::optional<FileStamp> stamp_of(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) {
        set_errno_from(::GetLastError());
        return std::nullopt;
    }
    FileStamp s;
    s.device = info.dwVolumeSerialNumber;
    s.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    s.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    s.mtime_ns = filetime_ns(info.ftLastWriteTime);
    // The change time (attributes included) where the file system keeps one.
    FILE_BASIC_INFO basic{};
    s.ctime_ns = ::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ? filetime_ns(basic.ChangeTime)
                                                                                        : s.mtime_ns;
    return s;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    if (slash == 0) return path.substr(0, 1);
    if (slash == 2 && path[1] == ':') return path.substr(0, 3);
    return path.substr(0, slash);
}

std::wstring temp_folder() {
    wchar_t buf[MAX_PATH + 2];
    const DWORD n = ::GetTempPathW(MAX_PATH + 2, buf);
    if (n == 0 || n > MAX_PATH + 1) return L".\\";
    return std::wstring(buf, n);
}

bool random_hex(std::string& out) {
    unsigned char bytes[kRandomHexDigits / 2];
    if (::BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        errno = EIO;
        return false;
    }
    out.clear();
    for (const unsigned char b : bytes) out += strformat("%02x", b);
    return true;
}

// ---------------------------------------------------------------------------------------
// The names the cleanup handlers remove: see cleanup_slots.h.

using detail::g_cleanup;
using detail::register_cleanup;
using detail::unregister_cleanup;

BOOL WINAPI remove_temporaries(DWORD) {
    // Temporaries are opened with FILE_SHARE_DELETE: deleting one still open marks it, and
    // it goes when the process ends and its handle closes.
    for (auto& slot : g_cleanup)
        if (slot.state.load() == 2) ::DeleteFileW(wide(slot.path).c_str());
    for (auto& slot : g_cleanup)
        if (slot.state.load() == 2) ::RemoveDirectoryW(wide(slot.path).c_str());
    // Not handled: the next handler, in the end the system's, ends the process.
    return FALSE;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Reading

int open_regular_file(const std::string& path, std::string& error) {
    if (has_nul(path)) {
        error = "the name holds a NUL byte";
        return -1;
    }
    const std::wstring w = wide(path);
    if (w.empty()) {
        error = path.empty() ? "empty name" : "the name is not valid UTF-8";
        errno = ENOENT;
        return -1;
    }
    const DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = kNotARegularFile;
        return -1;
    }
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = last_error_text();
        return -1;
    }
    // A pipe, a console or a device such as NUL is no file to read in passes.
    if (!is_regular(h)) {
        ::CloseHandle(h);
        error = kNotARegularFile;
        return -1;
    }
    const int fd = descriptor_for(h, _O_RDONLY);
    if (fd < 0) error = std::strerror(errno);
    return fd;
}

std::FILE* fopen_regular_file(const std::string& path, std::string& error) {
    const int fd = open_regular_file(path, error);
    if (fd < 0) return nullptr;
    std::FILE* f = ::_fdopen(fd, "rb");
    if (!f) {
        error = std::strerror(errno);
        ::_close(fd);
    }
    return f;
}

int64_t read_at(int fd, void* data, size_t size, uint64_t offset) {
    HANDLE h = handle_of(fd);
    if (h == INVALID_HANDLE_VALUE || offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        errno = EBADF;
        return -1;
    }
    // ReadFile at an offset moves a synchronous handle's position, which writes through the
    // same descriptor rely on: it is put back.
    LARGE_INTEGER zero{}, position{};
    if (!::SetFilePointerEx(h, zero, &position, FILE_CURRENT)) {
        set_errno_from(::GetLastError());
        return -1;
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    const bool ok = ::ReadFile(h, data, want, &got, &at) != 0;
    const DWORD code = ::GetLastError();
    ::SetFilePointerEx(h, position, nullptr, FILE_BEGIN);
    if (!ok) {
        if (code == ERROR_HANDLE_EOF) return 0;
        set_errno_from(code);
        return -1;
    }
    return static_cast<int64_t>(got);
}

bool write_all(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const unsigned chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
        const int n = ::_write(fd, p, chunk);
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void close_file(int fd) {
    if (fd >= 0) ::_close(fd);
}

std::FILE* stream_from(int fd, const char* mode) {
    // Binary whatever the caller wrote: "w" alone would turn each \n into \r\n.
    std::string m = mode;
    if (m.find('b') == std::string::npos) m += 'b';
    return ::_fdopen(fd, m.c_str());
}

int stream_descriptor(std::FILE* stream) { return ::_fileno(stream); }

bool seek_stream(std::FILE* stream, uint64_t offset) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        errno = EINVAL;
        return false;
    }
    return ::_fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool seek_stream_to_end(std::FILE* stream) { return ::_fseeki64(stream, 0, SEEK_END) == 0; }

// Windows has no request to start the writing without waiting for it: the sync does it all.
bool start_writeback(std::FILE*) { return true; }

bool flush_to_disk(std::FILE* stream) {
    if (std::fflush(stream) != 0) return false;
    if (!::FlushFileBuffers(handle_of(::_fileno(stream)))) {
        set_errno_from(::GetLastError());
        return false;
    }
    return true;
}

int open_anonymous_temporary() {
    const std::wstring dir = temp_folder();
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string random;
        if (!random_hex(random)) return -1;
        const std::wstring name = dir + wide("plotmint-records-" + random);
        // No sharing, so no one else opens it; the system deletes it with the last handle,
        // also when the process is killed.
        HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            set_errno_from(::GetLastError());
            return -1;
        }
        return descriptor_for(h, _O_RDWR);
    }
    errno = EEXIST;
    return -1;
}

// ---------------------------------------------------------------------------------------
// File identity

std::optional<FileStamp> file_stamp(int fd) {
    HANDLE h = handle_of(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return std::nullopt;
    }
    return stamp_of(h);
}

std::optional<FileStamp> file_stamp(const std::string& path) {
    if (has_nul(path)) return std::nullopt;
    Handle h{open_for_info(wide(path))};
    if (!h) {
        set_errno_from(::GetLastError());
        return std::nullopt;
    }
    return stamp_of(h.h);
}

std::optional<FileId> file_id(const std::string& path) {
    const auto s = file_stamp(path);
    if (!s) return std::nullopt;
    return FileId{s->device, s->inode};
}

bool same_file(const std::string& a, const std::string& b) {
    const auto ia = file_id(a);
    const auto ib = file_id(b);
    return ia && ib && *ia == *ib;
}

bool resolves_inside(const std::string& path, const std::string& dir) {
    if (has_nul(path) || has_nul(dir)) return false;
    Handle hp{open_for_info(wide(path))};
    Handle hd{open_for_info(wide(dir))};
    if (!hp || !hd) return false;
    const std::wstring p = final_path(hp.h);
    std::wstring d = final_path(hd.h);
    if (!d.empty() && d.back() == L'\\') d.pop_back();
    if (p.empty() || d.empty() || p.size() <= d.size() + 1) return false;
    // Names differ in case only when the file system says so; the final paths are spelled
    // as stored, so an exact comparison is the right one.
    return p.compare(0, d.size(), d) == 0 && p[d.size()] == L'\\';
}

// ---------------------------------------------------------------------------------------
// Replacing a file

std::optional<std::string> replace_target(const std::string& path, std::string& error) {
    if (has_nul(path)) {
        error = "the name holds a NUL byte";
        return std::nullopt;
    }
    const std::wstring w = wide(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    // Nothing there yet: creating the temporary gives the precise reason if the file cannot
    // be made.
    if (w.empty() || !::GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &data)) {
        // A device name (NUL, CON) has no attributes but opens.
        Handle h{open_for_info(w)};
        if (h && ::GetFileType(h.h) != FILE_TYPE_DISK) {
            error = kNotARegularFile;
            return std::nullopt;
        }
        return path;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = kNotARegularFile;
        return std::nullopt;
    }
    Handle h{open_for_info(w)};
    if (!h) {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            error = "a symbolic link to nothing";
            return std::nullopt;
        }
        return path;
    }
    if (!is_regular(h.h)) {
        error = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    ? "a symbolic link to something that is not a regular file"
                    : kNotARegularFile;
        return std::nullopt;
    }
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    // The file the link leads to is replaced and the link stays.
    const std::wstring target = final_path(h.h);
    if (target.empty()) {
        error = last_error_text();
        return std::nullopt;
    }
    return narrow(target);
}

std::optional<TempFile> create_temporary(const std::string& target, std::string& error) {
    remove_stale_temporaries(target);
    const std::string prefix = strformat("%s%.*s%ld-", target.c_str(), static_cast<int>(kTempMarker.size()),
                                         kTempMarker.data(), current_process_id());
    TempFile temp;
    DWORD code = ERROR_FILE_EXISTS;
    std::string random;
    for (int attempt = 0; attempt < 8 && temp.fd < 0 && code == ERROR_FILE_EXISTS; ++attempt) {
        if (!random_hex(random)) {
            error = "no random numbers";
            return std::nullopt;
        }
        temp.path = prefix + random;
        temp.cleanup_slot = register_cleanup(temp.path);
        // FILE_SHARE_DELETE so the console handler can remove it while it is open.
        HANDLE h = ::CreateFileW(wide(temp.path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        code = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        if (h != INVALID_HANDLE_VALUE) {
            temp.fd = descriptor_for(h, _O_WRONLY);
            if (temp.fd < 0) {
                ::DeleteFileW(wide(temp.path).c_str());
                code = ERROR_OUTOFMEMORY;
            }
        }
        if (temp.fd < 0) unregister_cleanup(temp.cleanup_slot);
    }
    if (temp.fd < 0) {
        ::SetLastError(code);
        error = last_error_text();
        return std::nullopt;
    }
    return temp;
}

void keep_permissions(int, const std::string&) {
    // Who may read a file lives in its folder's inherited access list here, which the new
    // file beside it gets as well; there are no permission bits to copy.
}

bool commit_temporary(TempFile& temp, const std::string& target, std::string& error) {
    if (temp.fd >= 0) {
        const bool flushed = ::FlushFileBuffers(handle_of(temp.fd)) != 0;
        if (!flushed) error = last_error_text();
        const bool closed = ::_close(temp.fd) == 0;
        if (!closed && flushed) error = std::strerror(errno);
        temp.fd = -1;
        if (!flushed || !closed) {
            discard_temporary(temp);
            return false;
        }
    }
    const std::wstring to = wide(target);
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = kNotARegularFile;
        discard_temporary(temp);
        return false;
    }
    // Write-through: the rename is on disk before the call returns, as the folder sync does
    // elsewhere.
    if (!::MoveFileExW(wide(temp.path).c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = last_error_text();
        discard_temporary(temp);
        return false;
    }
    unregister_cleanup(temp.cleanup_slot);
    temp.path.clear();
    return true;
}

void discard_temporary(TempFile& temp) {
    if (temp.fd >= 0) ::_close(temp.fd);
    temp.fd = -1;
    if (!temp.path.empty()) ::DeleteFileW(wide(temp.path).c_str());
    unregister_cleanup(temp.cleanup_slot);
    temp.path.clear();
}

void remove_stale_temporaries(const std::string& target) {
    const std::string dir = folder_of(target);
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW(wide(dir + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    const long self = current_process_id();
    do {
        const std::string name = narrow(found.cFileName, std::wcslen(found.cFileName));
        const long pid = temporary_owner(name);
        if (pid <= 0 || pid == self || process_alive(pid)) continue;
        // Plain files only; another user's leftovers are theirs to remove, and the access
        // list of the file refuses the deletion to us.
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        ::DeleteFileW(wide(dir + "\\" + name).c_str());
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
}

// ---------------------------------------------------------------------------------------
// Processes and signals

bool process_alive(long pid) {
    if (pid <= 0 || pid > static_cast<long>(std::numeric_limits<DWORD>::max() >> 1)) return false;
    HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!h) return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    // A process that has exited keeps its object while someone holds a handle to it.
    const bool alive = !::GetExitCodeProcess(h, &code) || code == STILL_ACTIVE;
    ::CloseHandle(h);
    return alive;
}

long current_process_id() { return static_cast<long>(::GetCurrentProcessId()); }

void install_cleanup_handlers() {
    static std::once_flag once;
    std::call_once(once, [] { ::SetConsoleCtrlHandler(remove_temporaries, TRUE); });
}

std::optional<std::string> make_private_directory(std::string& error) {
    // The user's own temporary folder: its access list already keeps other users out, and
    // a folder made in it inherits that.
    const std::wstring base = temp_folder();
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string random;
        if (!random_hex(random)) {
            error = "no random numbers";
            return std::nullopt;
        }
        const std::wstring name = base + wide("plotmint-" + random);
        if (::CreateDirectoryW(name.c_str(), nullptr)) return narrow(name);
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error = last_error_text();
    return std::nullopt;
}

int register_removal(const std::string& path) { return register_cleanup(path); }
void unregister_removal(int& slot) { unregister_cleanup(slot); }

namespace {
volatile std::sig_atomic_t* g_stop_flag = nullptr;

BOOL WINAPI note_stop_request(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (g_stop_flag) *g_stop_flag = 1;
    // Once only: the next request goes on to the cleanup handler and ends the process.
    ::SetConsoleCtrlHandler(note_stop_request, FALSE);
    return TRUE;
}
}  // namespace

void request_stop_on_signal(volatile std::sig_atomic_t& flag) {
    g_stop_flag = &flag;
    ::SetConsoleCtrlHandler(note_stop_request, TRUE);
}

void pause_for(std::chrono::milliseconds time) {
    // Sleep cannot be cut short by a console event: a stop waits out at most this pause.
    ::Sleep(static_cast<DWORD>(time.count() < 0 ? 0 : time.count()));
}

std::string program_path() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return narrow(buf.data(), n);
        if (buf.size() > 32768) return {};
        buf.resize(buf.size() * 2);
    }
}

// ---------------------------------------------------------------------------------------
// Loadable modules

void* open_module(const std::string& path, std::string& error) {
    const std::wstring w = wide(path);
    if (w.empty() || has_nul(path)) {
        error = path + ": not a valid file name";
        return nullptr;
    }
    // The folder of the module is searched for the libraries it needs, as it is beside a program.
    HMODULE module = ::LoadLibraryExW(w.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) error = path + ": " + last_error_text();
    return reinterpret_cast<void*>(module);
}

void* module_symbol(void* module, const char* name, std::string& error) {
    const FARPROC address = ::GetProcAddress(static_cast<HMODULE>(module), name);
    if (!address) error = strformat("no symbol %s: %s", name, last_error_text().c_str());
    return reinterpret_cast<void*>(address);
}

// ---------------------------------------------------------------------------------------
// Clipboard

bool metafile_clipboard_available() { return true; }

namespace {

// The whole of a file; nullopt with `error` set. SetEnhMetaFileBits takes the size as a
// UINT, and a metafile's header counts its bytes in 32 bits, so nothing larger can be one.
std::optional<std::string> read_metafile_bytes(const std::string& path, std::string& error) {
    const int fd = open_regular_file(path, error);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> out;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_of(fd), &size)) {
        error = last_error_text();
    } else if (static_cast<uint64_t>(size.QuadPart) > std::numeric_limits<UINT>::max()) {
        error = "larger than an enhanced metafile can be";
    } else {
        std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
        size_t done = 0;
        for (;;) {
            const int64_t n = read_at(fd, bytes.data() + done, bytes.size() - done, done);
            if (n < 0) {
                error = std::strerror(errno);
                break;
            }
            done += static_cast<size_t>(n);
            if (n == 0 || done == bytes.size()) {
                // A file that shrank under us is read as far as it goes; the system's
                // check of the header then tells whether it is still a metafile.
                bytes.resize(done);
                out = std::move(bytes);
                break;
            }
        }
    }
    close_file(fd);
    return out;
}

// Another program (a clipboard viewer, a paste under way) may hold the clipboard for a
// moment; two seconds is far longer than any of them holds it.
bool open_clipboard_for(HWND owner) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::OpenClipboard(owner)) return true;
        ::Sleep(20);
    }
    return false;
}

}  // namespace

bool put_metafile_on_clipboard(const std::string& path, std::string& error) {
    const std::optional<std::string> bytes = read_metafile_bytes(path, error);
    if (!bytes) return false;
    // A memory copy, not the file: the clipboard keeps it after the file is gone.
    HENHMETAFILE picture =
        ::SetEnhMetaFileBits(static_cast<UINT>(bytes->size()), reinterpret_cast<const BYTE*>(bytes->data()));
    if (!picture) {
        error = "not an enhanced metafile";
        return false;
    }
    // EmptyClipboard makes the window given to OpenClipboard the clipboard's owner, and
    // SetClipboardData fails when there is none; a message-only window is never shown.
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"plotmint clipboard", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
    if (!owner) {
        error = "cannot make a window to own the clipboard: " + last_error_text();
        ::DeleteEnhMetaFile(picture);
        return false;
    }
    bool done = false;
    if (!open_clipboard_for(owner)) {
        error = "the clipboard is held by another program: " + last_error_text();
    } else {
        if (!::EmptyClipboard())
            error = "cannot empty the clipboard: " + last_error_text();
        else if (!::SetClipboardData(CF_ENHMETAFILE, picture))
            error = "the clipboard refused the picture: " + last_error_text();
        else
            done = true;  // the clipboard owns the picture from here on
        ::CloseClipboard();
    }
    if (!done) ::DeleteEnhMetaFile(picture);
    ::DestroyWindow(owner);
    return done;
}

// ---------------------------------------------------------------------------------------
// Terminals

bool is_terminal(std::FILE* stream) {
    // _isatty also answers yes for NUL: a console has a console mode.
    DWORD mode = 0;
    return ::GetConsoleMode(handle_of(::_fileno(stream)), &mode) != 0;
}

int terminal_columns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handle_of(::_fileno(stream)), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace plotmint::platform
