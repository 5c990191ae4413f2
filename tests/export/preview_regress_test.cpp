// Replays the pictures that once tripped the window's preview painting under a fuzzer
// (tests/data/regress/preview/) and the metafile seeds (fuzz/corpus/emf/) through the very
// driver the fuzzer runs: read back, then painted by the Qt canvas. With the sanitizers this
// is the fuzzer's own check; in any build each picture must paint promptly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The driver is a header under fuzz/ so that a finding replays through exactly the code
// that found it.
#include "../../fuzz/drivers/preview_driver.h"

namespace plotmint {
namespace {

namespace fs = std::filesystem;

// This program is built without the data path definitions the other test programs get;
// the source tree is found from this file's own (absolute) name.
fs::path source_dir() { return fs::path(__FILE__).parent_path().parent_path().parent_path(); }

std::vector<fs::path> pictures() {
    std::vector<fs::path> out;
    for (const fs::path& dir : {source_dir() / "tests" / "data" / "regress" / "preview",
                               source_dir() / "fuzz" / "corpus" / "emf"}) {
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) continue;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file()) out.push_back(entry.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

class PreviewReplay : public ::testing::TestWithParam<fs::path> {};

TEST_P(PreviewReplay, PaintsPromptly) {
    std::ifstream in(GetParam(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fuzz::preview_one(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
}

INSTANTIATE_TEST_SUITE_P(Pictures, PreviewReplay, ::testing::ValuesIn(pictures()),
                         [](const ::testing::TestParamInfo<fs::path>& picture) {
                             std::string name = picture.param.parent_path().filename().string() + "_" +
                                                picture.param.filename().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(PreviewReplayCorpus, HoldsTheRegressionPictures) {
    const auto all = pictures();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(),
                            [](const fs::path& p) { return p.parent_path().filename() == "preview"; }));
}

}  // namespace
}  // namespace plotmint
