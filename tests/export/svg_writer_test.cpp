// The SVG writer read back with an XML parser: what a reader of the file gets.
#include "metafile/svg_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "metafile/font_geometry.h"
#include "metafile/picture_size.h"
#include "metafile/text_metrics.h"

using namespace plotmint;

namespace {

namespace fs = std::filesystem;

struct Element {
    QString name;
    QXmlStreamAttributes attributes;
    QString text;
    int depth = 0;
    QString attr(const char* n) const { return attributes.value(QLatin1String(n)).toString(); }
    bool has(const char* n) const { return attributes.hasAttribute(QLatin1String(n)); }
};

// Every element in document order; fails the test when the document is not well-formed.
std::vector<Element> parse(const std::string& svg) {
    std::vector<Element> out;
    QXmlStreamReader xml(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
    int depth = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            out.push_back({xml.name().toString(), xml.attributes(), {}, depth});
            if (xml.name() == u"text") {
                out.back().text = xml.readElementText();
                continue;
            }
            ++depth;
        } else if (xml.isEndElement()) {
            --depth;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << "\n" << svg.substr(0, 2000);
    return out;
}

std::vector<Element> named(const std::vector<Element>& all, const char* name) {
    std::vector<Element> out;
    for (const Element& e : all)
        if (e.name == QLatin1String(name)) out.push_back(e);
    return out;
}

std::vector<double> numbers(const QString& list) {
    std::vector<double> out;
    for (const QString& n : list.split(u' ', Qt::SkipEmptyParts)) out.push_back(n.toDouble());
    return out;
}

constexpr int32_t kOpaqueMode = kTransparent + 1;  // OPAQUE
const ReferenceDisplay kDisplay{100, 100, 1000, 1000};  // ten logical units a millimetre

EmfPicture make_picture(const std::function<void(EmfWriter&)>& draw, Rect frame = Rect{0, 0, 3000, 1500}) {
    MemorySink sink;
    {
        EmfWriter writer(sink, kDisplay, frame);
        draw(writer);
        EXPECT_TRUE(writer.close());
    }
    std::string error;
    auto picture = read_emf(sink.bytes, error);
    EXPECT_TRUE(picture) << error;
    return *picture;
}

std::string svg_of(const EmfPicture& picture) {
    MemorySink sink;
    std::string error;
    EXPECT_TRUE(write_svg(picture, sink, error)) << error;
    return sink.bytes;
}

LogFont font(const char* face, int32_t height, uint8_t char_set = 0, int32_t escapement = 0) {
    LogFont f;
    f.height = height;
    f.weight = 400;
    f.face_name = face;
    f.char_set = char_set;
    f.escapement = escapement;
    f.orientation = escapement;
    return f;
}

struct TextCase {
    const char* name;
    LogFont font;
    std::string bytes;
    bool opaque;
    QString shown;
    // Which characters of `bytes` are shown (the others have no character in the face).
    std::vector<size_t> shown_index;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class SvgText : public ::testing::TestWithParam<TextCase> {};

TEST_P(SvgText, IsOneElementPerRunWithAPositionPerCharacterOnTheBaseline) {
    const TextCase& c = GetParam();
    const Point at{20, 40};
    const EmfPicture picture = make_picture([&](EmfWriter& w) {
        w.select_object(w.create_font(c.font));
        w.set_bk_mode(c.opaque ? kOpaqueMode : kTransparent);
        w.set_text_color(0x0000FF);
        w.text_out(at.x, at.y, c.bytes);
    });
    const auto all = parse(svg_of(picture));
    const auto texts = named(all, "text");
    ASSERT_EQ(texts.size(), 1u);
    const Element& t = texts[0];
    EXPECT_EQ(t.text, c.shown);
    EXPECT_EQ(t.attr("fill"), QStringLiteral("#ff0000"));

    // One x per character shown, each the reference plus the advances before it.
    const std::vector<int32_t> dx = text_advances(c.font, c.bytes);
    std::vector<double> expected;
    for (size_t i : c.shown_index) {
        int64_t x = at.x;
        for (size_t k = 0; k < i; ++k) x += dx[k];
        expected.push_back(static_cast<double>(x));
    }
    EXPECT_EQ(numbers(t.attr("x")), expected);
    EXPECT_NEAR(t.attr("y").toDouble(), at.y + baseline_offset(c.font), 0.001);
    EXPECT_NEAR(t.attr("font-size").toDouble(), em_height(c.font), 0.001);

    if (c.font.escapement != 0) {
        EXPECT_EQ(t.attr("transform"), QStringLiteral("rotate(%1 20 40)").arg(-c.font.escapement / 10));
    } else {
        EXPECT_FALSE(t.has("transform"));
    }
    // An opaque run's background is one rectangle under the whole run, a cell high.
    const auto rects = named(all, "rect");
    ASSERT_EQ(rects.size(), c.opaque ? 1u : 0u);
    if (c.opaque) {
        int64_t run = 0;
        for (int32_t d : dx) run += d;
        EXPECT_EQ(rects[0].attr("width").toDouble(), static_cast<double>(run));
        EXPECT_NEAR(rects[0].attr("height").toDouble(), cell_height(c.font), 0.001);
        EXPECT_EQ(rects[0].attr("x").toDouble(), at.x);
        EXPECT_EQ(rects[0].attr("y").toDouble(), at.y);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SvgText,
    ::testing::Values(
        TextCase{"arial", font("Arial", -20), "Plot", false, QStringLiteral("Plot"), {0, 1, 2, 3}},
        TextCase{"spaces_kept", font("Arial", 30), "a  b", false, QStringLiteral("a  b"), {0, 1, 2, 3}},
        TextCase{"markup_escaped", font("Times New Roman", 30), "a<b & \"c\">", false,
                 QStringLiteral("a<b & \"c\">"), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        TextCase{"cp1252", font("Arial", 30), "Caf\xE9 \x80", false, QStringLiteral("Café €"), {0, 1, 2, 3, 4, 5}},
        TextCase{"symbol_is_greek", font("Symbol", 40, kSymbolCharset), "abgdp", false,
                 QStringLiteral("αβγδπ"), {0, 1, 2, 3, 4}},
        // 0xF0 has no character in the Symbol face: left blank, the next keeps its place.
        TextCase{"symbol_gap", font("Symbol", 40, kSymbolCharset), "a\xF0" "b", false, QStringLiteral("αβ"), {0, 2}},
        TextCase{"rotated", font("Arial", 30, 0, 900), "Up", false, QStringLiteral("Up"), {0, 1}},
        TextCase{"opaque", font("Courier New", 30), "Hi", true, QStringLiteral("Hi"), {0, 1}}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(SvgFonts, NameTheWindowsFaceThenItsTwinAndSymbolsStandIns) {
    const EmfPicture picture = make_picture([](EmfWriter& w) {
        w.set_bk_mode(kTransparent);
        w.select_object(w.create_font(font("Arial", 30)));
        w.text_out(0, 0, "A");
        w.select_object(w.create_font(font("Symbol", 30, kSymbolCharset)));
        w.text_out(0, 50, "a");
        w.select_object(w.create_font(font("Unknown Face", 30)));
        w.text_out(0, 100, "B");
    });
    const auto texts = named(parse(svg_of(picture)), "text");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].attr("font-family"), QStringLiteral("Arial, Liberation Sans"));
    const QString symbol = texts[1].attr("font-family");
    EXPECT_TRUE(symbol.startsWith(QStringLiteral("Nimbus Roman, "))) << symbol.toStdString();
    EXPECT_TRUE(symbol.endsWith(QStringLiteral(", serif"))) << symbol.toStdString();
    EXPECT_EQ(texts[2].attr("font-family"), QStringLiteral("Unknown Face"));
}

struct FrameCase {
    Rect frame;
    const char* view_box;
    const char* width;
    const char* height;
};

class SvgFrame : public ::testing::TestWithParam<FrameCase> {};

TEST_P(SvgFrame, ViewBoxIsTheLogicalFrameAndTheSizeTheFrameInMillimetres) {
    const FrameCase& c = GetParam();
    const EmfPicture picture = make_picture([](EmfWriter& w) { w.move_to(0, 0); }, c.frame);
    const auto all = parse(svg_of(picture));
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].name, QStringLiteral("svg"));
    EXPECT_EQ(all[0].attr("viewBox"), QLatin1String(c.view_box));
    EXPECT_EQ(all[0].attr("width"), QLatin1String(c.width));
    EXPECT_EQ(all[0].attr("height"), QLatin1String(c.height));
    // The size is the frame's to the hundredth of a millimetre, as the metafile states it.
    EXPECT_DOUBLE_EQ(all[0].attr("width").chopped(2).toDouble(), picture_width_mm(picture));
    EXPECT_DOUBLE_EQ(all[0].attr("height").chopped(2).toDouble(), picture_height_mm(picture));
}

INSTANTIATE_TEST_SUITE_P(Frames, SvgFrame,
                         ::testing::Values(FrameCase{{0, 0, 3000, 1500}, "0 0 300 150", "30mm", "15mm"},
                                           FrameCase{{1000, 500, 4000, 2000}, "100 50 300 150", "30mm", "15mm"},
                                           FrameCase{{0, 0, 1234, 567}, "0 0 123 57", "12.34mm", "5.67mm"},
                                           FrameCase{{-2500, -100, 125000, 99}, "-250 -10 12750 20", "1275mm",
                                                     "1.99mm"}));

struct PenCase {
    const char* name;
    PenStyle style;
    int32_t width;
    // Attributes of the group the line is drawn in; empty: no line is drawn.
    std::vector<std::pair<const char*, const char*>> attributes;
};

void PrintTo(const PenCase& c, std::ostream* os) { *os << c.name; }

class SvgPen : public ::testing::TestWithParam<PenCase> {};

TEST_P(SvgPen, DrawsLinesAsThePreviewDoes) {
    const PenCase& c = GetParam();
    const EmfPicture picture = make_picture([&](EmfWriter& w) {
        w.select_object(w.create_pen(c.style, c.width, 0x123456));
        w.move_to(10, 20);
        w.line_to(110, 20);
        w.line_to(110, 120);
    });
    const auto all = parse(svg_of(picture));
    const auto paths = named(all, "path");
    if (c.attributes.empty()) {
        EXPECT_TRUE(paths.empty());
        return;
    }
    ASSERT_EQ(paths.size(), 1u);
    // A solid line goes on from the last one's end; a dotted one starts its pattern afresh.
    EXPECT_EQ(paths[0].attr("d"), c.style == PenStyle::dot ? QStringLiteral("M10 20L110 20M110 20L110 120")
                                                           : QStringLiteral("M10 20L110 20L110 120"));
    const auto groups = named(all, "g");
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].attr("stroke"), QStringLiteral("#563412"));
    EXPECT_EQ(groups[0].attr("fill"), QStringLiteral("none"));
    EXPECT_EQ(groups[0].attr("stroke-linejoin"), QStringLiteral("round"));
    for (const auto& [key, value] : c.attributes)
        EXPECT_EQ(groups[0].attr(key), QLatin1String(value)) << key;
}

INSTANTIATE_TEST_SUITE_P(
    Pens, SvgPen,
    ::testing::Values(
        PenCase{"hairline", PenStyle::solid, 0,
                {{"stroke-width", "1"}, {"vector-effect", "non-scaling-stroke"}, {"stroke-linecap", "round"},
                 {"stroke-dasharray", ""}}},
        PenCase{"wide", PenStyle::solid, 7,
                {{"stroke-width", "7"}, {"vector-effect", ""}, {"stroke-linecap", "round"}, {"stroke-dasharray", ""}}},
        PenCase{"dotted_hairline", PenStyle::dot, 0,
                {{"stroke-width", "1"}, {"stroke-linecap", "butt"}, {"stroke-dasharray", "1 1"}}},
        PenCase{"dotted_wide", PenStyle::dot, 10,
                {{"stroke-width", "10"}, {"stroke-linecap", "round"}, {"stroke-dasharray", "0.01 19.99"}}},
        PenCase{"null", PenStyle::null, 3, {}}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(SvgFill, IsAlternateWithTheBrushAndPenInForce) {
    const EmfPicture picture = make_picture([](EmfWriter& w) {
        w.select_object(kStockNullPen);
        w.select_object(w.create_solid_brush(0x00FF00));
        const Point square[] = {{100, 25}, {200, 25}, {200, 125}, {100, 125}};
        w.polygon(square);
        w.select_object(w.create_pen(PenStyle::solid, 2, 0x0000FF));
        w.select_object(kStockFlag | 5u);  // NULL_BRUSH
        const Point tri[] = {{0, 0}, {50, 0}, {0, 50}};
        w.polygon(tri);
    });
    const auto all = parse(svg_of(picture));
    const auto polygons = named(all, "polygon");
    ASSERT_EQ(polygons.size(), 2u);
    EXPECT_EQ(polygons[0].attr("points"), QStringLiteral("100,25 200,25 200,125 100,125"));
    const auto groups = named(all, "g");
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].attr("fill"), QStringLiteral("#00ff00"));
    EXPECT_EQ(groups[0].attr("fill-rule"), QStringLiteral("evenodd"));
    EXPECT_EQ(groups[0].attr("stroke"), QStringLiteral("none"));
    EXPECT_EQ(groups[1].attr("fill"), QStringLiteral("none"));
    EXPECT_EQ(groups[1].attr("stroke"), QStringLiteral("#ff0000"));
}

class SvgFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("plotmint_svg_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    static void put(const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }
    static std::string get(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }
    fs::path dir_;
};

EmfPicture mixed_picture() {
    return make_picture([](EmfWriter& w) {
        w.select_object(w.create_pen(PenStyle::solid, 3, 0x000000));
        w.move_to(0, 0);
        w.line_to(300, 150);
        w.select_object(w.create_solid_brush(0x00FFFF));
        const Point p[] = {{10, 10}, {60, 10}, {60, 60}};
        w.polygon(p);
        w.select_object(w.create_font(font("Symbol", 40, kSymbolCharset)));
        w.text_out(20, 40, "abgdp");
    });
}

TEST_F(SvgFile, StreamedFromTheMetafileIsTheSameAsFromMemory) {
    const EmfPicture picture = mixed_picture();
    put(dir_ / "a.emf", picture.bytes);
    std::string error;
    ASSERT_TRUE(convert_emf_file_to_svg((dir_ / "a.emf").string(), (dir_ / "a.svg").string(), error)) << error;
    EXPECT_EQ(get(dir_ / "a.svg"), svg_of(picture));
    EXPECT_EQ(entries(), 2u) << "no temporary file is left";
}

TEST_F(SvgFile, DamagedMetafileLeavesTheOldSvgAndNoTemporaryFile) {
    const EmfPicture picture = mixed_picture();
    // Cut off inside the last records: the walk refuses it after some records were played.
    put(dir_ / "cut.emf", picture.bytes.substr(0, picture.bytes.size() - 24));
    put(dir_ / "a.svg", "old");
    std::string error;
    EXPECT_FALSE(convert_emf_file_to_svg((dir_ / "cut.emf").string(), (dir_ / "a.svg").string(), error));
    EXPECT_NE(error.find("cut.emf"), std::string::npos) << error;
    EXPECT_EQ(get(dir_ / "a.svg"), "old");
    EXPECT_FALSE(convert_emf_file_to_svg((dir_ / "none.emf").string(), (dir_ / "a.svg").string(), error));
    EXPECT_EQ(get(dir_ / "a.svg"), "old");
    EXPECT_EQ(entries(), 2u);
    // Nor is a folder replaced.
    fs::create_directories(dir_ / "taken");
    put(dir_ / "a.emf", picture.bytes);
    EXPECT_FALSE(convert_emf_file_to_svg((dir_ / "a.emf").string(), (dir_ / "taken").string(), error));
    EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
}

TEST(SvgOfAPictureWithoutBytes, IsRefusedNotWrittenEmpty) {
    EmfPicture header = mixed_picture();
    header.bytes.clear();  // as validate_emf_file returns it
    MemorySink sink;
    std::string error;
    EXPECT_FALSE(write_svg(header, sink, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
