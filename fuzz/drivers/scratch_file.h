#pragma once
// A file the table readers can open by name whose contents a driver replaces on every run.
// An anonymous memory file reached through /proc keeps the disk out of the loop; where
// that is not available a temporary file stands in. The readers open it by name exactly
// as they open any table file.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace plotmint::fuzz {

class ScratchFile {
public:
    ScratchFile() {
#ifdef MFD_CLOEXEC
        fd_ = ::memfd_create("plotmint-fuzz", MFD_CLOEXEC);
        if (fd_ >= 0) {
            path_ = "/proc/self/fd/" + std::to_string(fd_);
            if (::access(path_.c_str(), R_OK) == 0) return;
            ::close(fd_);
            fd_ = -1;
        }
#endif
        char name[] = "/tmp/plotmint-fuzz-XXXXXX";
        fd_ = ::mkstemp(name);
        if (fd_ < 0) {
            std::perror("plotmint fuzz: no scratch file");
            std::abort();
        }
        path_ = name;
        unlink_ = true;
    }
    ~ScratchFile() {
        if (fd_ >= 0) ::close(fd_);
        if (unlink_) ::unlink(path_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the contents; the name stays the same.
    void assign(std::string_view bytes) {
        if (::ftruncate(fd_, 0) != 0) std::abort();
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<size_t>(n);
        }
    }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
    bool unlink_ = false;
};

}  // namespace plotmint::fuzz
