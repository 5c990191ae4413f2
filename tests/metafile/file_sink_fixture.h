#pragma once
// A folder of its own for each FileSink test, shared by the tests that run everywhere and
// those that need POSIX file types and modes.
#include "../test_folder.h"
#include "metafile/emf_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace plotmint::test {

inline constexpr Rect kFileSinkFrame{0, 0, 14821, 20951};

class FileSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint-filesink-");
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
        std::filesystem::remove_all(dir_);
    }
    static std::string slurp(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void spit(const std::filesystem::path& p, const std::string& s) {
        std::ofstream out(p, std::ios::binary);
        out << s;
    }
    size_t entries() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_), {}));
    }
    std::filesystem::path dir_;
};

inline void draw_something(EmfWriter& w) {
    w.select_object(w.create_pen(PenStyle::solid, 4, 0xFF));
    w.move_to(0, 0);
    w.line_to(100, 100);
}

}  // namespace plotmint::test
