#include "app/export/picture_mime.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <QtTest>

#include "gui_tests.h"
#include "metafile/emf_writer.h"

using namespace plotmint;

namespace {

// A 300 x 150 logical-unit picture with one green square at 100..200 x 25..125.
EmfPicture green_square_picture(Rect frame = Rect{0, 0, 3000, 1500}) {
    MemorySink sink;
    {
        EmfWriter writer(sink, ReferenceDisplay{100, 100, 1000, 1000}, frame);
        writer.select_object(kStockNullPen);
        writer.select_object(writer.create_solid_brush(0x00FF00));
        const Point p[] = {{100, 25}, {200, 25}, {200, 125}, {100, 125}};
        writer.polygon(p);
        if (!writer.close()) qFatal("cannot close");
    }
    std::string error;
    auto picture = read_emf(sink.bytes, error);
    if (!picture) qFatal("%s", error.c_str());
    return *picture;
}

}  // namespace

class PictureMimeTest : public QObject {
    Q_OBJECT
private slots:
    void raster_size_keeps_small_pictures_and_caps_large_ones_data() {
        QTest::addColumn<int>("frame_w");
        QTest::addColumn<int>("frame_h");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("small picture at one pixel per unit") << 3000 << 1500 << QSize(300, 150);
        QTest::newRow("tall page reduced to 2048") << 52400 << 78600 << QSize(1365, 2048);
        QTest::newRow("wide picture reduced to 2048") << 81920 << 10240 << QSize(2048, 256);
    }
    void raster_size_keeps_small_pictures_and_caps_large_ones() {
        QFETCH(int, frame_w);
        QFETCH(int, frame_h);
        QFETCH(QSize, expected);
        QCOMPARE(raster_size(green_square_picture(Rect{0, 0, frame_w, frame_h})), expected);
    }

    void clipboard_svg_has_symbol_text_in_greek() {
        MemorySink sink;
        {
            EmfWriter writer(sink, ReferenceDisplay{100, 100, 1000, 1000}, Rect{0, 0, 3000, 1500});
            LogFont font;
            font.height = 40;
            font.weight = 400;
            font.char_set = kSymbolCharset;
            font.face_name = "Symbol";
            writer.select_object(writer.create_font(font));
            writer.text_out(20, 40, "abgdp \xB1\xA5");
            QVERIFY(writer.close());
        }
        std::string error;
        const auto picture = read_emf(sink.bytes, error);
        QVERIFY2(picture, error.c_str());
        const auto mime = picture_mime_data(*picture);
        QXmlStreamReader xml(mime->data(QStringLiteral("image/svg+xml")));
        QStringList texts;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"text") texts << xml.readElementText();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(texts, QStringList{QStringLiteral("αβγδπ ±∞")});
    }

    void mime_data_offers_metafile_and_renderings() {
        const EmfPicture picture = green_square_picture();
        const auto mime = picture_mime_data(picture);
        const QByteArray emf(picture.bytes.data(), static_cast<qsizetype>(picture.bytes.size()));
        QCOMPARE(mime->data(QStringLiteral("image/x-emf")), emf);
        QCOMPARE(mime->data(QString::fromLatin1("application/x-openoffice-emf;windows_formatname=\"Image EMF\"")), emf);

        QImage png;
        QVERIFY(png.loadFromData(mime->data(QStringLiteral("image/png")), "PNG"));
        QCOMPARE(png.size(), QSize(300, 150));
        QCOMPARE(QColor(png.pixel(150, 75)), QColor(0, 255, 0));
        QCOMPARE(QColor(png.pixel(50, 75)), QColor(Qt::white));

        QSvgRenderer svg(mime->data(QStringLiteral("image/svg+xml")));
        QVERIFY(svg.isValid());
        QCOMPARE(svg.viewBoxF(), QRectF(0, 0, 300, 150));
        QImage rendered(300, 150, QImage::Format_ARGB32);
        rendered.fill(Qt::white);
        QPainter painter(&rendered);
        svg.render(&painter);
        painter.end();
        QCOMPARE(QColor(rendered.pixel(150, 75)), QColor(0, 255, 0));
        QCOMPARE(QColor(rendered.pixel(250, 75)), QColor(Qt::white));
    }
};

int run_picture_mime_tests(int argc, char** argv) {
    PictureMimeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "picture_mime_test.moc"
