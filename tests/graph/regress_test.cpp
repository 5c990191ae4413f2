// Replays every input that once crashed, hung or misbehaved under a fuzzer
// (tests/data/regress/<target>/), and the fuzzers' seed corpora (fuzz/corpus/<target>/),
// through the very drivers the fuzzers run. Under the sanitizer build this is the same
// check the fuzzer made; in any build the drivers' own invariants (our metafile reads back
// and plays, a saved table reads back unchanged, discovered tables stay in their folder)
// must hold, and each input must finish promptly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// The drivers are headers under fuzz/ so that a finding replays through exactly the code
// that found it.
#include "../../fuzz/drivers/convert_driver.h"
#include "../../fuzz/drivers/emf_driver.h"
#include "../../fuzz/drivers/tables_driver.h"

namespace plotmint {
namespace {

namespace fs = std::filesystem;

struct Input {
    std::string target;  // convert, tables, emf
    std::string kind;    // regress or seed
    fs::path path;
};

void PrintTo(const Input& in, std::ostream* os) { *os << in.kind << "/" << in.target << "/" << in.path.filename().string(); }

std::vector<Input> inputs_of(const std::string& kind, const fs::path& root) {
    std::vector<Input> out;
    for (const char* target : {"convert", "tables", "emf"}) {
        const fs::path dir = root / target;
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
            if (entry.path().extension() == ".md") continue;
            out.push_back({target, kind, entry.path()});
        }
    }
    std::sort(out.begin(), out.end(), [](const Input& a, const Input& b) { return a.path < b.path; });
    return out;
}

std::vector<Input> regress_inputs() { return inputs_of("regress", fs::path(PLOTMINT_TEST_DATA) / "regress"); }
std::vector<Input> seed_inputs() { return inputs_of("seed", fs::path(PLOTMINT_SOURCE_DIR) / "fuzz" / "corpus"); }

std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string replay(const Input& in) {
    const std::string bytes = slurp(in.path);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (in.target == "convert") return fuzz::convert_one(data, bytes.size());
    if (in.target == "tables") return fuzz::tables_one(data, bytes.size());
    return fuzz::emf_one(data, bytes.size(), true);
}

class Replay : public ::testing::TestWithParam<Input> {};

TEST_P(Replay, FinishesPromptlyAndKeepsItsInvariants) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(replay(GetParam()), "");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The fuzzers treat a second as a hang; the sanitizer build is several times slower.
    EXPECT_LT(seconds, 10.0);
}

std::string input_name(const ::testing::TestParamInfo<Input>& info) {
    std::string name = info.param.target + "_" + info.param.path.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Regress, Replay, ::testing::ValuesIn(regress_inputs()), input_name);
INSTANTIATE_TEST_SUITE_P(Seed, Replay, ::testing::ValuesIn(seed_inputs()), input_name);

// A lost or misplaced corpus must not pass as "nothing to replay".
TEST(RegressCorpus, EveryTargetHasSeedsAndTheRegressFolderExists) {
    EXPECT_TRUE(fs::is_regular_file(fs::path(PLOTMINT_TEST_DATA) / "regress" / "README.md"));
    const auto seeds = seed_inputs();
    for (const char* target : {"convert", "tables", "emf"})
        EXPECT_TRUE(std::any_of(seeds.begin(), seeds.end(), [&](const Input& in) { return in.target == target; }))
            << target;
}

}  // namespace
}  // namespace plotmint
