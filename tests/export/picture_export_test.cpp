#include "app/export/picture_export.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QPainter>
#include <QXmlStreamReader>

#include "metafile/emf_writer.h"

using namespace plotmint;

namespace {

// 30 x 15 mm on a display of 10 pixels a millimetre: 300 x 150 logical units, with a green
// square over x 100..200, y 25..125 and the word "Plot" in Arial at (20, 40).
EmfPicture sample_picture(Rect frame = Rect{0, 0, 3000, 1500}) {
    MemorySink sink;
    {
        EmfWriter writer(sink, ReferenceDisplay{100, 100, 1000, 1000}, frame);
        writer.select_object(kStockNullPen);
        writer.select_object(writer.create_solid_brush(0x00FF00));
        const Point p[] = {{100, 25}, {200, 25}, {200, 125}, {100, 125}};
        writer.polygon(p);
        LogFont font;
        font.height = -20;
        font.weight = 400;
        font.face_name = "Arial";
        writer.select_object(writer.create_font(font));
        writer.set_bk_mode(kTransparent);
        writer.set_text_color(0x000000);
        writer.text_out(20, 40, "Plot");
        EXPECT_TRUE(writer.close());
    }
    std::string error;
    auto picture = read_emf(sink.bytes, error);
    EXPECT_TRUE(picture) << error;
    return *picture;
}

// The same size, with "abgdp" in the Symbol face at (20, 40): what GDI records as
// U+F061 U+F062 U+F067 U+F064 U+F070, and what must read as Greek.
EmfPicture symbol_picture() {
    MemorySink sink;
    {
        EmfWriter writer(sink, ReferenceDisplay{100, 100, 1000, 1000}, Rect{0, 0, 3000, 1500});
        LogFont font;
        font.height = 40;
        font.weight = 400;
        font.char_set = kSymbolCharset;
        font.face_name = "Symbol";
        writer.select_object(writer.create_font(font));
        writer.set_bk_mode(kTransparent);
        writer.set_text_color(0x000000);
        writer.text_out(20, 40, "abgdp");
        EXPECT_TRUE(writer.close());
    }
    std::string error;
    auto picture = read_emf(sink.bytes, error);
    EXPECT_TRUE(picture) << error;
    return *picture;
}

QByteArray read_all(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// The text of every <text> element, in document order.
QStringList svg_texts(const QByteArray& svg) {
    QStringList out;
    QXmlStreamReader xml(svg);
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"text") out << xml.readElementText();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return out;
}

class ExportTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

struct NameCase {
    const char* text;
    std::optional<PictureFormat> by_name, by_path;
};

class FormatNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FormatNames, AreReadInAnyCaseAndOnlyFromTheLastExtension) {
    EXPECT_EQ(format_from_name(GetParam().text), GetParam().by_name);
    EXPECT_EQ(format_from_path(GetParam().text), GetParam().by_path);
}

INSTANTIATE_TEST_SUITE_P(
    All, FormatNames,
    ::testing::Values(NameCase{"svg", PictureFormat::svg, std::nullopt}, NameCase{"PNG", PictureFormat::png, std::nullopt},
                      NameCase{"out.pdf", std::nullopt, PictureFormat::pdf},
                      NameCase{"OUT.Emf", std::nullopt, PictureFormat::emf},
                      NameCase{"dir.svg/picture", std::nullopt, std::nullopt},
                      NameCase{"picture.svg.bak", std::nullopt, std::nullopt},
                      NameCase{".png", std::nullopt, std::nullopt}, NameCase{"gif", std::nullopt, std::nullopt},
                      NameCase{"", std::nullopt, std::nullopt}));

struct DpiCase {
    int dpi;
    Rect frame;
    std::optional<std::pair<int, int>> size;
};

class PngSize : public ::testing::TestWithParam<DpiCase> {};

TEST_P(PngSize, FollowsThePhysicalSizeAndRefusesHugeImages) {
    const auto s = png_size(sample_picture(GetParam().frame), GetParam().dpi);
    ASSERT_EQ(s.has_value(), GetParam().size.has_value());
    if (s) {
        EXPECT_EQ(std::make_pair(s->width, s->height), *GetParam().size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Worked, PngSize,
    ::testing::Values(
        // 30 x 15 mm at 254 dpi is ten pixels a millimetre.
        DpiCase{254, Rect{0, 0, 3000, 1500}, std::make_pair(300, 150)},
        DpiCase{127, Rect{0, 0, 3000, 1500}, std::make_pair(150, 75)},
        // 25.4 x 12.7 mm at 96 dpi: one inch by half an inch.
        DpiCase{96, Rect{0, 0, 2540, 1270}, std::make_pair(96, 48)},
        // A 2 m wide picture at 600 dpi is 47244 pixels wide, beyond what an image holds.
        DpiCase{600, Rect{0, 0, 200000, 1500}, std::nullopt}, DpiCase{0, Rect{0, 0, 3000, 1500}, std::nullopt}));

TEST_F(ExportTest, PngHasTheChosenResolutionAndThePictureInPlace) {
    const EmfPicture picture = sample_picture();
    QString error;
    ASSERT_TRUE(export_png(picture, path("a.png"), 254, error)) << error.toStdString();
    QImage png(path("a.png"));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(300, 150));
    EXPECT_EQ(png.dotsPerMeterX(), 10000);
    EXPECT_EQ(QColor(png.pixel(150, 75)), QColor(0, 255, 0));
    EXPECT_EQ(QColor(png.pixel(250, 75)), QColor(Qt::white));
    // At half the resolution the square is at half the coordinates.
    ASSERT_TRUE(export_png(picture, path("b.png"), 127, error));
    QImage half(path("b.png"));
    EXPECT_EQ(half.size(), QSize(150, 75));
    EXPECT_EQ(QColor(half.pixel(75, 37)), QColor(0, 255, 0));
    EXPECT_EQ(QColor(half.pixel(40, 37)), QColor(Qt::white));
}

TEST_F(ExportTest, SvgKeepsTheWordAsOneTextAndThePhysicalSize) {
    QString error;
    ASSERT_TRUE(export_svg(sample_picture(), path("a.svg"), error)) << error.toStdString();
    const QByteArray svg = read_all(path("a.svg"));
    EXPECT_EQ(svg_texts(svg), QStringList{"Plot"});
    QXmlStreamReader xml(svg);
    while (!xml.atEnd() && !(xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"svg")) {
    }
    EXPECT_EQ(xml.attributes().value("width").toString(), QStringLiteral("30mm"));
    EXPECT_EQ(xml.attributes().value("height").toString(), QStringLiteral("15mm"));
    QSvgRenderer renderer(svg);
    ASSERT_TRUE(renderer.isValid());
    QImage shot(300, 150, QImage::Format_RGB32);
    shot.fill(Qt::white);
    QPainter painter(&shot);
    renderer.render(&painter);
    painter.end();
    EXPECT_EQ(QColor(shot.pixel(150, 75)), QColor(0, 255, 0));
}

TEST_F(ExportTest, PdfPageIsThePictureSizeWithTheFontEmbedded) {
    QString error;
    ASSERT_TRUE(export_pdf(sample_picture(), path("a.pdf"), error)) << error.toStdString();
    const QByteArray pdf = read_all(path("a.pdf"));
    ASSERT_TRUE(pdf.startsWith("%PDF-"));
    // 30 x 15 mm is 85.04 x 42.52 points; pages come in whole points, rounded up so the
    // picture fits.
    const auto box = QRegularExpression(R"(/MediaBox \[0 0 ([0-9.]+) ([0-9.]+)\])").match(QString::fromLatin1(pdf));
    ASSERT_TRUE(box.hasMatch());
    EXPECT_DOUBLE_EQ(box.captured(1).toDouble(), 86);
    EXPECT_DOUBLE_EQ(box.captured(2).toDouble(), 43);
    EXPECT_TRUE(pdf.contains("/FontFile2")) << "no embedded TrueType font";
    EXPECT_TRUE(pdf.contains("LiberationSans")) << "Arial did not resolve to its metric twin";
}

TEST_F(ExportTest, SymbolTextIsGreekInSvgAndPdf) {
    const EmfPicture picture = symbol_picture();
    // The metafile keeps the characters as Windows records them.
    ASSERT_TRUE(QByteArray(picture.bytes.data(), static_cast<qsizetype>(picture.bytes.size()))
                    .contains(QByteArray("\x61\xF0\x62\xF0\x67\xF0", 6)));
    QString error;
    ASSERT_TRUE(export_svg(picture, path("a.svg"), error)) << error.toStdString();
    const QByteArray svg = read_all(path("a.svg"));
    EXPECT_EQ(svg_texts(svg), QStringList{QStringLiteral("αβγδπ")});
    // A reader without the face the text was drawn in falls back to a serif one.
    const auto family = QRegularExpression(R"re(<text [^>]*font-family="([^"]*)")re").match(QString::fromUtf8(svg));
    ASSERT_TRUE(family.hasMatch());
    EXPECT_TRUE(family.captured(1).endsWith(QStringLiteral(", serif")) || family.captured(1) == QStringLiteral("Nimbus Roman"))
        << family.captured(1).toStdString();

    ASSERT_TRUE(export_pdf(picture, path("a.pdf"), error)) << error.toStdString();
    if (std::system("pdftotext -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    const std::string cmd = "pdftotext -enc UTF-8 '" + path("a.pdf").toStdString() + "' '" + path("a.txt").toStdString() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    // pdftotext guesses word breaks from the gaps between glyphs; the letters are what counts.
    EXPECT_EQ(QString::fromUtf8(read_all(path("a.txt"))).remove(QRegularExpression(QStringLiteral("\\s"))),
              QStringLiteral("αβγδπ"));
}

class FailedExport : public ExportTest, public ::testing::WithParamInterface<PictureFormat> {};

TEST_P(FailedExport, SaysWhyAndKeepsWhatWasThere) {
    const EmfPicture picture = sample_picture();
    QString error;
    EXPECT_FALSE(export_picture(picture, GetParam(), path("missing/x"), 96, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(path("missing/x")));

    // A folder cannot be replaced by a picture; it stays a folder.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("taken"));
    error.clear();
    EXPECT_FALSE(export_picture(picture, GetParam(), path("taken"), 96, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFileInfo(path("taken")).isDir());
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList());
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FailedExport,
                         ::testing::Values(PictureFormat::emf, PictureFormat::svg, PictureFormat::pdf, PictureFormat::png),
                         [](const auto& case_info) { return std::string(format_extension(case_info.param)); });

TEST_F(ExportTest, OversizedPngIsRefusedBeforeAnythingIsWritten) {
    QString error;
    EXPECT_FALSE(export_png(sample_picture(Rect{0, 0, 200000, 1500}), path("big.png"), 600, error));
    EXPECT_TRUE(error.contains("too large")) << error.toStdString();
    EXPECT_FALSE(QFile::exists(path("big.png")));
}

TEST_F(ExportTest, EmfIsThePicturesOwnBytes) {
    const EmfPicture picture = sample_picture();
    QString error;
    ASSERT_TRUE(export_emf(picture, path("a.emf"), error));
    EXPECT_EQ(read_all(path("a.emf")).toStdString(), picture.bytes);
}

}  // namespace
