#include "metafile/emf_player.h"
#include "metafile/emf_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "emf_test_util.h"
#include "recording_canvas.h"

namespace plotmint {
namespace {

using test::put_at;
using test::RecordingCanvas;
using test::take_record;

const std::vector<std::string> kInitialState = {
    "pen solid 0 #000000", "brush #ffffff", "font \"System\" h=16 esc=0 weight=700 charset=0",
    "text_color #000000",  "bk_mode 2",
};

std::vector<std::string> after_initial_state(const std::vector<std::string>& calls) {
    EXPECT_GE(calls.size(), kInitialState.size());
    EXPECT_TRUE(std::equal(kInitialState.begin(), kInitialState.end(), calls.begin()));
    return {calls.begin() + static_cast<std::ptrdiff_t>(kInitialState.size()), calls.end()};
}

std::vector<std::string> play(const std::string& bytes, bool expect_ok = true, std::string* error_out = nullptr) {
    std::string error;
    const auto picture = read_emf(bytes, error);
    EXPECT_TRUE(picture) << error;
    if (!picture) return {};
    RecordingCanvas canvas;
    EXPECT_EQ(play_emf(*picture, canvas, &error), expect_ok) << error;
    if (error_out) *error_out = error;
    return after_initial_state(canvas.calls);
}

TEST(PlayEmf, WhatTheWriterRecordsComesBackAsCanvasCalls) {
    MemorySink sink;
    EmfWriter w(sink, kDefaultDisplay, Rect{0, 0, 1000, 1000});
    w.set_bk_mode(kTransparent);
    EXPECT_EQ(w.select_object(w.create_pen(PenStyle::null, 0, 0)), kStockBlackPen);
    const ObjectId brush = w.create_solid_brush(0x0000FF);
    w.delete_object(w.select_object(brush));
    const Point square[] = {{10, 10}, {90, 10}, {90, 90}, {10, 90}};
    w.polygon(square);
    const ObjectId pen = w.create_pen(PenStyle::dot, -3, 0x00FF00);
    w.delete_object(w.select_object(pen));
    w.move_to(5, 6);
    w.line_to(50, 60);
    w.line_to(70000, -70000);
    const Point wide[] = {{0, 0}, {100000, 0}, {0, 5}};
    w.polygon(wide);
    w.set_text_color(0x808080);
    LogFont f;
    f.height = 40;
    f.escapement = f.orientation = 900;
    f.face_name = "Arial";
    w.delete_object(w.select_object(w.create_font(f)));
    w.text_out(120, 156, "Plot AB");
    LogFont s;
    s.height = 20;
    s.char_set = kSymbolCharset;
    s.face_name = "Symbol";
    w.delete_object(w.select_object(w.create_font(s)));
    w.text_out(1, 2, "p");
    // The brush selected again after the pen and fonts came and went.
    const ObjectId white = w.create_solid_brush(0xFFFFFF);
    w.delete_object(w.select_object(white));
    ASSERT_TRUE(w.close()) << w.error();

    EXPECT_EQ(play(sink.bytes), (std::vector<std::string>{
                                    "bk_mode 1",
                                    "pen null 0 #000000",
                                    "brush #ff0000",
                                    "polygon 10,10 90,10 90,90 10,90",
                                    "pen dot 3 #00ff00",
                                    "line 5,6 50,60",
                                    "line 50,60 70000,-70000",
                                    "polygon 0,0 100000,0 0,5",
                                    "text_color #808080",
                                    "font \"Arial\" h=40 esc=900 weight=0 charset=0",
                                    "text 120,156 \"Plot AB\" dx 24 8 20 10 10 24 24",
                                    "font \"Symbol\" h=20 esc=0 weight=0 charset=2",
                                    "text 1,2 \"\\uf070\" dx 9",
                                    "brush #ffffff",
                                }));
}

TEST(PlayEmf, StockObjectsHaveTheirGdiMeaning) {
    const std::string bytes = test::emf_from_records(
        {take_record(U_EMRSELECTOBJECT_set(U_NULL_BRUSH)), take_record(U_EMRSELECTOBJECT_set(U_WHITE_PEN)),
         take_record(U_EMRSELECTOBJECT_set(U_BLACK_BRUSH)), take_record(U_EMRSELECTOBJECT_set(U_NULL_PEN)),
         take_record(U_EMRSELECTOBJECT_set(U_BLACK_PEN)), take_record(U_EMRSELECTOBJECT_set(U_WHITE_BRUSH)),
         take_record(U_EMRSELECTOBJECT_set(U_DEFAULT_PALETTE))},
        1);
    EXPECT_EQ(play(bytes), (std::vector<std::string>{"brush null", "pen solid 0 #ffffff", "brush #000000",
                                                     "pen null 0 #000000", "pen solid 0 #000000", "brush #ffffff"}));
}

TEST(PlayEmf, RecordsItDoesNotDrawArePassedOver) {
    const std::string bytes = test::emf_from_records(
        {take_record(U_EMRSETMAPMODE_set(U_MM_TEXT)), take_record(U_EMRCOMMENT_set(8, "abcdefgh")),
         take_record(U_EMRMOVETOEX_set(point32_set(1, 1))), take_record(U_EMRLINETO_set(point32_set(2, 2)))},
        1);
    EXPECT_EQ(play(bytes), (std::vector<std::string>{"line 1,1 2,2"}));
}

TEST(PlayEmf, SelectingAnEmptySlotStopsWithAReasonAfterDrawingWhatCameBefore) {
    const std::string bytes = test::emf_from_records(
        {take_record(U_EMRLINETO_set(point32_set(7, 8))),
         take_record(U_EMRCREATEPEN_set(1, logpen_set(U_PS_SOLID, U_POINT{2, 0}, colorref3_set(1, 2, 3)))),
         take_record(U_EMRDELETEOBJECT_set(1)), take_record(U_EMRSELECTOBJECT_set(1)),
         take_record(U_EMRLINETO_set(point32_set(9, 9)))},
        2);
    std::string error;
    EXPECT_EQ(play(bytes, false, &error), (std::vector<std::string>{"line 0,0 7,8"}));
    EXPECT_NE(error.find("selects object 1, which does not exist"), std::string::npos) << error;
}

TEST(PlayEmf, DeletingTheSelectedObjectKeepsItOnTheCanvasAndFreesTheSlot) {
    const std::string bytes = test::emf_from_records(
        {take_record(U_EMRCREATEPEN_set(1, logpen_set(U_PS_SOLID, U_POINT{4, 0}, colorref3_set(255, 0, 0)))),
         take_record(U_EMRSELECTOBJECT_set(1)), take_record(U_EMRDELETEOBJECT_set(1)),
         take_record(U_EMRLINETO_set(point32_set(1, 0))),
         take_record(U_EMRCREATEBRUSHINDIRECT_set(1, logbrush_set(U_BS_NULL, colorref3_set(0, 0, 0), 0))),
         take_record(U_EMRSELECTOBJECT_set(1))},
        2);
    EXPECT_EQ(play(bytes), (std::vector<std::string>{"pen solid 4 #ff0000", "line 0,0 1,0", "brush null"}));
}

TEST(PlayEmf, TextWithoutAdvancesIsSpacedByTheFont) {
    U_LOGFONT lf{};
    lf.lfHeight = 40;
    const char16_t arial[] = u"Arial";
    std::copy(std::begin(arial), std::end(arial), lf.lfFaceName);
    U_LOGFONT_PANOSE elfw = logfont_panose_set(lf, nullptr, nullptr, 0, U_PAN_ALL1);
    std::string rec(72, '\0');
    put_at<uint32_t>(rec, 0, U_EMR_EXTTEXTOUTW);
    put_at<uint32_t>(rec, 4, 72);
    put_at<int32_t>(rec, 36, 5);                 // reference x
    put_at<int32_t>(rec, 40, 6);                 // reference y
    put_at<uint32_t>(rec, 44, 4);                // nChars
    put_at<uint32_t>(rec, 48, 60);               // offString
    put_at<uint32_t>(rec, 52, U_ETO_NO_RECT);    // offDx moves to byte 56
    put_at<uint32_t>(rec, 56, 0);                // no advances
    for (int i = 0; i < 4; ++i) put_at<char16_t>(rec, 60 + 2 * i, u"Plot"[i]);
    const std::string bytes = test::emf_from_records(
        {take_record(U_EMREXTCREATEFONTINDIRECTW_set(1, nullptr, reinterpret_cast<const char*>(&elfw))),
         take_record(U_EMRSELECTOBJECT_set(1)), rec},
        2);
    const auto calls = play(bytes);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], "text 5,6 \"Plot\" dx 24 8 20 10");
}

TEST(PlayEmf, PdyAdvancesTakeEveryOtherValue) {
    std::string rec(76 + 4 + 16, '\0');
    put_at<uint32_t>(rec, 0, U_EMR_EXTTEXTOUTW);
    put_at<uint32_t>(rec, 4, static_cast<uint32_t>(rec.size()));
    put_at<uint32_t>(rec, 44, 2);
    put_at<uint32_t>(rec, 48, 76);
    put_at<uint32_t>(rec, 52, U_ETO_PDY);
    put_at<uint32_t>(rec, 72, 80);
    put_at<char16_t>(rec, 76, u'a');
    put_at<char16_t>(rec, 78, u'b');
    put_at<int32_t>(rec, 80, 11);
    put_at<int32_t>(rec, 84, 99);
    put_at<int32_t>(rec, 88, 12);
    put_at<int32_t>(rec, 92, 98);
    EXPECT_EQ(play(test::emf_from_records({rec}, 1)), (std::vector<std::string>{"text 0,0 \"ab\" dx 11 12"}));
}

TEST(PlayEmf, UncheckedPictureIsCheckedWhilePlaying) {
    // A picture built by hand rather than by read_emf: the bad index must still be caught.
    EmfPicture picture;
    picture.handle_count = 1;
    picture.bytes = test::emf_from_records({take_record(U_EMRSELECTOBJECT_set(5))}, 1);
    RecordingCanvas canvas;
    std::string error;
    EXPECT_FALSE(play_emf(picture, canvas, &error));
    EXPECT_NE(error.find("outside the object table"), std::string::npos) << error;
    picture.bytes.resize(picture.bytes.size() - 2);
    EXPECT_FALSE(play_emf(picture, canvas, &error));
}

// The same picture played from its file, as it streams, and from memory.
struct FileCase {
    const char* name;
    std::string bytes;
    const char* error;  // part of the reason when the picture is refused; empty when it plays
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class PlayEmfFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(PlayEmfFile, DrawsWhatPlayingFromMemoryDrawsAndStopsWhereTheChecksStop) {
    const FileCase& c = GetParam();
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("plotmint_play_" + std::to_string(::getpid()) + "_" + c.name + ".emf");
    std::ofstream(path, std::ios::binary) << c.bytes;
    RecordingCanvas from_file;
    std::string error;
    bool headed = false;
    const auto header = play_emf_file(path.string(), from_file, error, [&](const EmfPicture& h) {
        headed = true;
        EXPECT_TRUE(h.bytes.empty());
        EXPECT_TRUE(from_file.calls.empty()) << "the header comes before anything is drawn";
    });
    std::filesystem::remove(path);
    EXPECT_TRUE(headed);
    // From memory: the picture as read_emf would check it, then played.
    EmfPicture in_memory;
    in_memory.bytes = c.bytes;
    in_memory.handle_count = 2;
    RecordingCanvas from_memory;
    std::string memory_error;
    play_emf(in_memory, from_memory, &memory_error);
    if (*c.error == 0) {
        ASSERT_TRUE(header) << error;
        EXPECT_EQ(header->frame.right, 1000);
        EXPECT_EQ(header->handle_count, 2u);
    } else {
        EXPECT_FALSE(header);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    EXPECT_EQ(from_file.calls, from_memory.calls);
    EXPECT_GT(from_file.calls.size(), kInitialState.size());
}

std::string with_junk_after_eof() {
    std::string bytes = test::emf_from_records({take_record(U_EMRLINETO_set(point32_set(7, 8)))}, 2);
    bytes += std::string(16, '\0');
    put_at<uint32_t>(bytes, offsetof(U_EMRHEADER, nBytes), static_cast<uint32_t>(bytes.size()));
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, PlayEmfFile,
    ::testing::Values(
        FileCase{"lines_and_pen",
                 test::emf_from_records(
                     {take_record(U_EMRLINETO_set(point32_set(7, 8))),
                      take_record(U_EMRCREATEPEN_set(1, logpen_set(U_PS_DOT, U_POINT{2, 0}, colorref3_set(1, 2, 3)))),
                      take_record(U_EMRSELECTOBJECT_set(1)), take_record(U_EMRLINETO_set(point32_set(9, 9)))},
                     2),
                 ""},
        FileCase{"empty_slot",
                 test::emf_from_records({take_record(U_EMRLINETO_set(point32_set(7, 8))),
                                         take_record(U_EMRSELECTOBJECT_set(1)),
                                         take_record(U_EMRLINETO_set(point32_set(9, 9)))},
                                        2),
                 "selects object 1, which does not exist"},
        FileCase{"junk_after_eof", with_junk_after_eof(), "follow EMR_EOF"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(PlayEmfFile, MissingFileIsRefusedWithItsName) {
    RecordingCanvas canvas;
    std::string error;
    EXPECT_FALSE(play_emf_file("/nonexistent/plotmint.emf", canvas, error));
    EXPECT_NE(error.find("/nonexistent/plotmint.emf"), std::string::npos) << error;
    EXPECT_TRUE(canvas.calls.empty());
}

}  // namespace
}  // namespace plotmint
