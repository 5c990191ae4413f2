// The clipboard copy of the platform seam: only a metafile the system accepts goes on the
// clipboard, every refusal says why, and where there is no clipboard to leave a picture on
// nothing claims success. On Windows the accepted case replaces the clipboard's contents.
#include "../test_folder.h"
#include "base/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace plotmint::platform {
namespace {

void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The smallest metafile: an 88-byte header (bounds, a 10 x 10 mm frame, the " EMF"
// signature, the version, the total size and two records) and the end-of-file record.
std::string tiny_metafile() {
    std::string h;
    put32(h, 1);   // EMR_HEADER
    put32(h, 88);  // its size
    for (uint32_t v : {0u, 0u, 99u, 99u}) put32(h, v);      // bounds, device units
    for (uint32_t v : {0u, 0u, 1000u, 1000u}) put32(h, v);  // frame, 0.01 mm
    put32(h, 0x464D4520);  // " EMF"
    put32(h, 0x10000);     // version
    put32(h, 88 + 20);     // bytes in the metafile
    put32(h, 2);           // records
    put32(h, 1);           // handles: the reserved one (16 bits) and 16 reserved bits
    put32(h, 0);           // description: none
    put32(h, 0);
    put32(h, 0);  // palette entries
    for (uint32_t v : {1920u, 1080u, 527u, 296u}) put32(h, v);  // reference device, px and mm
    put32(h, 14);  // EMR_EOF
    put32(h, 20);
    put32(h, 0);   // no palette
    put32(h, 16);  // offset of the palette
    put32(h, 20);  // the record's size again
    return h;
}

struct ClipboardCase {
    const char* name;
    std::string bytes;     // the file's contents
    bool folder = false;   // a folder stands at the path instead
    bool missing = false;  // nothing stands at the path
    bool accepted = false; // a metafile the system takes
};

void PrintTo(const ClipboardCase& c, std::ostream* os) { *os << c.name; }

class Clipboard : public ::testing::TestWithParam<ClipboardCase> {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint-clipboard-");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(Clipboard, TakesOnlyAMetafileAndSaysWhyNot) {
    const ClipboardCase& c = GetParam();
    const fs::path path = dir_ / "picture.emf";
    if (c.folder)
        fs::create_directory(path);
    else if (!c.missing)
        std::ofstream(path, std::ios::binary) << c.bytes;
    std::string error;
    const bool put = put_metafile_on_clipboard(path.string(), error);
    EXPECT_EQ(put, c.accepted && metafile_clipboard_available()) << error;
    EXPECT_EQ(error.empty(), put) << error;
    // The file is only read.
    if (!c.folder && !c.missing) {
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.bytes);
    }
}

std::string truncated_metafile() {
    std::string m = tiny_metafile();
    m.resize(60);
    return m;
}

std::string unsigned_metafile() {
    std::string m = tiny_metafile();
    m[40] = 'X';  // the signature
    return m;
}

INSTANTIATE_TEST_SUITE_P(
    Files, Clipboard,
    ::testing::Values(ClipboardCase{"metafile", tiny_metafile(), false, false, true},
                      ClipboardCase{"text", "3 0 0\n2 100 200\n"}, ClipboardCase{"empty", ""},
                      ClipboardCase{"truncated", truncated_metafile()},
                      ClipboardCase{"no_signature", unsigned_metafile()}, ClipboardCase{"folder", "", true},
                      ClipboardCase{"missing", "", false, true}),
    [](const ::testing::TestParamInfo<ClipboardCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace plotmint::platform
