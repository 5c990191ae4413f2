#include "records/record_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "worker/worker.h"

namespace plotmint {
namespace {

std::vector<Record> read_all(RecordReader& r) {
    std::vector<Record> out;
    Record rec;
    while (r.read_record(rec)) out.push_back(rec);
    return out;
}

struct ReaderCase {
    const char* name;
    std::string text;
    std::vector<Record> records;
    bool bad_item;
};

class RecordReaderCases : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(RecordReaderCases, ReadsMemoryAndFileAlike) {
    const ReaderCase& c = GetParam();
    RecordReader mem;
    mem.open_memory(c.text);
    EXPECT_EQ(read_all(mem), c.records);
    EXPECT_EQ(mem.bad_item(), c.bad_item);

    const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_" + std::string(c.name) + ".g");
    std::ofstream(path, std::ios::binary) << c.text;
    RecordReader file;
    ASSERT_TRUE(file.open(path.string()));
    EXPECT_EQ(read_all(file), c.records);
    EXPECT_EQ(file.bad_item(), c.bad_item);
    // A pass after a rewind sees the same records.
    file.rewind();
    EXPECT_EQ(read_all(file), c.records);
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RecordReaderCases,
    ::testing::Values(
        ReaderCase{"one_per_line", "3 0 0\n2 100 -5\n", {{3, 0, 0}, {2, 100, -5}}, false},
        ReaderCase{"split_and_joined", "3\n0\n0 2 100\n-5", {{3, 0, 0}, {2, 100, -5}}, false},
        ReaderCase{"crlf_tabs", "3\t1\t2\r\n-999 0 0\r\n", {{3, 1, 2}, {-999, 0, 0}}, false},
        ReaderCase{"limits", "2147483647 -2147483648 +7", {{2147483647, INT32_MIN, 7}}, false},
        ReaderCase{"partial_tail", "3 1 2 2 5", {{3, 1, 2}}, false},
        ReaderCase{"empty", "", {}, false},
        ReaderCase{"blanks_only", "   \n\n\t  ", {}, false},
        ReaderCase{"word_ends_pass", "3 1 2 2 x 4 5 6 7", {{3, 1, 2}}, true},
        ReaderCase{"beyond_32_bits", "3 1 2 2 2147483648 0 3 3 3", {{3, 1, 2}}, true},
        ReaderCase{"huge_token", "3 1 2 " + std::string(5000, '9') + " 1 1", {{3, 1, 2}}, true},
        ReaderCase{"glued_sign", "3 1 2 2 5-3 1", {{3, 1, 2}}, true},
        ReaderCase{"long_zero_run", "2 " + std::string(100, '0') + "7 1", {}, true}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(RecordReader, TokenAcrossBufferBoundaryIsWhole) {
    // "12345" starts three bytes before the end of the 1 MiB read buffer.
    std::string text = "3 4 5";
    text += std::string((1 << 20) - 3 - text.size() - 2, ' ');
    text += "2 12345 6\n";
    const auto path = std::filesystem::temp_directory_path() / "plotmint_reader_boundary.g";
    std::ofstream(path, std::ios::binary) << text;
    RecordReader r;
    ASSERT_TRUE(r.open(path.string()));
    auto recs = read_all(r);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[1], (Record{2, 12345, 6}));
    EXPECT_FALSE(r.bad_item());
    std::filesystem::remove(path);
}

TEST(RecordReader, MissingFileDoesNotOpen) {
    RecordReader r;
    EXPECT_FALSE(r.open("/nonexistent/dir/graph.g"));
    Record rec;
    EXPECT_FALSE(r.read_record(rec));
}


// ---- The binary record file and the fast paths must not change what a pass yields -----

// What a pass yields, by the rules of the format: tokens are runs of bytes other than white
// space; each must be an optionally signed decimal of at most 64 characters within 32 bits,
// else the pass ends there; a trailing partial record is dropped silently.
struct Pass {
    std::vector<Record> records;
    bool bad = false;
    uint64_t bad_offset = 0;
    friend bool operator==(const Pass&, const Pass&) = default;
};

void PrintTo(const Pass& p, std::ostream* os) {
    *os << p.records.size() << " records, bad " << p.bad << " at " << p.bad_offset;
}

Pass reference_pass(const std::string& text) {
    Pass out;
    std::vector<int32_t> values;
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    size_t i = 0;
    while (true) {
        while (i < text.size() && space(text[i])) ++i;
        if (i == text.size()) break;
        const size_t start = i;
        while (i < text.size() && !space(text[i])) ++i;
        const std::string token = text.substr(start, i - start);
        size_t d = (token[0] == '-' || token[0] == '+') ? 1 : 0;
        bool ok = token.size() <= 64 && d < token.size();
        long double value = 0;
        for (size_t k = d; ok && k < token.size(); ++k) {
            ok = token[k] >= '0' && token[k] <= '9';
            value = value * 10 + (token[k] - '0');
        }
        if (token[0] == '-') value = -value;
        ok = ok && value >= INT32_MIN && value <= INT32_MAX;
        if (!ok) {
            out.bad = true;
            out.bad_offset = start;
            break;
        }
        values.push_back(static_cast<int32_t>(value));
        if (values.size() == 3) {
            out.records.push_back({values[0], values[1], values[2]});
            values.clear();
        }
    }
    return out;
}

Pass read_pass(RecordReader& r) {
    Pass out;
    r.rewind();
    out.records = read_all(r);
    out.bad = r.bad_item();
    out.bad_offset = r.bad_item_offset();
    return out;
}

// Graph-like text with every kind of item the fast paths must hand over to the byte loop:
// long and signed numbers, limits, leading zeros, odd white space, and now and then an item
// that is not an integer.
std::string generated_text(uint32_t seed, size_t bytes, bool with_bad_items) {
    uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
    const auto next = [&s](uint32_t n) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s % n);
    };
    static const char* const unusual[] = {
        "12345678", "1234567", "-1234567", "-12345678", "2147483647", "-2147483648", "+5", "-0", "0000000",
        "0000000000000000000000000000000000000000000000000000000000000012",  // 64 characters
        "999999999", "-999"};
    static const char* const bad[] = {"2147483648", "-2147483649", "12x", "x", "-", "+", "5-3", "1.5",
                                      "00000000000000000000000000000000000000000000000000000000000000012"};  // 65
    static const char* const gaps[] = {" ", " ", " ", "\n", "\t", "\r\n", "  ", "\v", "\f", " \n "};
    std::string out;
    bool planted = false;
    while (out.size() < bytes) {
        // Each kind of bad item once, amid the text, where the fast paths meet it.
        if (with_bad_items && !planted && out.size() >= bytes / 2) {
            out += std::string(bad[seed % std::size(bad)]) + " ";
            planted = true;
        }
        const uint32_t kind = next(1000);
        if (with_bad_items && kind == 0 && next(20) == 0) {
            out += bad[next(std::size(bad))];
        } else if (kind < 60) {
            out += unusual[next(std::size(unusual))];
        } else if (kind < 62) {
            out += std::string(next(3000), ' ');  // white space across a buffer's end
            out += std::to_string(next(10000));
        } else {
            out += std::to_string(static_cast<int32_t>(next(20000)) - (kind < 150 ? 10000 : 0));
        }
        out += gaps[next(std::size(gaps))];
    }
    return out;
}

class ReaderAgreement : public ::testing::TestWithParam<uint32_t> {};

// Memory, file, and the file's later passes from the record file, against the rules.
TEST_P(ReaderAgreement, EveryPathYieldsWhatTheRulesSay) {
    const uint32_t seed = GetParam();
    const bool bad_items = seed % 2 == 1;
    // Small texts, and one of about 2.5 MiB so the 1 MiB buffer is refilled mid-record.
    const size_t size = seed < 2 ? (5u << 19) : 3000 + seed * 977;
    const std::string text = generated_text(seed, size, bad_items);
    const Pass expected = reference_pass(text);
    ASSERT_GT(expected.records.size(), 100u);
    EXPECT_EQ(expected.bad, bad_items);

    RecordReader mem;
    mem.open_memory(text);
    EXPECT_EQ(read_pass(mem), expected);

    const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_agree_" + std::to_string(seed) + "_" + std::to_string(::getpid()) + ".g");
    std::ofstream(path, std::ios::binary) << text;
    RecordReader file;
    file.set_cache_threshold(0);
    ASSERT_TRUE(file.open(path.string()));
    EXPECT_EQ(read_pass(file), expected);
    EXPECT_FALSE(file.reading_cached_records());
    EXPECT_EQ(read_pass(file), expected);
    EXPECT_TRUE(file.reading_cached_records());
    EXPECT_EQ(read_pass(file), expected);
    file.release();
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ReaderAgreement, ::testing::Range(0u, 24u));

// ---- parsing in two ------------------------------------------------------------------

enum class WorkerKind { inline_job, thread };

std::unique_ptr<Worker> worker_of(WorkerKind kind) {
    return kind == WorkerKind::thread ? make_worker() : make_inline_worker();
}

// A fold that keeps what it is given.
struct Collect final : RecordFold {
    std::vector<Record> records;
    int starts = 0;
    void start() override {
        ++starts;
        records.clear();
    }
    void add(const Record* recs, size_t n) override { records.insert(records.end(), recs, recs + n); }
};

// One record a line, as drawings are written, so that the halves meet on a whole record;
// `tail` is appended as it is (a partial record, an item that is not a number).
std::string lines_text(uint32_t seed, size_t bytes, const std::string& tail = {}) {
    std::string out;
    uint32_t s = seed * 2654435761u + 7;
    while (out.size() < bytes) {
        s = s * 1103515245u + 12345u;
        const int32_t code = static_cast<int32_t>((s >> 8) % 40) - 1;
        // Now and then a record that needs the record file's long form.
        const int32_t a = (s >> 4) % 97 == 0 ? 70000 + static_cast<int32_t>(s % 1000) : static_cast<int32_t>(s % 5240);
        const int32_t b = static_cast<int32_t>((s >> 12) % 7860) - ((s >> 3) % 5 == 0 ? 9000 : 0);
        out += std::to_string(code) + ' ' + std::to_string(a) + ' ' + std::to_string(b) + ((s >> 20) % 9 ? "\n" : " \r\n");
    }
    return out + tail;
}

// Whether the halves meet on a whole record, so that both are kept.
enum class Meets { yes, no, by_chance };

struct SplitCase {
    const char* name;
    std::string text;
    Meets meets;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

std::vector<SplitCase> split_cases() {
    std::vector<SplitCase> cases = {
        {"lines", lines_text(1, 300000), Meets::yes},
        // Several segments of the record file in each half.
        {"lines_4mib", lines_text(2, 4u << 20), Meets::yes},
        {"byte_order_mark", "\xEF\xBB\xBF" + lines_text(3, 200000), Meets::yes},
        {"partial_record_at_the_end", lines_text(4, 200000, "6 7"), Meets::yes},
        {"not_a_number_in_the_second_half", lines_text(5, 200000, "1 2 3\n4 x 6\n7 8 9\n"), Meets::yes},
        {"not_a_number_in_the_first_half", "3 1 1\n2 q 2\n" + lines_text(6, 200000), Meets::no},
        // Records that run across lines: the halves do not line up and the second is parsed
        // again from where the first stopped.
        {"records_across_lines", [] {
             std::string t;
             for (int i = 0; t.size() < 200000; ++i) t += std::to_string(i % 50) + (i % 4 == 3 ? "\n" : " ");
             return t;
         }(), Meets::no},
        // No line break near the middle: the halves meet at a blank, on a whole record once
        // in three.
        {"one_long_line", [] {
             std::string t;
             for (int i = 0; t.size() < 300000; ++i) t += std::to_string(i % 3) + " " + std::to_string(i % 5000) + " 7 ";
             return t;
         }(), Meets::by_chance},
    };
    // Graph-like text with every unusual item, and items that are not numbers near the middle.
    for (uint32_t seed = 0; seed < 6; ++seed) {
        static const char* const names[] = {"generated_0", "generated_1", "generated_2", "generated_3", "generated_4",
                                            "generated_5"};
        cases.push_back({names[seed], generated_text(seed + 40, 150000 + seed * 20011, seed % 2 == 1), Meets::by_chance});
    }
    return cases;
}

class ReaderSplit : public ::testing::TestWithParam<std::tuple<SplitCase, WorkerKind>> {};

// Parsed in two halves, on a thread or inline, every pass gives what one parse gives: the
// same records, in the same order, ending at the same item.
TEST_P(ReaderSplit, GivesWhatOneParseGives) {
    const auto& [c, kind] = GetParam();
    const std::unique_ptr<Worker> worker = worker_of(kind);
    if (!worker) GTEST_SKIP() << "this build has no threads";
    const auto path = std::filesystem::temp_directory_path() /
                      ("plotmint_reader_split_" + std::string(c.name) + "_" + std::to_string(::getpid()) + ".g");
    std::ofstream(path, std::ios::binary) << c.text;
    // What one parse gives (the rules, but for a byte-order mark, which the rules do not skip).
    RecordReader one;
    one.set_cache_threshold(0);
    ASSERT_TRUE(one.open(path.string()));
    const Pass expected = read_pass(one);
    one.release();
    if (c.text.rfind("\xEF\xBB\xBF", 0) != 0) {
        EXPECT_EQ(expected, reference_pass(c.text));
    }
    ASSERT_FALSE(expected.records.empty());
    RecordReader r;
    r.set_cache_threshold(0);
    r.set_split_threshold(0);
    r.set_worker(worker.get());
    Collect head, tail;
    r.set_split_folds(&head, &tail);
    ASSERT_TRUE(r.open(path.string()));
    EXPECT_EQ(read_pass(r), expected);
    if (c.meets == Meets::yes) {
        EXPECT_TRUE(r.parsed_in_two());
    } else if (c.meets == Meets::no) {
        EXPECT_FALSE(r.parsed_in_two());
    }
    // The folds saw the records, half by half, exactly when the halves were kept.
    EXPECT_EQ(r.split_folded(), r.parsed_in_two());
    if (r.split_folded()) {
        EXPECT_EQ(head.starts, 1);
        EXPECT_EQ(tail.starts, 1);
        EXPECT_FALSE(head.records.empty());
        std::vector<Record> both = head.records;
        both.insert(both.end(), tail.records.begin(), tail.records.end());
        EXPECT_EQ(both, expected.records);
        // Skipping the records ends the pass as reading them does.
        r.rewind();
        Record first;
        ASSERT_TRUE(r.read_record(first));
        ASSERT_TRUE(r.skip_to_end());
        EXPECT_EQ(r.bad_item(), expected.bad);
        EXPECT_EQ(r.bad_item_offset(), expected.bad_offset);
        Record none;
        EXPECT_FALSE(r.read_record(none));
    }
    EXPECT_EQ(read_pass(r), expected);
    EXPECT_TRUE(r.reading_cached_records());
    EXPECT_EQ(read_pass(r), expected);
    // The record file, however it was made, is never larger than the graph file.
    EXPECT_LE(r.record_file_bytes(), c.text.size());
    r.release();
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderSplit,
                         ::testing::Combine(::testing::ValuesIn(split_cases()),
                                            ::testing::Values(WorkerKind::inline_job, WorkerKind::thread)),
                         [](const auto& param_info) {
                             return std::string(std::get<0>(param_info.param).name) +
                                    (std::get<1>(param_info.param) == WorkerKind::thread ? "_thread" : "_inline");
                         });

// Below the threshold, and for a first pass that a closed reader's kept records spare, the
// file is parsed in one line.
TEST(ReaderSplit, OnlyAFirstPassOverALargeFileIsSplit) {
    const std::string text = lines_text(9, 100000);
    const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_split_small_" + std::to_string(::getpid()) + ".g");
    std::ofstream(path, std::ios::binary) << text;
    const std::unique_ptr<Worker> worker = make_inline_worker();
    RecordReader r;
    r.set_cache_threshold(0);
    r.set_worker(worker.get());
    r.set_split_threshold(text.size() + 1);
    ASSERT_TRUE(r.open(path.string()));
    EXPECT_EQ(read_pass(r), reference_pass(text));
    EXPECT_FALSE(r.parsed_in_two());
    r.release();
    r.set_split_threshold(text.size());
    ASSERT_TRUE(r.open(path.string()));
    EXPECT_EQ(read_pass(r), reference_pass(text));
    EXPECT_TRUE(r.parsed_in_two());
    r.close();
    // Opened again, the records kept are read; nothing is parsed.
    ASSERT_TRUE(r.open(path.string()));
    EXPECT_EQ(read_pass(r), reference_pass(text));
    EXPECT_TRUE(r.reading_cached_records());
    r.release();
    std::filesystem::remove(path);
}

// A first pass that stops early (the text-box scan stops at -999) leaves a prefix in the
// record file; the next pass reads the prefix and parses the rest, and then all is cached.
TEST(RecordReader, PassStoppedEarlyIsCompletedByTheNextPass) {
    const std::string text = generated_text(7, 200000, true);
    const Pass expected = reference_pass(text);
    ASSERT_GT(expected.records.size(), 1000u);
    const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_prefix_" + std::to_string(::getpid()) + ".g");
    std::ofstream(path, std::ios::binary) << text;
    for (const size_t stop : {size_t{0}, size_t{1}, size_t{999}, expected.records.size() - 1}) {
        RecordReader r;
        r.set_cache_threshold(0);
        ASSERT_TRUE(r.open(path.string()));
        r.rewind();
        Record rec;
        for (size_t i = 0; i < stop; ++i) ASSERT_TRUE(r.read_record(rec));
        EXPECT_EQ(read_pass(r), expected) << "stopped after " << stop;
        EXPECT_EQ(read_pass(r), expected) << "stopped after " << stop;
        EXPECT_TRUE(r.reading_cached_records());
        // After the end, reading stays at the end.
        EXPECT_FALSE(r.read_record(rec));
        EXPECT_EQ(r.bad_item(), expected.bad);
        r.release();
    }
    std::filesystem::remove(path);
}

// Discovery and the draw run read the same file through one reader: a closed reader keeps
// its records for its next opening of the same file; a file changed in between is parsed
// afresh.
TEST(RecordReader, ClosedReaderKeepsItsRecordsForTheNextOpenOfTheSameFile) {
    const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_kept_" + std::to_string(::getpid()) + ".g");
    std::ofstream(path, std::ios::binary) << generated_text(3, 50000, false);
    RecordReader reader;
    reader.set_cache_threshold(0);
    ASSERT_TRUE(reader.open(path.string()));
    read_pass(reader);
    reader.close();
    // Reuse does not depend on the threshold that made the records: only on the file.
    reader.set_cache_threshold(UINT64_MAX);
    ASSERT_TRUE(reader.open(path.string()));
    reader.rewind();
    EXPECT_TRUE(reader.reading_cached_records());
    reader.close();

    const std::string changed = "3 1 2 2 30 40\n";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << changed;
    ASSERT_TRUE(reader.open(path.string()));
    EXPECT_EQ(read_pass(reader), reference_pass(changed));
    EXPECT_FALSE(reader.reading_cached_records());
    reader.close();
    std::filesystem::remove(path);
}

TEST(RecordReader, ReleasedRecordsAreNotFoundAgain) {
    const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_released_" + std::to_string(::getpid()) + ".g");
    std::ofstream(path, std::ios::binary) << generated_text(4, 50000, false);
    RecordReader reader;
    reader.set_cache_threshold(0);
    ASSERT_TRUE(reader.open(path.string()));
    read_pass(reader);
    reader.release();
    reader.set_cache_threshold(UINT64_MAX);
    ASSERT_TRUE(reader.open(path.string()));
    reader.rewind();
    EXPECT_FALSE(reader.reading_cached_records());
    // Another reader never sees a record file it did not make.
    RecordReader other;
    other.set_cache_threshold(UINT64_MAX);
    ASSERT_TRUE(other.open(path.string()));
    other.rewind();
    EXPECT_FALSE(other.reading_cached_records());
    std::filesystem::remove(path);
}

// The record file never outgrows the graph file, whatever its records look like: the long
// form takes no more bytes than the record's own digits. Each shape is read back exactly.
TEST(RecordReader, RecordFileIsNoLargerThanTheGraphFile) {
    const char* const shapes[] = {"128 0 0\n", "1 2 3 ", "-2147483648 -2147483648 -2147483648\n",
                                  "0 32768 -32769\n", "-128 1 1\n", "2147483647 7 -7\n", "99999 -1 +2\n"};
    for (const char* shape : shapes) {
        std::string text;
        while (text.size() < (2u << 20)) text += shape;
        const Pass expected = reference_pass(text);
        const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_size_" + std::to_string(::getpid()) + ".g");
        std::ofstream(path, std::ios::binary) << text;
        RecordReader reader;
        ASSERT_TRUE(reader.open(path.string()));
        EXPECT_EQ(read_pass(reader), expected) << shape;
        EXPECT_EQ(read_pass(reader), expected) << shape;
        EXPECT_TRUE(reader.reading_cached_records()) << shape;
        EXPECT_GT(reader.record_file_bytes(), 0u) << shape;
        EXPECT_LE(reader.record_file_bytes(), text.size()) << shape;
        reader.release();
        std::filesystem::remove(path);
    }
}

// Progress comes at each rewind and then every few MiB, never per record, and grows.
TEST(RecordReader, ProgressAtEachPassAndEveryFewMegabytes) {
    const std::string text = generated_text(0, 10u << 20, false);
    const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_progress_" + std::to_string(::getpid()) + ".g");
    std::ofstream(path, std::ios::binary) << text;
    RecordReader r;
    ASSERT_TRUE(r.open(path.string()));
    struct Call {
        uint32_t pass;
        uint64_t done, total;
    };
    std::vector<Call> calls;
    r.set_progress([&calls](uint32_t pass, uint64_t done, uint64_t total) { calls.push_back({pass, done, total}); });
    for (int pass = 1; pass <= 2; ++pass) {
        read_pass(r);
        EXPECT_EQ(r.reading_cached_records(), pass == 2);
    }
    ASSERT_GE(calls.size(), 4u);
    EXPECT_LE(calls.size(), 2u * (1 + (10u << 20) / (3u << 20)));
    uint32_t pass = 0;
    uint64_t last = 0;
    for (const Call& c : calls) {
        EXPECT_EQ(c.total, text.size());
        EXPECT_LE(c.done, c.total);
        if (c.pass != pass) {
            EXPECT_EQ(c.pass, pass + 1);
            EXPECT_EQ(c.done, 0u);  // a pass starts at its first byte
            pass = c.pass;
        } else {
            EXPECT_GT(c.done, last);
        }
        last = c.done;
    }
    EXPECT_EQ(pass, 2u);
    r.release();
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace plotmint
