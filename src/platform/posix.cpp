// The platform functions for Linux and other POSIX systems.
#include "base/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>

#include "base/format.h"
#include "platform/cleanup_slots.h"
#include "platform/temporary_names.h"

namespace plotmint::platform {

namespace {

using detail::kRandomHexDigits;
using detail::kTempMarker;
using detail::temporary_owner;

std::string errno_text(int err) { return std::strerror(err); }

bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> r(::realpath(path.c_str(), nullptr), &std::free);
    return r ? std::string(r.get()) : std::string();
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// ---------------------------------------------------------------------------------------
// The names the cleanup handlers remove: see cleanup_slots.h.

using detail::g_cleanup;
using detail::register_cleanup;
using detail::unregister_cleanup;

extern "C" void remove_temporaries_and_reraise(int sig) {
    const int saved = errno;
    for (auto& slot : g_cleanup)
        if (slot.state.load() == 2) ::unlink(slot.path);
    // Then the folders, now that the files in them are gone.
    for (auto& slot : g_cleanup)
        if (slot.state.load() == 2) ::rmdir(slot.path);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    // The signal is blocked while its handler runs; it ends the process as soon as the
    // handler returns.
    ::raise(sig);
    errno = saved;
}

bool random_hex(std::string& out) {
    unsigned char bytes[kRandomHexDigits / 2];
#if defined(__EMSCRIPTEN__)
    // The browser's runtime has no getrandom; getentropy draws from its crypto source.
    static_assert(sizeof bytes <= 256, "getentropy gives at most 256 bytes at once");
    if (::getentropy(bytes, sizeof bytes) != 0) return false;
#else
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
#endif
    out.clear();
    for (const unsigned char b : bytes) out += strformat("%02x", b);
    return true;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

void sync_folder(const std::string& dir) {
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    (void)::fsync(dfd);
    ::close(dfd);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Reading

int open_regular_file(const std::string& path, std::string& error) {
    if (has_nul(path)) {
        error = "the name holds a NUL byte";
        return -1;
    }
    // Looked at before opening too: opening some devices already does something.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = kNotARegularFile;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno_text(errno);
        return -1;
    }
    // What was opened, which may differ from what was looked at a moment ago.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = kNotARegularFile;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = errno_text(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

std::FILE* fopen_regular_file(const std::string& path, std::string& error) {
    const int fd = open_regular_file(path, error);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        error = errno_text(errno);
        ::close(fd);
    }
    return f;
}

int64_t read_at(int fd, void* data, size_t size, uint64_t offset) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EINVAL;
        return -1;
    }
    for (;;) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR) return static_cast<int64_t>(n);
    }
}

bool write_all(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void close_file(int fd) {
    if (fd >= 0) ::close(fd);
}

std::FILE* stream_from(int fd, const char* mode) { return ::fdopen(fd, mode); }

int stream_descriptor(std::FILE* stream) { return ::fileno(stream); }

bool seek_stream(std::FILE* stream, uint64_t offset) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EINVAL;
        return false;
    }
    return ::fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool seek_stream_to_end(std::FILE* stream) { return ::fseeko(stream, 0, SEEK_END) == 0; }

bool flush_to_disk(std::FILE* stream) { return std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0; }

bool start_writeback(std::FILE* stream) {
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
    if (::sync_file_range(::fileno(stream), 0, 0, SYNC_FILE_RANGE_WRITE) == 0) return true;
    return errno == EINVAL || errno == ENOSYS || errno == ESPIPE;  // not this file system's to do
#else
    (void)stream;
    return true;
#endif
}

int open_anonymous_temporary() {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
#ifdef O_TMPFILE
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
#endif
    // A file system without O_TMPFILE: a private name, unlinked at once.
    std::string name = (dir / "plotmint-records-XXXXXX").string();
    const int tmp = ::mkostemp(name.data(), O_CLOEXEC);
    if (tmp >= 0) ::unlink(name.c_str());
    return tmp;
}

// ---------------------------------------------------------------------------------------
// File identity

namespace {

FileStamp stamp_of(const struct stat& st) {
    return FileStamp{static_cast<uint64_t>(st.st_dev),
                     static_cast<uint64_t>(st.st_ino),
                     st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0,
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
                     static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec};
}

}  // namespace

std::optional<FileStamp> file_stamp(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return stamp_of(st);
}

std::optional<FileStamp> file_stamp(const std::string& path) {
    struct stat st {};
    if (has_nul(path) || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return stamp_of(st);
}

std::optional<FileId> file_id(const std::string& path) {
    struct stat st {};
    if (has_nul(path) || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool same_file(const std::string& a, const std::string& b) {
    const auto ia = file_id(a);
    const auto ib = file_id(b);
    return ia && ib && *ia == *ib;
}

bool resolves_inside(const std::string& path, const std::string& dir) {
    if (has_nul(path) || has_nul(dir)) return false;
    const std::string p = resolved(path);
    const std::string d = resolved(dir);
    if (p.empty() || d.empty() || p.size() <= d.size() || p.compare(0, d.size(), d) != 0) return false;
    return d == "/" || p[d.size()] == '/';
}

// ---------------------------------------------------------------------------------------
// Replacing a file

std::optional<std::string> replace_target(const std::string& path, std::string& error) {
    if (has_nul(path)) {
        error = "the name holds a NUL byte";
        return std::nullopt;
    }
    struct stat st {};
    // Nothing there yet (or a folder that cannot be looked into): creating the temporary
    // gives the precise reason if the file cannot be made.
    if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return path;
    if (!S_ISLNK(st.st_mode)) {
        error = kNotARegularFile;
        return std::nullopt;
    }
    if (::stat(path.c_str(), &st) != 0) {
        error = "a symbolic link to nothing";
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "a symbolic link to something that is not a regular file";
        return std::nullopt;
    }
    std::string target = resolved(path);
    if (target.empty()) {
        error = errno_text(errno);
        return std::nullopt;
    }
    return target;
}

std::optional<TempFile> create_temporary(const std::string& target, std::string& error) {
    remove_stale_temporaries(target);
    const std::string prefix = strformat("%s%.*s%ld-", target.c_str(), static_cast<int>(kTempMarker.size()),
                                         kTempMarker.data(), current_process_id());
    TempFile temp;
    int err = EEXIST;
    std::string random;
    // A clash of 64 random bits means someone can read our random numbers; a few attempts
    // are enough for the honest case.
    for (int attempt = 0; attempt < 8 && temp.fd < 0 && err == EEXIST; ++attempt) {
        if (!random_hex(random)) {
            err = errno;
            break;
        }
        temp.path = prefix + random;
        // Registered before it exists: a signal right after the open must find the name.
        temp.cleanup_slot = register_cleanup(temp.path);
        temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        err = temp.fd < 0 ? errno : 0;
        if (temp.fd < 0) unregister_cleanup(temp.cleanup_slot);
    }
    if (temp.fd < 0) {
        error = errno_text(err);
        return std::nullopt;
    }
    return temp;
}

void keep_permissions(int fd, const std::string& target) {
    struct stat old {};
    // Only the rwx bits: a picture or a table that was set-user-ID must not become a new
    // set-user-ID file owned by whoever saved it.
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) (void)::fchmod(fd, old.st_mode & 0777);
}

bool commit_temporary(TempFile& temp, const std::string& target, std::string& error) {
    if (temp.fd >= 0) {
        int err = 0;
        if (::fsync(temp.fd) != 0) err = errno;
        if (::close(temp.fd) != 0 && err == 0) err = errno;
        temp.fd = -1;
        if (err != 0) {
            error = errno_text(err);
            discard_temporary(temp);
            return false;
        }
    }
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = kNotARegularFile;
        discard_temporary(temp);
        return false;
    }
    if (std::rename(temp.path.c_str(), target.c_str()) != 0) {
        error = errno_text(errno);
        discard_temporary(temp);
        return false;
    }
    unregister_cleanup(temp.cleanup_slot);
    temp.path.clear();
    // A failure here no longer risks the old contents.
    sync_folder(folder_of(target));
    return true;
}

void discard_temporary(TempFile& temp) {
    if (temp.fd >= 0) ::close(temp.fd);
    temp.fd = -1;
    if (!temp.path.empty()) ::unlink(temp.path.c_str());
    unregister_cleanup(temp.cleanup_slot);
    temp.path.clear();
}

void remove_stale_temporaries(const std::string& target) {
    const std::string dir = folder_of(target);
    std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
    if (!d) return;
    const long self = current_process_id();
    const uid_t me = ::geteuid();
    while (const dirent* e = ::readdir(d.get())) {
        const long pid = temporary_owner(e->d_name);
        if (pid <= 0 || pid == self || process_alive(pid)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != me) continue;
        (void)::unlinkat(::dirfd(d.get()), e->d_name, 0);
    }
}

// ---------------------------------------------------------------------------------------
// Processes and signals

bool process_alive(long pid) {
    if (pid <= 0 || pid > static_cast<long>(INT_MAX)) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

long current_process_id() { return static_cast<long>(::getpid()); }

void install_cleanup_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction sa {};
            sa.sa_handler = remove_temporaries_and_reraise;
            sigemptyset(&sa.sa_mask);
            // One cleanup at a time: the other two wait until the first has ended the process.
            sigaddset(&sa.sa_mask, SIGINT);
            sigaddset(&sa.sa_mask, SIGTERM);
            sigaddset(&sa.sa_mask, SIGHUP);
            ::sigaction(sig, &sa, nullptr);
        }
    });
}

std::optional<std::string> make_private_directory(std::string& error) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string name = (base / "plotmint-XXXXXX").string();
    // mkdtemp picks an unused name and makes the folder 0700 in one step.
    if (::mkdtemp(name.data()) == nullptr) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    return name;
}

namespace {
volatile std::sig_atomic_t* g_stop_flag = nullptr;
extern "C" void note_stop_request(int) {
    if (g_stop_flag) *g_stop_flag = 1;
}
}  // namespace

void request_stop_on_signal(volatile std::sig_atomic_t& flag) {
    g_stop_flag = &flag;
    struct sigaction action {};
    action.sa_handler = note_stop_request;
    sigemptyset(&action.sa_mask);
    // Reset once caught, so a second request ends the program at once.
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void pause_for(std::chrono::milliseconds time) {
    timespec t{static_cast<time_t>(time.count() / 1000), static_cast<long>(time.count() % 1000) * 1000000L};
    // Not resumed after a signal: a stop request should not wait out the pause.
    ::nanosleep(&t, nullptr);
}

std::string program_path() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

void* open_module(const std::string& path, std::string& error) {
    if (has_nul(path)) {
        error = path + ": not a valid file name";
        return nullptr;
    }
    // Local: the module's own symbols do not become candidates for later lookups.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = ::dlerror();
        error = reason ? reason : path + ": cannot be loaded";
    }
    return module;
}

void* module_symbol(void* module, const char* name, std::string& error) {
    ::dlerror();
    void* address = ::dlsym(module, name);
    if (!address) {
        const char* reason = ::dlerror();
        error = reason ? reason : strformat("no symbol %s", name);
    }
    return address;
}

bool metafile_clipboard_available() { return false; }

bool put_metafile_on_clipboard(const std::string& /*path*/, std::string& error) {
    error = "this system has no clipboard that keeps a picture after the program ends";
    return false;
}

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

int terminal_columns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

int register_removal(const std::string& path) { return register_cleanup(path); }
void unregister_removal(int& slot) { unregister_cleanup(slot); }

}  // namespace plotmint::platform
