#include "app/export/picture_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QPainter>
#include <QXmlStreamReader>

#include "app/export/qt_canvas.h"
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

struct FitCase {
    PngSizing sizing;
    Rect frame;
    std::optional<std::pair<int, int>> size;
};

class PngFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(PngFit, KeepsTheAspectInsideTheBoxAndRefusesHugeImages) {
    const auto s = png_size(sample_picture(GetParam().frame), GetParam().sizing);
    ASSERT_EQ(s.has_value(), GetParam().size.has_value());
    if (s) {
        EXPECT_EQ(std::make_pair(s->width, s->height), *GetParam().size);
    }
}

// The sample is 300 x 150 logical units whatever its frame; a tall frame makes it 150 x 300.
INSTANTIATE_TEST_SUITE_P(
    Worked, PngFit,
    ::testing::Values(
        // Nothing asked: the longest side is 2000, wide or tall.
        FitCase{PngSizing{}, Rect{0, 0, 3000, 1500}, std::make_pair(2000, 1000)},
        FitCase{PngSizing{}, Rect{0, 0, 1500, 3000}, std::make_pair(1000, 2000)},
        FitCase{PngSizing::fit(600, 0), Rect{0, 0, 3000, 1500}, std::make_pair(600, 300)},
        FitCase{PngSizing::fit(0, 600), Rect{0, 0, 3000, 1500}, std::make_pair(1200, 600)},
        FitCase{PngSizing::fit(601, 0), Rect{0, 0, 3000, 1500}, std::make_pair(601, 301)},
        // Both: the side that limits the scale is exact, the other within its own.
        FitCase{PngSizing::fit(600, 600), Rect{0, 0, 3000, 1500}, std::make_pair(600, 300)},
        FitCase{PngSizing::fit(1000, 100), Rect{0, 0, 3000, 1500}, std::make_pair(200, 100)},
        FitCase{PngSizing::fit(1, 1), Rect{0, 0, 3000, 1500}, std::make_pair(1, 1)},
        // The aspect takes the other side past what the painter reaches.
        FitCase{PngSizing::fit(0, 20000), Rect{0, 0, 3000, 1500}, std::nullopt},
        FitCase{PngSizing::fit(32767, 0), Rect{0, 0, 3000, 1500}, std::make_pair(32767, 16384)},
        FitCase{PngSizing::at_dpi(254), Rect{0, 0, 3000, 1500}, std::make_pair(300, 150)},
        FitCase{PngSizing::fit(-5, 0), Rect{0, 0, 3000, 1500}, std::nullopt}));

// Drawn into one image, as a band of the PNG is, but all at once.
QImage single_render(const EmfPicture& picture, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    EXPECT_TRUE(paint_picture(painter, picture, QRectF(QPointF(0, 0), QSizeF(size))));
    return image;
}

// A picture with edges at fractions of a pixel everywhere: slanted lines, a circle-like
// polygon and text, so anti-aliasing reaches across every band edge.
EmfPicture slanted_picture() {
    MemorySink sink;
    {
        EmfWriter writer(sink, ReferenceDisplay{100, 100, 1000, 1000}, Rect{0, 0, 3000, 1500});
        writer.select_object(writer.create_pen(PenStyle::solid, 3, 0x0000FF));
        writer.select_object(writer.create_solid_brush(0x00C0FF));
        std::vector<Point> ring;
        for (int i = 0; i < 40; ++i)
            ring.push_back(Point{static_cast<int32_t>(150 + 60 * std::cos(i * 0.157)),
                                 static_cast<int32_t>(75 + 60 * std::sin(i * 0.157))});
        writer.polygon(ring);
        for (int32_t x = 0; x < 300; x += 23) {
            writer.move_to(x, 0);
            writer.line_to(300 - x, 150);
        }
        LogFont font;
        font.height = -33;
        font.weight = 700;
        font.face_name = "Arial";
        writer.select_object(writer.create_font(font));
        writer.set_bk_mode(kTransparent);
        writer.text_out(10, 60, "Bands");
        EXPECT_TRUE(writer.close());
    }
    std::string error;
    auto picture = read_emf(sink.bytes, error);
    EXPECT_TRUE(picture) << error;
    return *picture;
}

class PngBands : public ExportTest, public ::testing::WithParamInterface<int> {};

TEST_P(PngBands, DrawTheSamePixelsAsOneImage) {
    const EmfPicture picture = slanted_picture();
    // An odd scale, so no edge of the picture falls on a pixel boundary.
    const PngSizing sizing = PngSizing::fit(613, 0);
    const auto size = png_size(picture, sizing);
    ASSERT_TRUE(size);
    QString error;
    ASSERT_TRUE(export_png(picture, path("banded.png"), sizing, error, GetParam())) << error.toStdString();
    const QImage banded = QImage(path("banded.png")).convertToFormat(QImage::Format_RGB32);
    const QImage whole = single_render(picture, QSize(size->width, size->height));
    ASSERT_EQ(banded.size(), whole.size());
    int differing = 0, first_row = -1, inked = 0;
    for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x) {
            if (whole.pixel(x, y) != QColor(Qt::white).rgb()) ++inked;
            if (banded.pixel(x, y) != whole.pixel(x, y)) {
                if (first_row < 0) first_row = y;
                ++differing;
            }
        }
    // Mostly drawn on, or the comparison would prove little.
    EXPECT_GT(inked, whole.width() * whole.height() / 10);
    EXPECT_EQ(differing, 0) << "first in row " << first_row << " with bands of " << GetParam() << " rows";
}

// 307 rows: bands of one row, of a prime number of rows, of a power of two, of all but the
// last row, and all in one band.
INSTANTIATE_TEST_SUITE_P(Heights, PngBands, ::testing::Values(1, 7, 64, 306, 307, 0));

TEST_F(ExportTest, FittedPngRecordsTheResolutionOfThePhysicalSize) {
    const EmfPicture picture = sample_picture();
    QString error;
    // 2000 pixels over 30 mm.
    ASSERT_TRUE(export_png(picture, path("default.png"), PngSizing{}, error)) << error.toStdString();
    QImage png(path("default.png"));
    EXPECT_EQ(png.size(), QSize(2000, 1000));
    EXPECT_EQ(png.dotsPerMeterX(), 66667);
    EXPECT_EQ(png.dotsPerMeterY(), 66667);
    EXPECT_EQ(QColor(png.pixel(1000, 500)), QColor(0, 255, 0));
    // At 300 dpi the resolution is recorded as asked, not as the rounded width implies.
    ASSERT_TRUE(export_png(picture, path("print.png"), PngSizing::at_dpi(300), error)) << error.toStdString();
    QImage print(path("print.png"));
    EXPECT_EQ(print.size(), QSize(354, 177));
    EXPECT_EQ(print.dotsPerMeterX(), 11811);
    EXPECT_EQ(print.dotsPerMeterY(), 11811);
}

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

// A FIFO (or /dev/null) at the path stays what it is: renamed over, it would become a plain
// file, and written into, a FIFO without a reader would block the export for good.
TEST_P(FailedExport, NodeThatIsNotAFileIsLeftAlone) {
    const EmfPicture picture = sample_picture();
    const QByteArray fifo = QFile::encodeName(path("fifo"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    ASSERT_TRUE(QFile::link(path("fifo"), path("link")));
    for (const QString& name : {QStringLiteral("fifo"), QStringLiteral("link")}) {
        QString error;
        EXPECT_FALSE(export_picture(picture, GetParam(), path(name), 96, error));
        EXPECT_EQ(error.toStdString(), name == u"fifo" ? "not a regular file"
                                                       : "a symbolic link to something that is not a regular file");
    }
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(), 2);
}

// Through a link to a picture, the picture is replaced and the link stays.
TEST_P(FailedExport, LinkToAPictureReplacesThePicture) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir("real"));
    QFile old(path("real/p"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    ASSERT_TRUE(QFile::setPermissions(path("real/p"), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    ASSERT_TRUE(QFile::link(path("real/p"), path("link")));
    QString error;
    ASSERT_TRUE(export_picture(sample_picture(), GetParam(), path("link"), 96, error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(path("link")).symLinkTarget(), path("real/p"));
    EXPECT_GT(read_all(path("real/p")).size(), 3);
    EXPECT_EQ(QFile::permissions(path("real/p")), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ReadUser | QFileDevice::WriteUser);
    EXPECT_EQ(QDir(path("real")).entryList(QDir::Files).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FailedExport,
                         ::testing::Values(PictureFormat::emf, PictureFormat::svg, PictureFormat::pdf, PictureFormat::png),
                         [](const auto& case_info) { return std::string(format_extension(case_info.param)); });

TEST_F(ExportTest, OversizedPngIsRefusedBeforeAnythingIsWritten) {
    QString error;
    EXPECT_FALSE(export_png(sample_picture(Rect{0, 0, 200000, 1500}), path("big.png"), 600, error));
    EXPECT_TRUE(error.contains("too large")) << error.toStdString();
    EXPECT_TRUE(error.contains("47244 x 354 pixels")) << error.toStdString();
    EXPECT_FALSE(QFile::exists(path("big.png")));
    error.clear();
    EXPECT_FALSE(export_png(sample_picture(), path("big.png"), PngSizing::fit(0, 20000), error));
    EXPECT_TRUE(error.contains("40000 x 20000 pixels")) << error.toStdString();
    EXPECT_FALSE(QFile::exists(path("big.png")));
}

TEST_F(ExportTest, EmfIsThePicturesOwnBytes) {
    const EmfPicture picture = sample_picture();
    QString error;
    ASSERT_TRUE(export_emf(picture, path("a.emf"), error));
    EXPECT_EQ(read_all(path("a.emf")).toStdString(), picture.bytes);
}

}  // namespace
