#include "metafile/emf_reader.h"
#include "metafile/emf_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <vector>

#include "emf_test_util.h"
#include "metafile/emf_player.h"
#include "recording_canvas.h"

namespace plotmint {
namespace {

using test::field_at;
using test::put_at;
using test::RecordView;
using test::records_of;

// A picture with one of each record the writer makes.
std::string sample_picture() {
    MemorySink sink;
    EmfWriter w(sink, kDefaultDisplay, Rect{0, 0, 14821, 20951});
    w.set_bk_mode(kTransparent);
    w.select_object(w.create_pen(PenStyle::solid, 3, 0xFF));
    w.select_object(w.create_solid_brush(0x00FF00));
    LogFont f;
    f.height = 40;
    f.face_name = "Arial";
    w.select_object(w.create_font(f));
    w.set_text_color(0x123456);
    w.text_out(10, 20, "Plot AB");
    w.polygon(std::vector<Point>{{0, 0}, {10, 0}, {10, 10}});
    w.polygon(std::vector<Point>{{0, 0}, {100000, 0}, {10, 10}});
    w.move_to(1, 2);
    w.line_to(3, 4);
    EXPECT_TRUE(w.close()) << w.error();
    return sink.bytes;
}

RecordView first(const std::string& bytes, uint32_t type) {
    for (const auto& r : records_of(bytes))
        if (r.type == type) return r;
    ADD_FAILURE() << "no record of type " << type;
    return {0, 0, 0};
}

void set_nbytes(std::string& b) { put_at<uint32_t>(b, offsetof(U_EMRHEADER, nBytes), static_cast<uint32_t>(b.size())); }

TEST(ReadEmf, AcceptsWhatTheWriterWrites) {
    const std::string bytes = sample_picture();
    std::string error;
    const auto picture = read_emf(bytes, error);
    ASSERT_TRUE(picture) << error;
    EXPECT_EQ(picture->bytes, bytes);
    EXPECT_EQ(picture->frame, (Rect{0, 0, 14821, 20951}));
    EXPECT_EQ(picture->bounds, (Rect{0, 0, 100000, 61}));
    EXPECT_EQ(picture->display.horz_mm, 527);
    EXPECT_EQ(picture->display.vert_px, 1080);
    EXPECT_EQ(picture->record_count, records_of(bytes).size());
    EXPECT_EQ(picture->handle_count, 4u);
}

TEST(ReadEmf, BytesPastNBytesAreNotPartOfThePicture) {
    const std::string bytes = sample_picture();
    std::string error;
    const auto picture = read_emf(bytes + std::string(64, '\0'), error);
    ASSERT_TRUE(picture) << error;
    EXPECT_EQ(picture->bytes, bytes);
}

TEST(EmfPicture, LogicalFrameIsTheFrameInDisplayPixels) {
    EmfPicture p;
    // 25 hundredths of a millimetre per pixel both ways.
    p.display = {250, 250, 1000, 1000};
    p.frame = {0, 0, 700, 1400};
    EXPECT_EQ(p.logical_frame(), (Rect{0, 0, 28, 56}));
    p.display = kDefaultDisplay;
    p.frame = {-100, 0, 14821, 20951};
    // 14821 * 1920 / 52700 = 539.97; 20951 * 1080 / 29600 = 764.43
    EXPECT_EQ(p.logical_frame(), (Rect{-4, 0, 540, 764}));
}

struct Damage {
    const char* name;
    std::function<void(std::string&)> apply;
    const char* message;  // part of the expected error
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class ReadEmfRejects : public ::testing::TestWithParam<Damage> {};

TEST_P(ReadEmfRejects, DamagedFile) {
    std::string bytes = sample_picture();
    GetParam().apply(bytes);
    std::string error;
    EXPECT_FALSE(read_emf(bytes, error));
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << "error: " << error;
}

const Damage kDamages[] = {
    {"empty", [](std::string& b) { b.clear(); }, "too short"},
    {"not a header", [](std::string& b) { put_at<uint32_t>(b, 0, U_EMR_POLYGON); }, "does not start"},
    {"bad signature", [](std::string& b) { put_at<uint32_t>(b, offsetof(U_EMRHEADER, dSignature), 0x20464D45); },
     "signature"},
    {"header too small", [](std::string& b) { put_at<uint32_t>(b, 4, 80); }, "header has a bad size"},
    {"header beyond file", [](std::string& b) { b.resize(100); }, "header has a bad size"},
    {"truncated", [](std::string& b) { b.resize(b.size() - 8); }, "shorter than the"},
    {"truncated at a record boundary",
     [](std::string& b) {
         b.resize(b.size() - 20);
         set_nbytes(b);
     },
     "does not end with EMR_EOF"},
    {"record cut off",
     [](std::string& b) {
         b.resize(b.size() - 16);
         set_nbytes(b);
     },
     "cut off after 4 bytes"},
    {"size not a multiple of 4",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_SETBKMODE).offset + 4, 13); }, "bad size of 13"},
    {"size below 8", [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_SETBKMODE).offset + 4, 4); },
     "bad size of 4"},
    {"size beyond the end",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_POLYGON16).offset + 4, 0xFFFFFFF0u); }, "bad size"},
    {"record shorter than its fields",
     [](std::string& b) {
         // Shrink the 16-byte EMR_LINETO to 8 bytes; the rest becomes a record of its own.
         const auto r = first(b, U_EMR_LINETO);
         put_at<uint32_t>(b, r.offset + 4, 8);
         put_at<uint32_t>(b, r.offset + 8, 999);
         put_at<uint32_t>(b, r.offset + 12, 8);
     },
     "shorter than the 16"},
    {"huge polygon16 count",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_POLYGON16).offset + 24, 0xFFFFFFFFu); },
     "holds 4294967295 points"},
    {"polygon count one too many",
     [](std::string& b) {
         const auto r = first(b, U_EMR_POLYGON);
         put_at<uint32_t>(b, r.offset + 24, field_at<uint32_t>(b, r.offset + 24) + 1);
     },
     "holds 4 points"},
    {"huge polygon count wrapping 32 bits",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_POLYGON).offset + 24, 0x20000001u); }, "points"},
    {"huge character count",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_EXTTEXTOUTW).offset + 44, 0x80000000u); },
     "characters at offset"},
    {"wrapped string offset",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_EXTTEXTOUTW).offset + 48, 0xFFFFFFFEu); },
     "characters at offset 4294967294"},
    {"string offset inside the fixed fields",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_EXTTEXTOUTW).offset + 48, 8); }, "characters at offset 8"},
    {"wrapped advance offset",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_EXTTEXTOUTW).offset + 72, 0xFFFFFFFCu); },
     "advances at offset"},
    {"PDY advances need twice the room",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_EXTTEXTOUTW).offset + 52, U_ETO_PDY); },
     "has 14 advances"},
    {"select beyond the object table",
     [](std::string& b) {
         put_at<uint32_t>(b, first(b, U_EMR_SELECTOBJECT).offset + 8, field_at<uint16_t>(b, offsetof(U_EMRHEADER, nHandles)));
     },
     "outside the object table of 4"},
    {"create into slot 0", [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_CREATEPEN).offset + 8, 0); },
     "uses object 0"},
    {"unknown stock object",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_SELECTOBJECT).offset + 8, 0x800000FFu); },
     "stock object 0x800000ff"},
    {"create into a stock slot",
     [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_CREATEBRUSHINDIRECT).offset + 8, 0x80000001u); },
     "stock object"},
    {"object table too small for the objects",
     [](std::string& b) { put_at<uint16_t>(b, offsetof(U_EMRHEADER, nHandles), 2); }, "outside the object table of 2"},
    {"records after EOF",
     [](std::string& b) {
         b += test::take_record(U_EMRSETBKMODE_set(1));
         set_nbytes(b);
     },
     "12 bytes follow EMR_EOF"},
    {"missing EOF", [](std::string& b) { put_at<uint32_t>(b, records_of(b).back().offset, U_EMR_SETMAPMODE); },
     "does not end with EMR_EOF"},
    {"second header", [](std::string& b) { put_at<uint32_t>(b, first(b, U_EMR_SETBKMODE).offset, U_EMR_HEADER); },
     "second header"},
    {"record count differs",
     [](std::string& b) {
         put_at<uint32_t>(b, offsetof(U_EMRHEADER, nRecords), field_at<uint32_t>(b, offsetof(U_EMRHEADER, nRecords)) + 1);
     },
     "but its header says"},
    {"display without size", [](std::string& b) { put_at<int32_t>(b, offsetof(U_EMRHEADER, szlMillimeters), 0); },
     "reference display has no size"},
    {"description outside the header",
     [](std::string& b) {
         put_at<uint32_t>(b, offsetof(U_EMRHEADER, nDescription), 100);
         put_at<uint32_t>(b, offsetof(U_EMRHEADER, offDescription), 100);
     },
     "description"},
};

INSTANTIATE_TEST_SUITE_P(Damaged, ReadEmfRejects, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& param) {
                             std::string name;
                             for (const char* c = param.param.name; *c; ++c) name += std::isalnum(*c) ? *c : '_';
                             return name;
                         });

TEST(ReadEmf, FontRecordTooShortForALogFont) {
    std::string font = test::take_record(U_EMRSETBKMODE_set(1));
    font.resize(100);
    put_at<uint32_t>(font, 0, U_EMR_EXTCREATEFONTINDIRECTW);
    put_at<uint32_t>(font, 4, 100);
    put_at<uint32_t>(font, 8, 1);
    std::string error;
    EXPECT_FALSE(read_emf(test::emf_from_records({font}, 2), error));
    EXPECT_NE(error.find("shorter than the 104"), std::string::npos) << error;
}

TEST(ReadEmf, TextWithoutRectangleOrAdvancesIsAccepted) {
    // fOptions ETO_NO_RECT moves offDx to byte 56; offDx 0 means no advances.
    std::string rec(64, '\0');
    put_at<uint32_t>(rec, 0, U_EMR_EXTTEXTOUTW);
    put_at<uint32_t>(rec, 4, 64);
    put_at<uint32_t>(rec, 44, 2);           // nChars
    put_at<uint32_t>(rec, 48, 60);          // offString
    put_at<uint32_t>(rec, 52, U_ETO_NO_RECT);
    put_at<uint32_t>(rec, 56, 0);           // offDx
    put_at<char16_t>(rec, 60, u'h');
    put_at<char16_t>(rec, 62, u'i');
    std::string error;
    EXPECT_TRUE(read_emf(test::emf_from_records({rec}, 1), error)) << error;
}

TEST(ReadEmfFile, MissingFileNamesThePath) {
    std::string error;
    EXPECT_FALSE(read_emf_file("/nonexistent/plotmint/graph.emf", error));
    EXPECT_NE(error.find("/nonexistent/plotmint/graph.emf"), std::string::npos) << error;
}

// Damage anywhere must be refused or played without reading outside the bytes.
TEST(ReadEmf, SurvivesEveryByteDamagedAndEveryTruncation) {
    const std::string good = sample_picture();
    const auto try_bytes = [](const std::string& bytes) {
        std::string error;
        if (auto picture = read_emf(bytes, error)) {
            test::RecordingCanvas canvas;
            play_emf(*picture, canvas, &error);
        } else {
            EXPECT_FALSE(error.empty());
        }
    };
    for (size_t i = 0; i < good.size(); ++i) {
        for (int v : {0x00, 0x7F, 0x80, 0xFF}) {
            std::string bad = good;
            bad[i] = static_cast<char>(v);
            try_bytes(bad);
        }
    }
    for (size_t n = 0; n < good.size(); ++n) try_bytes(good.substr(0, n));
}


// ---- validate_emf_file: read_emf's verdicts, streamed from a file ---------------------

// Named after the test and the process: ctest runs the cases side by side.
std::string temp_file(const std::string& name, const std::string& bytes) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string unique = std::string(test->test_suite_name()) + "_" + test->name() + "_" + std::to_string(::getpid());
    for (char& c : unique)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    const auto path = std::filesystem::temp_directory_path() / ("plotmint_validate_" + unique + "_" + name + ".emf");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path.string();
}

// Both verdicts on the same bytes, and the same reason when refused.
void expect_same_verdict(const std::string& bytes, const std::string& name) {
    std::string read_error, validate_error;
    const auto read = read_emf(bytes, read_error);
    const std::string path = temp_file(name, bytes);
    const auto validated = validate_emf_file(path, validate_error);
    std::filesystem::remove(path);
    ASSERT_EQ(read.has_value(), validated.has_value()) << name << ": " << read_error << " / " << validate_error;
    EXPECT_EQ(read_error, validate_error) << name;
    if (read && validated) {
        EXPECT_TRUE(validated->bytes.empty());
        EXPECT_EQ(validated->bounds, read->bounds);
        EXPECT_EQ(validated->frame, read->frame);
        EXPECT_EQ(validated->display.horz_mm, read->display.horz_mm);
        EXPECT_EQ(validated->display.vert_mm, read->display.vert_mm);
        EXPECT_EQ(validated->display.horz_px, read->display.horz_px);
        EXPECT_EQ(validated->display.vert_px, read->display.vert_px);
        EXPECT_EQ(validated->record_count, read->record_count);
        EXPECT_EQ(validated->handle_count, read->handle_count);
    }
}

class ValidateEmfFileAgrees : public ::testing::TestWithParam<Damage> {};

TEST_P(ValidateEmfFileAgrees, WithReadEmfOnDamagedFiles) {
    std::string bytes = sample_picture();
    GetParam().apply(bytes);
    expect_same_verdict(bytes, "damaged");
}

INSTANTIATE_TEST_SUITE_P(Damaged, ValidateEmfFileAgrees, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& param) {
                             std::string name;
                             for (const char* c = param.param.name; *c; ++c) name += std::isalnum(*c) ? *c : '_';
                             return name;
                         });

TEST(ValidateEmfFile, AgreesWithReadEmfOnEveryTruncation) {
    const std::string good = sample_picture();
    expect_same_verdict(good, "whole");
    expect_same_verdict(good + std::string(64, '\0'), "padded");
    for (size_t n = 0; n < good.size(); n += 3) expect_same_verdict(good.substr(0, n), "cut");
}

// Several megabytes: records straddle the ends of the read window, and one record is
// larger than the window itself.
TEST(ValidateEmfFile, PictureLargerThanItsReadWindow) {
    MemorySink sink;
    EmfWriter w(sink, kDefaultDisplay, Rect{0, 0, 14821, 20951});
    w.select_object(w.create_pen(PenStyle::solid, 3, 0xFF));
    std::vector<Point> points;
    for (int i = 0; i < 300000; ++i) points.push_back({i % 1000, i / 1000});
    for (int i = 0; i < 200000; ++i) {
        w.move_to(i % 700, i % 300);
        w.line_to(i % 500, i % 900);
        if (i % 1000 == 0) w.polygon(std::span<const Point>(points.data(), 3 + i % 97));
    }
    w.polygon(points);  // 1.2 MB in one record
    w.line_to(1, 1);
    ASSERT_TRUE(w.close()) << w.error();
    std::string bytes = sink.bytes;
    ASSERT_GT(bytes.size(), 7u << 20);
    expect_same_verdict(bytes, "large");
    // Damage far beyond the first window is found, with the same words.
    const auto recs = records_of(bytes);
    put_at<uint32_t>(bytes, recs[recs.size() - 3].offset + 4, 6);
    expect_same_verdict(bytes, "large_damaged");
}

TEST(ValidateEmfFile, MissingFileNamesThePath) {
    std::string error;
    EXPECT_FALSE(validate_emf_file("/nonexistent/plotmint/graph.emf", error));
    EXPECT_NE(error.find("/nonexistent/plotmint/graph.emf"), std::string::npos) << error;
}

// The picture's bytes, but once the first window has been read the file is only `cut` bytes
// long, or fails outright: another program truncated or lost it while it was checked.
class ShrinkingSource final : public EmfByteSource {
public:
    ShrinkingSource(const std::string& bytes, uint64_t cut, bool fail) : bytes_(bytes), cut_(cut), fail_(fail) {}
    uint64_t size() const override { return bytes_.size(); }
    int64_t read_at(uint64_t offset, char* out, size_t size) override {
        const uint64_t limit = reads_++ == 0 ? bytes_.size() : cut_;
        if (reads_ > 1 && fail_) {
            errno = EIO;
            return -1;
        }
        if (offset >= limit) return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, limit - offset));
        std::memcpy(out, bytes_.data() + offset, n);
        return static_cast<int64_t>(n);
    }

private:
    const std::string& bytes_;
    uint64_t cut_;
    bool fail_;
    int reads_ = 0;
};

// Text records throughout, so a record that straddles a read window is one whose check
// reads far past its first 8 bytes.
std::string text_picture() {
    MemorySink sink;
    EmfWriter w(sink, kDefaultDisplay, Rect{0, 0, 14821, 20951});
    LogFont f;
    f.height = 40;
    f.face_name = "Arial";
    w.select_object(w.create_font(f));
    for (int i = 0; i < 40000; ++i) w.text_out(i % 900, i % 1300, "Plot AB");
    EXPECT_TRUE(w.close()) << w.error();
    return sink.bytes;
}

// A short read refuses the picture with its reason; it never hands the checks a buffer
// shorter than the record they read.
TEST(ValidateEmf, FileThatShrinksWhileCheckedIsRefused) {
    const std::string bytes = text_picture();
    ASSERT_GT(bytes.size(), 3u << 20);
    std::string error;
    {
        ShrinkingSource whole(bytes, bytes.size(), false);
        EXPECT_TRUE(validate_emf(whole, "graph.emf", error)) << error;
    }
    for (const uint64_t cut : {uint64_t{1} << 20, (uint64_t{1} << 20) + 1, (uint64_t{2} << 20) + 50,
                               uint64_t{bytes.size()} - 1, uint64_t{0}}) {
        ShrinkingSource shrinking(bytes, cut, false);
        error.clear();
        EXPECT_FALSE(validate_emf(shrinking, "graph.emf", error)) << cut;
        EXPECT_EQ(error, "cannot read graph.emf: the file became shorter while it was read") << cut;
    }
    ShrinkingSource failing(bytes, bytes.size(), true);
    EXPECT_FALSE(validate_emf(failing, "graph.emf", error));
    EXPECT_EQ(error, "cannot read graph.emf: Input/output error");
}

}  // namespace
}  // namespace plotmint
