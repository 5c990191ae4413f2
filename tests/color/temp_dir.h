#pragma once
// A fresh folder under the system's temporary directory for each test, removed afterwards,
// so table files never land in the source tree.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace plotmint::testing {

class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> serial{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() /
                ("plotmint-color-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) +
                 "-" + std::to_string(stamp));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        // A test may have made the folder read-only.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string str() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // Writes the bytes exactly as given (binary), returns the full name.
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string full = file(name);
        std::ofstream out(full, std::ios::binary);
        out << bytes;
        return full;
    }

private:
    std::filesystem::path path_;
};

inline std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace plotmint::testing
