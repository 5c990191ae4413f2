// The check made while a picture is written gives what the full checks give for the file
// once it is closed: the same picture, the same bytes, the same reason for a refusal, for
// pictures of every size and for files damaged on the way or cut short by another hand.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <uemf.h>

#include "../test_folder.h"
#include "base/platform.h"
#include "metafile/emf_follower.h"
#include "metafile/emf_reader.h"
#include "metafile/emf_writer.h"
#include "worker/worker.h"

namespace plotmint {
namespace {

namespace fs = std::filesystem;

constexpr ReferenceDisplay kDisplay{320, 240, 1280, 960};
constexpr Rect kFrame{0, 0, 14821, 20951};

enum class Damage {
    none,
    bad_record_size,      // a line record's size made 18 on its way to the file
    short_line,           // and another's made 12, a whole number of words but too short
    object_off_table,     // a selection names slot 5000, far past the table the header gives
    no_eof,               // EMR_EOF goes out as another record of its size
    cut_while_writing,    // another hand cuts the temporary to half while the passes draw
    cut_after_close,      // and once it is closed, to a few bytes short of nBytes
    cut_in_long_record,   // inside the long polygon, once it has been read: zero points,
                          // still a picture, but not the one the follower read
};

// The writer's bytes on their way to the file sink, changed as `damage` says.
class TapSink final : public ByteSink {
public:
    TapSink(FileSink& file, Damage damage) : file_(file), damage_(damage) {}
    // The writer hands over whole records, several at a time.
    bool write(const void* data, size_t size) override {
        std::string bytes(static_cast<const char*>(data), size);
        for (size_t at = 0; at + 8 <= size;) {
            uint32_t head[3] = {0, 0, 0};
            std::memcpy(head, bytes.data() + at, std::min<size_t>(size - at, sizeof head));
            if (head[1] < 8) break;
            if (damage_ == Damage::no_eof && head[0] == U_EMR_EOF) put(bytes, at, U_EMR_SAVEDC);
            if (damage_ == Damage::bad_record_size && head[0] == U_EMR_LINETO && ++lines_ == 20000)
                put(bytes, at + 4, 18);
            if (damage_ == Damage::short_line && head[0] == U_EMR_LINETO && ++lines_ == 30000) put(bytes, at + 4, 12);
            if (damage_ == Damage::object_off_table && head[0] == U_EMR_SELECTOBJECT && !(head[2] & 0x80000000u) &&
                ++selections_ == 300)
                put(bytes, at + 8, 5000);
            at += head[1];
        }
        return file_.write(bytes.data(), bytes.size());
    }
    bool patch(uint64_t offset, const void* data, size_t size) override { return file_.patch(offset, data, size); }
    // What Conversion's deferred commit does: hand everything over, keep the temporary.
    bool commit() override { return file_.finish(); }
    std::string error() const override { return file_.error(); }

private:
    static void put(std::string& rec, size_t at, uint32_t v) { std::memcpy(rec.data() + at, &v, 4); }
    FileSink& file_;
    Damage damage_;
    int lines_ = 0, selections_ = 0;
};

// A run's worth of pens, brushes, fonts, lines, polygons and text, until about `bytes`;
// past 2 MiB, one polygon longer than the follower's window in the last quarter.
// Pauses now and then, so that the follower catches up with the writer and waits for it.
// `at` is told "half" halfway and "long" just after the long polygon.
void draw(EmfWriter& w, uint64_t bytes, const std::function<void(const std::string& when)>& at) {
    LogFont font;
    font.height = 40;
    font.face_name = "Arial";
    bool halfway_done = false, long_done = false;
    uint64_t next_pause = 1 << 20;
    for (int32_t i = 0; w.size() < bytes; ++i) {
        const ObjectId pen = w.create_pen(PenStyle::solid, i % 7, static_cast<uint32_t>(i * 2654435761u));
        const ObjectId old = w.select_object(pen);
        w.move_to(i % 5000, (i * 7) % 7000);
        for (int32_t k = 0; k < 40; ++k) w.line_to((i + k * 13) % 5240, (i * 3 + k * 17) % 7860);
        const ObjectId brush = w.create_solid_brush(static_cast<uint32_t>(i) & 0xffffff);
        const ObjectId old_brush = w.select_object(brush);
        const Point pts[] = {{i % 100, 0}, {100, i % 300}, {i % 5240, 70000}};
        w.polygon(pts);
        if (!long_done && bytes > (uint64_t{2} << 20) && w.size() >= bytes / 4 * 3) {
            long_done = true;
            // One record longer than the follower's window.
            std::vector<Point> many(400000);
            for (size_t k = 0; k < many.size(); ++k) many[k] = {static_cast<int32_t>(k % 5000), static_cast<int32_t>(k % 7000)};
            w.polygon(many);
            if (at) at("long");
        }
        if (i % 50 == 0) {
            const ObjectId f = w.create_font(font);
            const ObjectId old_font = w.select_object(f);
            w.text_out(i % 5000, i % 7000, "Plot AB");
            w.select_object(old_font);
            w.delete_object(f);
        }
        w.select_object(old_brush);
        w.delete_object(brush);
        w.select_object(old);
        w.delete_object(pen);
        if (!halfway_done && w.size() >= bytes / 2) {
            halfway_done = true;
            if (at) at("half");
        }
        if (w.size() >= next_pause) {
            next_pause += 3 << 20;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }
}

struct Case {
    const char* name;
    uint64_t bytes;  // about how large the picture is
    Damage damage;
    bool keep_bytes;
    bool reads_back = false;  // the file, damaged or not, passes the full checks
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class EmfFollowerTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint-follower-");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

void expect_same(const std::optional<EmfPicture>& got, const std::string& got_error,
                 const std::optional<EmfPicture>& want, const std::string& want_error) {
    ASSERT_EQ(got.has_value(), want.has_value()) << "got: " << got_error << "\nfull checks: " << want_error;
    if (!want) {
        EXPECT_EQ(got_error, want_error);
        return;
    }
    EXPECT_EQ(got->bounds, want->bounds);
    EXPECT_EQ(got->frame, want->frame);
    EXPECT_EQ(got->display.horz_mm, want->display.horz_mm);
    EXPECT_EQ(got->display.vert_mm, want->display.vert_mm);
    EXPECT_EQ(got->display.horz_px, want->display.horz_px);
    EXPECT_EQ(got->display.vert_px, want->display.vert_px);
    EXPECT_EQ(got->record_count, want->record_count);
    EXPECT_EQ(got->handle_count, want->handle_count);
    EXPECT_TRUE(got->bytes == want->bytes) << got->bytes.size() << " bytes against " << want->bytes.size();
}

TEST_P(EmfFollowerTest, GivesWhatTheFullChecksGiveForTheClosedFile) {
    const Case& c = GetParam();
    std::unique_ptr<Worker> line = make_worker();
    if (!line) GTEST_SKIP() << "the build has no threads";
    const fs::path path = dir_ / "graph.emf";
    FileSink file(path.string());
    ASSERT_TRUE(file.ok()) << file.error();
    TapSink tap(file, c.damage);
    EmfFollower follower(file, *line, c.keep_bytes);
    ASSERT_TRUE(follower.following());
    const fs::path temporary = file.temporary_path();
    {
        EmfWriter writer(tap, kDisplay, kFrame);
        draw(writer, c.bytes, [&](const std::string& when) {
            if (c.damage == Damage::cut_while_writing && when == "half")
                fs::resize_file(temporary, file.written() / 2);
            if (c.damage == Damage::cut_in_long_record && when == "long") {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the follower reads it
                fs::resize_file(temporary, file.written() - 800000);
            }
        });
        ASSERT_TRUE(writer.close()) << writer.error();
        if (c.damage == Damage::cut_after_close) fs::resize_file(temporary, writer.size() - 6);
    }
    std::string error;
    const std::optional<EmfPicture> got = follower.result("graph.emf", error);

    std::string reason, want_error;
    const int fd = platform::open_regular_file(temporary.string(), reason);
    ASSERT_GE(fd, 0) << reason;
    const std::optional<EmfPicture> want = c.keep_bytes ? read_emf_descriptor(fd, "graph.emf", want_error)
                                                        : validate_emf_descriptor(fd, "graph.emf", want_error);
    platform::close_file(fd);
    expect_same(got, error, want, want_error);
    // A sound picture is carried by the stream, not by checking it all again.
    EXPECT_EQ(follower.streamed(), c.damage == Damage::none);
    EXPECT_EQ(want.has_value(), c.reads_back) << want_error;
    if (c.keep_bytes && want) {
        EXPECT_EQ(want->bytes.size(), fs::file_size(temporary));
    }
}

constexpr uint64_t kSmall = 3000;             // written whole at close, one flush
constexpr uint64_t kWindows = 3'500'000;      // several windows, a record across each edge
constexpr uint64_t kLarge = uint64_t{9} << 20;  // past the 8 MiB the conversion syncs at

INSTANTIATE_TEST_SUITE_P(
    Pictures, EmfFollowerTest,
    ::testing::Values(Case{"small", kSmall, Damage::none, false, true},
                      Case{"small_kept", kSmall, Damage::none, true, true},
                      Case{"windows", kWindows, Damage::none, false, true},
                      Case{"windows_kept", kWindows, Damage::none, true, true},
                      Case{"large", kLarge, Damage::none, false, true},
                      Case{"large_kept", kLarge, Damage::none, true, true},
                      Case{"cut_in_long_record_kept", kWindows, Damage::cut_in_long_record, true, true},
                      Case{"bad_record_size", kWindows, Damage::bad_record_size, false},
                      Case{"bad_record_size_kept", kWindows, Damage::bad_record_size, true},
                      Case{"short_line", kWindows, Damage::short_line, false},
                      Case{"object_off_table", kWindows, Damage::object_off_table, false},
                      Case{"object_off_table_kept", kWindows, Damage::object_off_table, true},
                      Case{"no_eof", kWindows, Damage::no_eof, false}, Case{"no_eof_small", kSmall, Damage::no_eof, false},
                      Case{"cut_while_writing", kLarge, Damage::cut_while_writing, false},
                      Case{"cut_while_writing_kept", kWindows, Damage::cut_while_writing, true},
                      Case{"cut_after_close", kWindows, Damage::cut_after_close, false},
                      Case{"cut_after_close_small", kSmall, Damage::cut_after_close, true}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// The mark a reader trusts: every time it grows, the file already holds that many bytes,
// through records smaller and larger than the sink's buffer, the header patch and the
// finish; and it ends at the picture's size. A cut made by another hand between writes is
// seen at the next write.
TEST(FileSinkMark, NeverRunsAheadOfTheFileAndSeesACut) {
    // The mark and the cut exist for the follower, which needs a thread; a build without
    // threads never attaches one (Windows also will not cut a file another handle writes).
    if (!make_worker()) GTEST_SKIP() << "the build has no threads";
    const fs::path dir = plotmint_test::test_folder("plotmint-follower-");
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut" : "whole");
        FileSink file((dir / "graph.emf").string());
        ASSERT_TRUE(file.ok()) << file.error();
        uint64_t last = 0;
        int grew = 0, ahead = 0;
        file.on_written([&] {
            const uint64_t mark = file.written();
            if (mark <= last || fs::file_size(file.temporary_path()) < mark) ++ahead;
            last = mark;
            ++grew;
        });
        const std::string big(size_t{600} << 10, 'x');  // past the buffer: written straight
        ASSERT_TRUE(file.write(big.data(), 100));
        EXPECT_EQ(file.written(), 0u) << "a buffered record is not the system's yet";
        for (int i = 0; i < 40000; ++i) ASSERT_TRUE(file.write(big.data(), 28));
        ASSERT_TRUE(file.write(big.data(), big.size()));
        if (cut) fs::resize_file(file.temporary_path(), file.written() / 2);
        for (int i = 0; i < 20000; ++i) ASSERT_TRUE(file.write(big.data(), 16));
        ASSERT_TRUE(file.patch(0, big.data(), 100));
        ASSERT_TRUE(file.finish());
        const uint64_t total = 100 + 40000 * 28 + big.size() + 20000 * 16;
        EXPECT_EQ(file.written(), total);
        EXPECT_EQ(fs::file_size(file.temporary_path()), total);
        EXPECT_GE(grew, 4);
        EXPECT_EQ(ahead, 0);
        EXPECT_EQ(file.cut_short(), cut);
        file.on_written({});
    }
    fs::remove_all(dir);
}

// A file put in the temporary's place is the one the commit would rename into place; the
// follower says it no longer reads that one, and the caller reads the new one by name.
TEST(EmfFollowerName, ATemporaryReplacedIsNoLongerTheFileFollowed) {
    std::unique_ptr<Worker> line = make_worker();
    if (!line) GTEST_SKIP() << "the build has no threads";
    const fs::path dir = plotmint_test::test_folder("plotmint-follower-");
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        FileSink file((dir / "graph.emf").string());
        ASSERT_TRUE(file.ok()) << file.error();
        EmfFollower follower(file, *line, false);
        EXPECT_TRUE(follower.still_named());
        EmfWriter writer(file, kDisplay, kFrame);
        draw(writer, kWindows, [&](const std::string& when) {
            if (when != "half") return;
            const fs::path other = dir / "other";
            std::FILE* f = std::fopen(other.string().c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fclose(f);
            fs::rename(other, file.temporary_path());
        });
        EXPECT_FALSE(follower.still_named());
    }
    fs::remove_all(dir);
}

// What a thread worker does when the system gives it no thread: the job runs at start(),
// on the caller's thread, though the worker runs jobs beside the caller otherwise.
class NoThreadToBeHad final : public Worker {
public:
    void start(std::function<void()> job) override { job(); }
    void wait() override {}
    bool concurrent() const override { return true; }
};

TEST(EmfFollowerName, WithoutAThreadLeavesItAllToTheFullChecks) {
    const fs::path dir = plotmint_test::test_folder("plotmint-follower-");
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        NoThreadToBeHad line;
        FileSink file((dir / "graph.emf").string());
        EmfFollower follower(file, line, false);  // would wait here for itself
        EmfWriter writer(file, kDisplay, kFrame);
        draw(writer, kWindows, {});
        ASSERT_TRUE(writer.close());
        std::string error;
        const std::optional<EmfPicture> got = follower.result("graph.emf", error);
        ASSERT_TRUE(got.has_value()) << error;
        EXPECT_FALSE(follower.streamed());
        EXPECT_EQ(got->record_count, validate_emf_file((dir / "graph.emf").string(), error)->record_count);
    }
    fs::remove_all(dir);
}

// A run that ends without a picture drops its follower while it waits for bytes that will
// never come; that must neither hang nor touch the sink afterwards.
TEST(EmfFollowerName, IsDroppedWhileItWaits) {
    std::unique_ptr<Worker> line = make_worker();
    if (!line) GTEST_SKIP() << "the build has no threads";
    const fs::path dir = plotmint_test::test_folder("plotmint-follower-");
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        FileSink file((dir / "graph.emf").string());
        EmfWriter writer(file, kDisplay, kFrame);
        {
            EmfFollower follower(file, *line, true);
            draw(writer, kWindows, {});
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        draw(writer, 2 * kWindows, {});  // the sink writes on with nobody to tell
    }
    EXPECT_TRUE(fs::is_empty(dir)) << "the temporary of a picture never closed stays behind";
    fs::remove_all(dir);
}

}  // namespace
}  // namespace plotmint
