#include "../test_folder.h"
#include "metafile/emf_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "emf_test_util.h"
#include "file_sink_fixture.h"
#include "metafile/emf_reader.h"

namespace plotmint {
namespace {

using test::field_at;
using test::record_as;
using test::records_of;
using test::RecordView;
using test::types_of;
using test::FileSinkTest;
using test::draw_something;

constexpr Rect kFrame{0, 0, 14821, 20951};

// The records between the header and EMR_EOF of a closed picture.
std::vector<RecordView> body(const std::string& bytes) {
    auto all = records_of(bytes);
    EXPECT_GE(all.size(), 2u);
    EXPECT_EQ(all.front().type, U_EMR_HEADER);
    EXPECT_EQ(all.back().type, U_EMR_EOF);
    return {all.begin() + 1, all.end() - 1};
}

std::vector<uint32_t> body_types(const std::string& bytes) {
    std::vector<uint32_t> out;
    for (const auto& r : body(bytes)) out.push_back(r.type);
    return out;
}

U_EMRHEADER header_of(const std::string& bytes) {
    return record_as<U_EMRHEADER>(bytes, records_of(bytes).front());
}

uint32_t object_index(const std::string& bytes, const RecordView& r) { return field_at<uint32_t>(bytes, r.offset + 8); }

struct Picture {
    MemorySink sink;
    EmfWriter writer{sink, kDefaultDisplay, kFrame};
    const std::string& close() {
        EXPECT_TRUE(writer.close()) << writer.error();
        return sink.bytes;
    }
};

TEST(EmfWriter, HeaderCarriesFrameDisplayCountsAndBounds) {
    Picture p;
    p.writer.set_bk_mode(kTransparent);
    p.writer.select_object(p.writer.create_pen(PenStyle::solid, 3, 0x0000FF));
    p.writer.move_to(10, 20);
    p.writer.line_to(300, 5);
    const Point tri[] = {{-4, 50}, {40, 60}, {12, 700}};
    p.writer.polygon(tri);
    const std::string& bytes = p.close();

    const U_EMRHEADER h = header_of(bytes);
    EXPECT_EQ(h.emr.nSize, 108u);
    EXPECT_EQ(h.dSignature, U_ENHMETA_SIGNATURE);
    EXPECT_EQ(h.nVersion, 0x10000u);
    EXPECT_EQ(h.nBytes, bytes.size());
    EXPECT_EQ(h.nRecords, records_of(bytes).size());
    EXPECT_EQ(h.nHandles, 2);  // one pen slot and the reserved slot 0
    EXPECT_EQ(h.nDescription, 0u);
    EXPECT_EQ(h.offDescription, 0u);
    EXPECT_EQ(h.nPalEntries, 0u);
    EXPECT_EQ(h.rclFrame.left, kFrame.left);
    EXPECT_EQ(h.rclFrame.top, kFrame.top);
    EXPECT_EQ(h.rclFrame.right, kFrame.right);
    EXPECT_EQ(h.rclFrame.bottom, kFrame.bottom);
    EXPECT_EQ(h.szlDevice.cx, 1920);
    EXPECT_EQ(h.szlDevice.cy, 1080);
    EXPECT_EQ(h.szlMillimeters.cx, 527);
    EXPECT_EQ(h.szlMillimeters.cy, 296);
    EXPECT_EQ(h.szlMicrometers.cx, 527000);
    EXPECT_EQ(h.szlMicrometers.cy, 296000);
    // Union of the line (10,20)-(300,5) and the polygon, without the pen width.
    EXPECT_EQ(h.rclBounds.left, -4);
    EXPECT_EQ(h.rclBounds.top, 5);
    EXPECT_EQ(h.rclBounds.right, 300);
    EXPECT_EQ(h.rclBounds.bottom, 700);
    EXPECT_EQ(p.writer.bounds(), (Rect{-4, 5, 300, 700}));
    EXPECT_EQ(p.writer.size(), bytes.size());

    const auto eof = records_of(bytes).back();
    EXPECT_EQ(eof.size, 20u);
    EXPECT_EQ(field_at<uint32_t>(bytes, eof.offset + 8), 0u);    // nPalEntries
    EXPECT_EQ(field_at<uint32_t>(bytes, eof.offset + 12), 16u);  // offPalEntries, as GDI writes it
    EXPECT_EQ(field_at<uint32_t>(bytes, eof.offset + 16), 20u);  // nSizeLast
}

TEST(EmfWriter, EmptyPictureHasEmptyBoundsAndOnlyTheReservedSlot) {
    Picture p;
    const std::string& bytes = p.close();
    EXPECT_EQ(types_of(bytes), (std::vector<uint32_t>{U_EMR_HEADER, U_EMR_EOF}));
    const U_EMRHEADER h = header_of(bytes);
    EXPECT_EQ(h.nHandles, 1);
    EXPECT_EQ(h.rclBounds.left, 0);
    EXPECT_EQ(h.rclBounds.top, 0);
    EXPECT_EQ(h.rclBounds.right, -1);
    EXPECT_EQ(h.rclBounds.bottom, -1);
    EXPECT_EQ(h.nBytes, 128u);
}

TEST(EmfWriter, NullPenIsTheStockPenWithoutCreateRecord) {
    Picture p;
    const ObjectId pen = p.writer.create_pen(PenStyle::null, 0, 0);
    EXPECT_EQ(pen, kStockNullPen);
    EXPECT_EQ(p.writer.select_object(pen), kStockBlackPen);
    p.writer.delete_object(kStockBlackPen);  // stock: nothing written
    const ObjectId brush = p.writer.create_solid_brush(0x000000);
    EXPECT_EQ(p.writer.select_object(brush), kStockWhiteBrush);
    p.writer.delete_object(kStockWhiteBrush);
    const std::string& bytes = p.close();
    const auto recs = body(bytes);
    ASSERT_EQ(body_types(bytes),
              (std::vector<uint32_t>{U_EMR_SELECTOBJECT, U_EMR_CREATEBRUSHINDIRECT, U_EMR_SELECTOBJECT}));
    EXPECT_EQ(recs[0].size, 12u);
    EXPECT_EQ(object_index(bytes, recs[0]), 0x80000008u);
    EXPECT_EQ(object_index(bytes, recs[1]), 1u);
    EXPECT_EQ(object_index(bytes, recs[2]), 1u);
    EXPECT_EQ(header_of(bytes).nHandles, 2);
}

TEST(EmfWriter, ObjectsReachTheFileWhenSelectedAndFreedSlotsAreReused) {
    Picture p;
    EmfWriter& w = p.writer;
    const uint64_t header_only = w.size();
    const ObjectId a = w.create_pen(PenStyle::solid, 1, 0x10);
    const ObjectId b = w.create_solid_brush(0x20);
    const ObjectId unused = w.create_pen(PenStyle::solid, 9, 0x30);
    EXPECT_EQ(w.size(), header_only);  // nothing recorded yet
    w.select_object(a);                       // slot 1
    w.select_object(b);                       // slot 2
    const ObjectId c = w.create_pen(PenStyle::solid, 2, 0x40);
    EXPECT_EQ(w.select_object(c), a);         // slot 3
    w.delete_object(a);                       // frees slot 1
    w.delete_object(unused);                  // never selected: nothing written
    const ObjectId d = w.create_solid_brush(0x50);
    EXPECT_EQ(w.select_object(d), b);         // takes slot 1 again
    w.delete_object(b);                       // frees slot 2
    const ObjectId e = w.create_pen(PenStyle::solid, 3, 0x60);
    EXPECT_EQ(w.select_object(e), c);         // slot 2
    const std::string& bytes = p.close();

    struct Expected {
        uint32_t type, index;
    };
    const std::vector<Expected> expected = {
        {U_EMR_CREATEPEN, 1}, {U_EMR_SELECTOBJECT, 1}, {U_EMR_CREATEBRUSHINDIRECT, 2}, {U_EMR_SELECTOBJECT, 2},
        {U_EMR_CREATEPEN, 3}, {U_EMR_SELECTOBJECT, 3}, {U_EMR_DELETEOBJECT, 1},        {U_EMR_CREATEBRUSHINDIRECT, 1},
        {U_EMR_SELECTOBJECT, 1}, {U_EMR_DELETEOBJECT, 2}, {U_EMR_CREATEPEN, 2},         {U_EMR_SELECTOBJECT, 2},
    };
    const auto recs = body(bytes);
    ASSERT_EQ(recs.size(), expected.size());
    for (size_t i = 0; i < recs.size(); ++i) {
        EXPECT_EQ(recs[i].type, expected[i].type) << "record " << i;
        EXPECT_EQ(object_index(bytes, recs[i]), expected[i].index) << "record " << i;
    }
    EXPECT_EQ(header_of(bytes).nHandles, 4);  // slots 1..3 at the peak, plus slot 0
}

TEST(EmfWriter, ReselectingARecordedObjectWritesNoSecondCreate) {
    Picture p;
    const ObjectId a = p.writer.create_pen(PenStyle::solid, 1, 0);
    const ObjectId b = p.writer.create_pen(PenStyle::solid, 2, 0);
    p.writer.select_object(a);
    p.writer.select_object(b);
    EXPECT_EQ(p.writer.select_object(a), b);
    EXPECT_EQ(body_types(p.close()),
              (std::vector<uint32_t>{U_EMR_CREATEPEN, U_EMR_SELECTOBJECT, U_EMR_CREATEPEN, U_EMR_SELECTOBJECT,
                                     U_EMR_SELECTOBJECT}));
}

TEST(EmfWriter, UnknownOrDeletedObjectsSelectNothing) {
    Picture p;
    const ObjectId a = p.writer.create_solid_brush(1);
    p.writer.delete_object(a);
    EXPECT_EQ(p.writer.select_object(a), 0u);
    EXPECT_EQ(p.writer.select_object(12345), 0u);
    EXPECT_EQ(p.writer.select_object(kStockFlag | 9u), 0u);  // no stock object 9
    p.writer.delete_object(a);
    EXPECT_TRUE(body_types(p.close()).empty());
}

struct PenCase {
    PenStyle style;
    int32_t width;
    uint32_t color;
    uint32_t recorded_style;
    int32_t recorded_width;
};

class PenRecord : public ::testing::TestWithParam<PenCase> {};

TEST_P(PenRecord, HoldsStyleMagnitudeOfWidthAndColour) {
    const PenCase& c = GetParam();
    Picture p;
    p.writer.select_object(p.writer.create_pen(c.style, c.width, c.color));
    const std::string& bytes = p.close();
    const auto recs = body(bytes);
    ASSERT_EQ(recs[0].type, U_EMR_CREATEPEN);
    ASSERT_EQ(recs[0].size, 28u);
    const auto pen = record_as<U_EMRCREATEPEN>(bytes, recs[0]);
    EXPECT_EQ(pen.lopn.lopnStyle, c.recorded_style);
    EXPECT_EQ(pen.lopn.lopnWidth.x, c.recorded_width);
    EXPECT_EQ(pen.lopn.lopnWidth.y, 0);
    EXPECT_EQ(field_at<uint32_t>(bytes, recs[0].offset + 24), c.color);
}

INSTANTIATE_TEST_SUITE_P(
    Pens, PenRecord,
    ::testing::Values(PenCase{PenStyle::solid, 12, 0x0000FF, 0, 12}, PenCase{PenStyle::dot, 1, 0x123456, 2, 1},
                      PenCase{PenStyle::solid, -7, 0xABCDEF, 0, 7}, PenCase{PenStyle::solid, 0, 0, 0, 0},
                      PenCase{PenStyle::solid, std::numeric_limits<int32_t>::min(), 0, 0,
                              std::numeric_limits<int32_t>::max()}));

TEST(EmfWriter, BrushRecordIsSolidWithItsColour) {
    Picture p;
    p.writer.select_object(p.writer.create_solid_brush(0x336699));
    const std::string& bytes = p.close();
    const auto rec = body(bytes)[0];
    ASSERT_EQ(rec.type, U_EMR_CREATEBRUSHINDIRECT);
    EXPECT_EQ(rec.size, 24u);
    const auto brush = record_as<U_EMRCREATEBRUSHINDIRECT>(bytes, rec);
    EXPECT_EQ(brush.lb.lbStyle, U_BS_SOLID);
    EXPECT_EQ(field_at<uint32_t>(bytes, rec.offset + 16), 0x336699u);
    EXPECT_EQ(brush.lb.lbHatch, 0);
}

TEST(EmfWriter, FontRecordIsExtLogFontWithRequestedFieldsOnly) {
    Picture p;
    LogFont f;
    f.height = 17;
    f.escapement = f.orientation = 900;
    f.weight = 700;
    f.char_set = kSymbolCharset;
    f.face_name = "Times New Roman";
    p.writer.select_object(p.writer.create_font(f));
    const std::string& bytes = p.close();
    const auto rec = body(bytes)[0];
    ASSERT_EQ(rec.type, U_EMR_EXTCREATEFONTINDIRECTW);
    ASSERT_EQ(rec.size, 332u);
    const auto font = record_as<U_EMREXTCREATEFONTINDIRECTW>(bytes, rec);
    EXPECT_EQ(font.ihFont, 1u);
    const U_LOGFONT& lf = font.elfw.elfLogFont;
    EXPECT_EQ(lf.lfHeight, 17);
    EXPECT_EQ(lf.lfWidth, 0);
    EXPECT_EQ(lf.lfEscapement, 900);
    EXPECT_EQ(lf.lfOrientation, 900);
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfItalic + lf.lfUnderline + lf.lfStrikeOut + lf.lfOutPrecision + lf.lfClipPrecision + lf.lfQuality +
                  lf.lfPitchAndFamily,
              0);
    EXPECT_EQ(lf.lfCharSet, kSymbolCharset);
    const std::u16string face(reinterpret_cast<const char16_t*>(lf.lfFaceName), 16);
    EXPECT_EQ(face, std::u16string(u"Times New Roman\0", 16));
    for (uint16_t c : font.elfw.elfFullName) EXPECT_EQ(c, 0);
    for (uint16_t c : font.elfw.elfStyle) EXPECT_EQ(c, 0);
    const uint8_t* panose = reinterpret_cast<const uint8_t*>(&font.elfw.elfPanose);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(panose[i], 1) << "PANOSE byte " << i;
}

TEST(EmfWriter, LongFaceNameIsCutToThirtyOneCharacters) {
    Picture p;
    LogFont f;
    f.face_name = std::string(40, 'x');
    p.writer.select_object(p.writer.create_font(f));
    const std::string& bytes = p.close();
    const auto font = record_as<U_EMREXTCREATEFONTINDIRECTW>(bytes, body(bytes)[0]);
    EXPECT_EQ(font.elfw.elfLogFont.lfFaceName[30], 'x');
    EXPECT_EQ(font.elfw.elfLogFont.lfFaceName[31], 0);
}

struct PolygonCase {
    std::vector<Point> points;
    uint32_t type;  // 0: no record
};

class PolygonRecord : public ::testing::TestWithParam<PolygonCase> {};

TEST_P(PolygonRecord, PicksTheSmallestFormThatHoldsEveryPoint) {
    const PolygonCase& c = GetParam();
    Picture p;
    p.writer.polygon(c.points);
    const std::string& bytes = p.close();
    const auto recs = body(bytes);
    if (c.type == 0) {
        EXPECT_TRUE(recs.empty());
        EXPECT_EQ(header_of(bytes).rclBounds.right, -1);
        return;
    }
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].type, c.type);
    const size_t point_size = c.type == U_EMR_POLYGON16 ? 4 : 8;
    EXPECT_EQ(recs[0].size, 28 + point_size * c.points.size());
    const auto poly = record_as<U_EMRPOLYGON>(bytes, recs[0]);
    EXPECT_EQ(poly.cptl, c.points.size());
    Rect expect{c.points[0].x, c.points[0].y, c.points[0].x, c.points[0].y};
    for (size_t i = 0; i < c.points.size(); ++i) {
        const size_t at = recs[0].offset + 28 + point_size * i;
        const Point got = point_size == 4 ? Point{field_at<int16_t>(bytes, at), field_at<int16_t>(bytes, at + 2)}
                                          : Point{field_at<int32_t>(bytes, at), field_at<int32_t>(bytes, at + 4)};
        EXPECT_EQ(got, c.points[i]) << "point " << i;
        expect = {std::min(expect.left, got.x), std::min(expect.top, got.y), std::max(expect.right, got.x),
                  std::max(expect.bottom, got.y)};
    }
    EXPECT_EQ(poly.rclBounds.left, expect.left);
    EXPECT_EQ(poly.rclBounds.top, expect.top);
    EXPECT_EQ(poly.rclBounds.right, expect.right);
    EXPECT_EQ(poly.rclBounds.bottom, expect.bottom);
    const U_EMRHEADER h = header_of(bytes);
    EXPECT_EQ(h.rclBounds.left, expect.left);
    EXPECT_EQ(h.rclBounds.bottom, expect.bottom);
}

INSTANTIATE_TEST_SUITE_P(
    Polygons, PolygonRecord,
    ::testing::Values(PolygonCase{{}, 0}, PolygonCase{{{5, 5}}, 0}, PolygonCase{{{1, 2}, {3, 4}}, U_EMR_POLYGON16},
                      PolygonCase{{{32767, -32768}, {0, 0}, {-32768, 32767}}, U_EMR_POLYGON16},
                      PolygonCase{{{0, 0}, {32768, 0}, {5, 5}}, U_EMR_POLYGON},
                      PolygonCase{{{0, 0}, {0, -32769}, {5, 5}}, U_EMR_POLYGON},
                      PolygonCase{{{-2000000000, 7}, {2000000000, -9}, {1, 1}, {2, 2}}, U_EMR_POLYGON}));

TEST(EmfWriter, LinesAndStateRecords) {
    Picture p;
    p.writer.set_bk_mode(kTransparent);
    p.writer.set_text_color(0x00FF00);
    p.writer.move_to(100, 200);
    p.writer.line_to(50, 250);
    p.writer.line_to(70, 240);
    const std::string& bytes = p.close();
    const auto recs = body(bytes);
    ASSERT_EQ(body_types(bytes), (std::vector<uint32_t>{U_EMR_SETBKMODE, U_EMR_SETTEXTCOLOR, U_EMR_MOVETOEX,
                                                        U_EMR_LINETO, U_EMR_LINETO}));
    EXPECT_EQ(recs[0].size, 12u);
    EXPECT_EQ(field_at<uint32_t>(bytes, recs[0].offset + 8), 1u);
    EXPECT_EQ(field_at<uint32_t>(bytes, recs[1].offset + 8), 0x00FF00u);
    EXPECT_EQ(recs[2].size, 16u);
    EXPECT_EQ(field_at<int32_t>(bytes, recs[2].offset + 8), 100);
    EXPECT_EQ(field_at<int32_t>(bytes, recs[2].offset + 12), 200);
    EXPECT_EQ(field_at<int32_t>(bytes, recs[4].offset + 8), 70);
    EXPECT_EQ(field_at<int32_t>(bytes, recs[4].offset + 12), 240);
    // A lone move draws nothing; the lines span from their start to their end points.
    const U_EMRHEADER h = header_of(bytes);
    EXPECT_EQ(h.rclBounds.left, 50);
    EXPECT_EQ(h.rclBounds.top, 200);
    EXPECT_EQ(h.rclBounds.right, 100);
    EXPECT_EQ(h.rclBounds.bottom, 250);
}

LogFont arial(int32_t height) {
    LogFont f;
    f.height = height;
    f.weight = 400;
    f.face_name = "Arial";
    return f;
}

TEST(EmfWriter, TextIsExtTextOutWWithAdvancesAndCellBounds) {
    Picture p;
    p.writer.select_object(p.writer.create_font(arial(40)));
    p.writer.text_out(120, 156, "Plot AB");
    const std::string& bytes = p.close();
    const auto recs = body(bytes);
    ASSERT_EQ(recs.size(), 3u);
    const RecordView rec = recs[2];
    ASSERT_EQ(rec.type, U_EMR_EXTTEXTOUTW);
    const auto t = record_as<U_EMREXTTEXTOUTW>(bytes, rec);
    EXPECT_EQ(t.iGraphicsMode, 1u);
    EXPECT_FLOAT_EQ(t.exScale, static_cast<float>(527 * 100.0 / 1920));
    EXPECT_FLOAT_EQ(t.eyScale, static_cast<float>(296 * 100.0 / 1080));
    EXPECT_EQ(t.emrtext.ptlReference.x, 120);
    EXPECT_EQ(t.emrtext.ptlReference.y, 156);
    EXPECT_EQ(t.emrtext.nChars, 7u);
    EXPECT_EQ(t.emrtext.offString, 76u);
    EXPECT_EQ(t.emrtext.fOptions, 0u);
    EXPECT_EQ(field_at<U_RECTL>(bytes, rec.offset + 56).left, 0);
    EXPECT_EQ(field_at<U_RECTL>(bytes, rec.offset + 56).top, 0);
    EXPECT_EQ(field_at<U_RECTL>(bytes, rec.offset + 56).right, -1);
    EXPECT_EQ(field_at<U_RECTL>(bytes, rec.offset + 56).bottom, -1);
    const uint32_t off_dx = field_at<uint32_t>(bytes, rec.offset + 72);
    EXPECT_EQ(off_dx, 76u + 16u);  // 14 bytes of string padded to 16
    EXPECT_EQ(rec.size, off_dx + 7 * 4);
    std::u16string text;
    for (int i = 0; i < 7; ++i) text.push_back(field_at<char16_t>(bytes, rec.offset + 76 + 2 * i));
    EXPECT_EQ(text, u"Plot AB");
    std::vector<int32_t> dx;
    for (int i = 0; i < 7; ++i) dx.push_back(field_at<int32_t>(bytes, rec.offset + off_dx + 4 * i));
    EXPECT_EQ(dx, (std::vector<int32_t>{24, 8, 20, 10, 10, 24, 24}));
    // Bounds: the advances sum to 120; the cell is lfHeight high.
    EXPECT_EQ(t.rclBounds.left, 120);
    EXPECT_EQ(t.rclBounds.top, 156);
    EXPECT_EQ(t.rclBounds.right, 120 + 120 + 1);
    EXPECT_EQ(t.rclBounds.bottom, 156 + 40 + 1);
    const U_EMRHEADER h = header_of(bytes);
    EXPECT_EQ(h.rclBounds.right, 241);
    EXPECT_EQ(h.rclBounds.bottom, 197);
}

TEST(EmfWriter, RotatedTextKeepsUnrotatedBounds) {
    Picture p;
    LogFont f = arial(40);
    f.escapement = f.orientation = 900;
    p.writer.select_object(p.writer.create_font(f));
    p.writer.text_out(10, 20, "Plot AB");
    const std::string& bytes = p.close();
    const auto t = record_as<U_EMREXTTEXTOUTW>(bytes, body(bytes)[2]);
    EXPECT_EQ(t.rclBounds.right, 10 + 120 + 1);
    EXPECT_EQ(t.rclBounds.bottom, 20 + 40 + 1);
}

TEST(EmfWriter, SymbolTextIsRecordedInThePrivateUseArea) {
    Picture p;
    LogFont f;
    f.height = 20;
    f.char_set = kSymbolCharset;
    f.face_name = "Symbol";
    p.writer.select_object(p.writer.create_font(f));
    p.writer.text_out(0, 0, std::string("a\x01\xE5", 3));
    const std::string& bytes = p.close();
    const RecordView rec = body(bytes)[2];
    EXPECT_EQ(field_at<char16_t>(bytes, rec.offset + 76), 0xF061);
    EXPECT_EQ(field_at<char16_t>(bytes, rec.offset + 78), 0x0001);
    EXPECT_EQ(field_at<char16_t>(bytes, rec.offset + 80), 0xF0E5);
    EXPECT_EQ(field_at<uint32_t>(bytes, rec.offset + 72), 84u);  // 76 + 6 rounded up to 4
    EXPECT_EQ(rec.size, 84u + 12u);
}

TEST(EmfWriter, EmptyTextWritesNothing) {
    Picture p;
    p.writer.text_out(5, 5, "");
    EXPECT_TRUE(body(p.close()).empty());
}

// Counts what reaches it without keeping it, and whether it was committed.
class CountingSink final : public ByteSink {
public:
    bool write(const void*, size_t size) override {
        written += size;
        return true;
    }
    bool patch(uint64_t, const void*, size_t) override { return true; }
    bool commit() override {
        ++commits;
        return true;
    }
    std::string error() const override { return {}; }
    uint64_t written = 0;
    int commits = 0;
};

// Takes bytes until `room` runs out, then refuses every write with the system's words.
class FullSink final : public ByteSink {
public:
    explicit FullSink(uint64_t room) : room_(room) {}
    bool write(const void*, size_t size) override {
        if (full_ || size > room_) {
            full_ = true;
            return false;
        }
        room_ -= size;
        written += size;
        return true;
    }
    bool patch(uint64_t, const void*, size_t) override { return !full_; }
    bool commit() override {
        ++commits;
        return !full_;
    }
    std::string error() const override { return full_ ? "No space left on device" : ""; }
    uint64_t written = 0;
    int commits = 0;

private:
    uint64_t room_;
    bool full_ = false;
};

// The writer hands records over some at a time: a sink that fails on any of those writes,
// the first, one in the middle or the last before EMR_EOF, still fails the picture with the
// sink's reason and is never committed.
TEST(EmfWriter, ASinkThatFillsUpFailsThePictureWhereverItFills) {
    MemorySink whole;
    const auto draw = [](EmfWriter& w) {
        w.select_object(w.create_pen(PenStyle::solid, 1, 0x10));
        for (int i = 0; i < 20000; ++i) w.line_to(i, i % 700);
    };
    {
        EmfWriter w(whole, kDefaultDisplay, kFrame);
        draw(w);
        ASSERT_TRUE(w.close());
    }
    for (const uint64_t room : {uint64_t{0}, uint64_t{100}, whole.bytes.size() / 2, whole.bytes.size() - 21}) {
        FullSink sink(room);
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        draw(w);
        EXPECT_FALSE(w.close()) << "room " << room;
        EXPECT_EQ(w.error(), "No space left on device") << "room " << room;
        EXPECT_EQ(sink.commits, 0) << "room " << room;
        EXPECT_LE(sink.written, room);
    }
}

TEST(EmfWriter, RecordEndingExactlyAtTheLimitIsKeptOneWordMoreIsRefused) {
    constexpr uint64_t limit = 0xFFFFFFFFull;
    constexpr uint64_t eof = 20, move = 16;
    {
        CountingSink sink;
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        w.count_unwritten_bytes_for_test(limit - w.size() - eof - move);
        w.move_to(1, 1);
        EXPECT_TRUE(w.error().empty()) << w.error();
        EXPECT_TRUE(w.close()) << w.error();
        EXPECT_EQ(w.size(), limit);
        EXPECT_EQ(sink.commits, 1);
    }
    {
        CountingSink sink;
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        w.count_unwritten_bytes_for_test(limit - w.size() - eof - move + 4);
        const uint64_t before = sink.written;
        w.move_to(1, 1);
        EXPECT_EQ(sink.written, before);
        w.line_to(2, 2);  // nothing more after the refusal
        EXPECT_EQ(sink.written, before);
        EXPECT_FALSE(w.close());
        EXPECT_NE(w.error().find("4 GiB"), std::string::npos) << w.error();
        EXPECT_EQ(sink.commits, 0);
    }
}

TEST(EmfWriter, HugeRecordsAreRefusedBeforeTheyAreBuilt) {
    CountingSink sink;
    EmfWriter w(sink, kDefaultDisplay, kFrame);
    w.count_unwritten_bytes_for_test(0xFFFFFFFFull - 1000);
    std::vector<Point> points(300, Point{70000, 1});  // 28 + 2400 bytes: too much
    w.polygon(points);
    EXPECT_FALSE(w.error().empty());
    EXPECT_FALSE(w.close());
    EXPECT_EQ(sink.commits, 0);
}

TEST(EmfWriter, ObjectTableIsLimitedToWhatTheHeaderCanCount) {
    Picture p;
    for (int i = 0; i < 65534; ++i) p.writer.select_object(p.writer.create_solid_brush(static_cast<uint32_t>(i)));
    EXPECT_TRUE(p.writer.error().empty()) << p.writer.error();
    EXPECT_EQ(p.writer.select_object(p.writer.create_solid_brush(1)), 0u);
    EXPECT_NE(p.writer.error().find("too many objects"), std::string::npos) << p.writer.error();
    EXPECT_FALSE(p.writer.close());
}

TEST(EmfWriter, DisplayWithoutSizeIsRefused) {
    MemorySink sink;
    EmfWriter w(sink, ReferenceDisplay{0, 296, 1920, 1080}, kFrame);
    EXPECT_FALSE(w.close());
    EXPECT_NE(w.error().find("reference display"), std::string::npos);
    EXPECT_TRUE(sink.bytes.empty());
}

TEST(EmfWriter, CallsAfterCloseAreIgnored) {
    Picture p;
    const std::string bytes = p.close();
    p.writer.move_to(1, 2);
    p.writer.select_object(p.writer.create_pen(PenStyle::solid, 1, 0));
    EXPECT_TRUE(p.writer.close());
    EXPECT_EQ(p.sink.bytes, bytes);
}

// ---------------------------------------------------------------------------------------
// FileSink

TEST_F(FileSinkTest, CommitReplacesTheTargetAndLeavesNoTemporaryFile) {
    const auto target = dir_ / "graph.emf";
    spit(target, "old picture");
    MemorySink memory;
    {
        EmfWriter w(memory, kDefaultDisplay, kFrame);
        draw_something(w);
        ASSERT_TRUE(w.close());
    }
    FileSink sink(target.string());
    ASSERT_TRUE(sink.ok()) << sink.error();
    EmfWriter w(sink, kDefaultDisplay, kFrame);
    draw_something(w);
    EXPECT_EQ(slurp(target), "old picture");  // untouched until commit
    ASSERT_TRUE(w.close()) << w.error();
    EXPECT_EQ(slurp(target), memory.bytes);
    EXPECT_EQ(entries(), 1u);
    std::string error;
    EXPECT_TRUE(read_emf_file(target.string(), error)) << error;
}

TEST_F(FileSinkTest, MissingDirectoryFailsWithAReason) {
    const auto target = dir_ / "no-such-dir" / "graph.emf";
    FileSink sink(target.string());
    EXPECT_FALSE(sink.ok());
    // The reason is the system's own text, which differs between systems (the POSIX tests
    // check its words); it follows the name.
    const std::string named = "beside " + target.string() + ": ";
    const size_t at = sink.error().find(named);
    ASSERT_NE(at, std::string::npos) << sink.error();
    EXPECT_GT(sink.error().size(), at + named.size()) << sink.error();
    EmfWriter w(sink, kDefaultDisplay, kFrame);
    draw_something(w);
    EXPECT_FALSE(w.close());
    EXPECT_EQ(w.error(), sink.error());
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(FileSinkTest, FailedPictureKeepsTheOldFileAndRemovesTheTemporary) {
    const auto target = dir_ / "graph.emf";
    spit(target, "old picture");
    {
        FileSink sink(target.string());
        ASSERT_TRUE(sink.ok());
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        draw_something(w);
        w.count_unwritten_bytes_for_test(0xFFFFFFFFull);
        w.line_to(5, 5);
        EXPECT_FALSE(w.close());
        EXPECT_EQ(entries(), 2u);  // the temporary is still open here
    }
    EXPECT_EQ(slurp(target), "old picture");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(FileSinkTest, RenameFailureIsReportedAndKeepsWhatWasThere) {
    // A directory that comes in the way of the target while the picture is written cannot
    // be replaced by a file.
    const auto target = dir_ / "graph.emf";
    FileSink sink(target.string());
    ASSERT_TRUE(sink.ok()) << sink.error();
    std::filesystem::create_directory(target);
    spit(target / "inside", "kept");
    EmfWriter w(sink, kDefaultDisplay, kFrame);
    draw_something(w);
    EXPECT_FALSE(w.close());
    EXPECT_NE(w.error().find("cannot replace"), std::string::npos) << w.error();
    EXPECT_EQ(slurp(target / "inside"), "kept");
    EXPECT_EQ(entries(), 1u);
}

// The temporary's name has the writer's PID and a random part: a name planted in advance
// cannot be the one a run picks.
TEST_F(FileSinkTest, TemporaryNameIsNotACounter) {
    const auto target = dir_ / "graph.emf";
    for (int n = 0; n < 100; ++n)
        spit(dir_ / ("graph.emf.tmp" + std::to_string(::getpid()) + "-" + std::to_string(n)), "planted");
    std::vector<std::string> seen;
    for (int round = 0; round < 2; ++round) {
        FileSink sink(target.string());
        ASSERT_TRUE(sink.ok()) << sink.error();
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            if (name.find("planted") == std::string::npos && slurp(e.path()).empty()) seen.push_back(name);
        }
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        draw_something(w);
        ASSERT_TRUE(w.close()) << w.error();
    }
    const std::string prefix = "graph.emf.plotmint-tmp-" + std::to_string(::getpid()) + "-";
    ASSERT_EQ(seen.size(), 2u);
    for (const auto& name : seen) {
        EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
        EXPECT_EQ(name.size(), prefix.size() + 16) << name;
    }
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_EQ(entries(), 101u);
}

TEST_F(FileSinkTest, UnclosedWriterLeavesNoTrace) {
    const auto target = dir_ / "graph.emf";
    {
        FileSink sink(target.string());
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        draw_something(w);
    }
    EXPECT_EQ(entries(), 0u);
}

TEST(MemorySink, PatchOutsideTheWrittenBytesFails) {
    MemorySink sink;
    sink.write("abcdefgh", 8);
    EXPECT_TRUE(sink.patch(4, "XY", 2));
    EXPECT_EQ(sink.bytes, "abcdXYgh");
    EXPECT_FALSE(sink.patch(7, "XY", 2));
    EXPECT_FALSE(sink.patch(~uint64_t{0}, "XY", 2));
    EXPECT_EQ(sink.bytes, "abcdXYgh");
}


// The records the writer builds in place must be byte for byte what libUEMF's builders
// make of the same arguments (negative values, colours with every byte set, 16-bit limits).
TEST(EmfWriter, RecordsBuiltInPlaceMatchLibuemf) {
    Picture p;
    EmfWriter& w = p.writer;
    const ObjectId pen = w.create_pen(PenStyle::dot, -7, 0x00ABCDEF);
    const ObjectId brush = w.create_solid_brush(0x00FEDCBA);
    w.select_object(pen);
    w.select_object(brush);
    w.select_object(kStockNullPen);
    w.delete_object(pen);
    w.move_to(-2147483647 - 1, 2147483647);
    w.line_to(-5, 70000);
    w.set_text_color(0x00123456);
    const std::vector<Point> shape{{-32768, 32767}, {0, -1}, {12, 7}, {300, -300}, {32767, -32768}};
    w.polygon(shape);
    const std::string& bytes = p.close();

    std::vector<U_POINT16> pts;
    for (const Point& pt : shape) pts.push_back(point16_set(static_cast<int16_t>(pt.x), static_cast<int16_t>(pt.y)));
    const auto color = [](uint32_t c) {
        U_COLORREF r;
        std::memcpy(&r, &c, 4);
        return r;
    };
    const std::vector<std::string> expected{
        test::take_record(U_EMRCREATEPEN_set(1, logpen_set(U_PS_DOT, U_POINT{7, 0}, color(0x00ABCDEF)))),
        test::take_record(U_EMRSELECTOBJECT_set(1)),
        test::take_record(U_EMRCREATEBRUSHINDIRECT_set(2, logbrush_set(U_BS_SOLID, color(0x00FEDCBA), 0))),
        test::take_record(U_EMRSELECTOBJECT_set(2)),
        test::take_record(U_EMRSELECTOBJECT_set(kStockNullPen)),
        test::take_record(U_EMRDELETEOBJECT_set(1)),
        test::take_record(U_EMRMOVETOEX_set(point32_set(-2147483647 - 1, 2147483647))),
        test::take_record(U_EMRLINETO_set(point32_set(-5, 70000))),
        test::take_record(U_EMRSETTEXTCOLOR_set(color(0x00123456))),
        test::take_record(U_EMRPOLYGON16_set(U_RECTL{-32768, -32768, 32767, 32767}, 5, pts.data())),
    };
    const auto recs = body(bytes);
    ASSERT_EQ(recs.size(), expected.size());
    for (size_t i = 0; i < recs.size(); ++i)
        EXPECT_EQ(bytes.substr(recs[i].offset, recs[i].size), expected[i]) << "record " << i;
}

}  // namespace
}  // namespace plotmint
