// A conversion with a second line of work (a thread, or the inline worker that builds without
// threads test the same code with) gives what one without gives: the same picture bytes, the
// same log lines, the same outcome, over the examples, the test graphs and generated files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/core/conversion.h"
#include "base/log_sink.h"
#include "color/tables.h"
#include "shell_helpers.h"
#include "worker/worker.h"

namespace plotmint {
namespace {

namespace fs = std::filesystem;

enum class Line { none, inline_job, thread };

struct Outcome {
    std::vector<std::string> log;
    std::string file;  // the picture on disk afterwards ("(none)" when there is none)
    bool renewed = false, rendered = false, abandoned = false, finished = false;
    std::string picture;  // bytes the result holds
    uint32_t records = 0;
    std::string read_error;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << o.log.size() << " log lines, " << o.file.size() << " bytes on disk, finished " << o.finished;
}

Outcome convert(const fs::path& graph, const fs::path& out, Line line, bool keep_bytes) {
    Outcome o;
    VectorLog log;
    Settings settings;
    const std::string tables = PLOTMINT_BIN_DIR;
    const DiscoveryCallbacks show = tables_into(settings, tables, log);
    show.show_tone(default_tone_path(tables));
    show.show_line(default_line_path(tables));
    Conversion conversion(graph.string());
    conversion.set_diagnostics(log);
    if (line == Line::none) {
        conversion.use_worker(nullptr);
    } else {
        std::unique_ptr<Worker> worker = line == Line::thread ? make_worker() : make_inline_worker();
        if (!worker) return o;
        conversion.use_worker(std::move(worker));
        // Every file is split, however small, and so every example takes the split path.
        conversion.reader().set_cache_threshold(0);
        conversion.reader().set_split_threshold(0);
    }
    conversion.find_color_tables(tables, true, show, log);
    fs::remove(out);
    const DrawRunResult r = conversion.run(settings, PictureTarget::file(out.string(), keep_bytes), log);
    o.log = log.lines;
    o.file = fs::exists(out) ? plotmint_test::slurp(out) : "(none)";
    o.renewed = r.picture_renewed;
    o.rendered = r.rendered;
    o.abandoned = r.abandoned;
    o.finished = r.finished;
    if (r.picture) {
        o.picture = r.picture->bytes;
        o.records = r.picture->record_count;
    }
    o.read_error = r.read_error;
    return o;
}

bool operator==(const Outcome& a, const Outcome& b) {
    return std::tie(a.log, a.file, a.renewed, a.rendered, a.abandoned, a.finished, a.picture, a.records,
                    a.read_error) == std::tie(b.log, b.file, b.renewed, b.rendered, b.abandoned, b.finished,
                                              b.picture, b.records, b.read_error);
}

// A few MiB of real drawing: the examples one after another, as the large-file tests make it.
std::string examples_repeated(size_t bytes) {
    std::string block;
    for (const char* name : {"graph.g", "text.g", "lines.g", "greek.g"})
        block += plotmint_test::slurp(fs::path(PLOTMINT_SOURCE_DIR) / "examples" / name);
    std::string out;
    while (out.size() < bytes) out += block;
    return out;
}

// A graph file of the tree, or one generated when the test runs.
struct Input {
    std::string name;
    fs::path path;
    std::function<std::string()> make;
};

void PrintTo(const Input& i, std::ostream* os) { *os << i.name; }

std::vector<Input> inputs() {
    std::vector<Input> out;
    for (const fs::path& folder : {fs::path(PLOTMINT_SOURCE_DIR) / "examples", fs::path(PLOTMINT_TEST_DATA) / "graphs"})
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".g") out.push_back({entry.path().stem().string(), entry.path(), {}});
    std::sort(out.begin(), out.end(), [](const Input& a, const Input& b) { return a.name < b.name; });
    for (Input& i : out)
        for (char& c : i.name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    // The halves meet on a whole record; they do not (records across lines); an item that is
    // not a number in the second half; a picture past 16 MiB, which the worker syncs while
    // the passes draw.
    out.push_back({"generated_drawing", {}, [] { return examples_repeated(3u << 20); }});
    out.push_back({"generated_across_lines", {}, [] {
                       std::string t = examples_repeated(3u << 20);
                       for (size_t i = 0; i < t.size(); i += 3)
                           if (t[i] == '\n') t[i] = ' ';
                       return t;
                   }});
    out.push_back({"generated_junk_in_second_half", {}, [] {
                       const std::string d = examples_repeated(3u << 20);
                       return d + "3 100 100\n2 x 200\n" + d.substr(0, 1 << 20);
                   }});
    out.push_back({"generated_large", {}, [] { return examples_repeated(14u << 20); }});
    return out;
}

class ConversionWorker : public ::testing::TestWithParam<std::tuple<Input, bool>> {};

TEST_P(ConversionWorker, SameBytesLogAndOutcomeWithAndWithoutASecondLine) {
    const auto& [input, keep_bytes] = GetParam();
    const fs::path dir = fs::temp_directory_path() / ("plotmint_conversion_worker_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path graph = input.path;
    if (input.make) {
        graph = dir / (input.name + ".g");
        std::ofstream(graph, std::ios::binary) << input.make();
    }
    const fs::path out = dir / (input.name + ".emf");
    const Outcome alone = convert(graph, out, Line::none, keep_bytes);
    ASSERT_FALSE(alone.log.empty());
    if (input.name.rfind("generated", 0) == 0) {
        ASSERT_TRUE(alone.finished) << alone.log.back();
    }
    EXPECT_EQ(convert(graph, out, Line::inline_job, keep_bytes), alone) << "inline worker";
    if (make_worker()) {
        // Several times: an order that only a race would change shows as a difference.
        for (int i = 0; i < 3; ++i) EXPECT_EQ(convert(graph, out, Line::thread, keep_bytes), alone) << "thread";
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ConversionWorker, ::testing::Combine(::testing::ValuesIn(inputs()), ::testing::Bool()),
                         [](const auto& param_info) {
                             return std::get<0>(param_info.param).name +
                                    (std::get<1>(param_info.param) ? "_bytes_kept" : "_checked_streaming");
                         });

// The converter, the window and the benchmarks take the second line where the build has one.
TEST(ConversionWorker, ADrawRunUsesTheBuildsWorker) {
    const Conversion conversion("graph.g");
    EXPECT_EQ(conversion.worker() != nullptr, make_worker() != nullptr);
}

}  // namespace
}  // namespace plotmint
