#include "app/export/qt_canvas.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include "gui_tests.h"
#include "metafile/emf_writer.h"

using namespace plotmint;

namespace {

// Ten pixels per millimetre, so a frame in hundredths of a millimetre is ten times its
// size in logical units.
constexpr ReferenceDisplay kTestDisplay{100, 100, 1000, 1000};

QImage white_image(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::white);
    return image;
}

bool is_ink(QRgb p) { return qGray(p) < 160; }

// The bounding box of the dark pixels, or a null rect when there are none.
QRect ink_box(const QImage& image, const QRect& within = {}) {
    const QRect area = within.isNull() ? image.rect() : within & image.rect();
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (is_ink(image.pixel(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (left == INT_MAX) return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

LogFont arial(int32_t height, int32_t escapement = 0) {
    LogFont f;
    f.height = height;
    f.escapement = escapement;
    f.orientation = escapement;
    f.weight = 400;
    f.face_name = "Arial";
    return f;
}

EmfPicture picture_of(const std::function<void(EmfWriter&)>& draw, Rect frame) {
    MemorySink sink;
    {
        EmfWriter writer(sink, kTestDisplay, frame);
        draw(writer);
        if (!writer.close()) qFatal("cannot close the test metafile");
    }
    std::string error;
    auto picture = read_emf(sink.bytes, error);
    if (!picture) qFatal("test metafile unreadable: %s", error.c_str());
    return *picture;
}

}  // namespace

class QtCanvasTest : public QObject {
    Q_OBJECT
private slots:
    void frame_maps_onto_target() {
        const QTransform t = frame_transform(Rect{10, 20, 110, 220}, QRectF(5, 7, 300, 450));
        QCOMPARE(t.map(QPointF(10, 20)), QPointF(5, 7));
        QCOMPARE(t.map(QPointF(110, 220)), QPointF(305, 457));
        QCOMPARE(t.map(QPointF(60, 120)), QPointF(155, 232));
    }

    void pen_widths_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("scale");
        QTest::addColumn<bool>("cosmetic");
        QTest::addColumn<double>("expected_width");
        QTest::newRow("zero is one pixel") << 0 << 1.0 << true << 1.0;
        QTest::newRow("geometric width in logical units") << 12 << 1.0 << false << 12.0;
        QTest::newRow("negative width as its size") << -6 << 1.0 << false << 6.0;
        QTest::newRow("thinner than a pixel after stretching") << 12 << 0.05 << true << 1.0;
        QTest::newRow("just one pixel after stretching") << 20 << 0.05 << false << 20.0;
    }
    void pen_widths() {
        QFETCH(int, width);
        QFETCH(double, scale);
        QFETCH(bool, cosmetic);
        QFETCH(double, expected_width);
        QImage image = white_image(10, 10);
        QPainter painter(&image);
        painter.scale(scale, scale);
        QtCanvas canvas(painter);
        canvas.set_pen(PenStyle::solid, width, 0x0000FF);
        QCOMPARE(canvas.pen().isCosmetic(), cosmetic);
        QCOMPARE(canvas.pen().widthF(), expected_width);
        QCOMPARE(canvas.pen().capStyle(), Qt::RoundCap);
        QCOMPARE(canvas.pen().joinStyle(), Qt::RoundJoin);
        QCOMPARE(canvas.pen().color(), QColor(255, 0, 0));
    }

    void null_and_dotted_pens() {
        QImage image = white_image(10, 10);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        canvas.set_pen(PenStyle::null, 5, 0);
        QCOMPARE(canvas.pen().style(), Qt::NoPen);
        canvas.set_pen(PenStyle::dot, 8, 0);
        QCOMPARE(canvas.pen().style(), Qt::CustomDashLine);
        QCOMPARE(canvas.pen().capStyle(), Qt::RoundCap);
        canvas.set_pen(PenStyle::dot, 0, 0);
        QCOMPARE(canvas.pen().style(), Qt::CustomDashLine);
        QVERIFY(canvas.pen().isCosmetic());
    }

    void dotted_line_has_gaps() {
        QImage image = white_image(200, 40);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        canvas.set_pen(PenStyle::dot, 6, 0);
        canvas.line({10, 20}, {190, 20});
        painter.end();
        int ink = 0, gaps = 0;
        bool prev = false;
        for (int x = 10; x < 190; ++x) {
            const bool now = is_ink(image.pixel(x, 20));
            ink += now;
            if (prev && !now) ++gaps;
            prev = now;
        }
        QVERIFY2(gaps >= 10, qPrintable(QString::number(gaps)));
        QVERIFY(ink > 40 && ink < 150);
    }

    void polygon_fill_is_alternate() {
        // A pentagram: its centre is inside twice, so alternate filling leaves it empty.
        QImage image = white_image(200, 200);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        canvas.set_pen(PenStyle::null, 0, 0);
        canvas.set_brush(false, 0x000000);
        const Point star[] = {{100, 10}, {153, 181}, {14, 75}, {186, 75}, {47, 181}};
        canvas.polygon(star);
        painter.end();
        QVERIFY(!is_ink(image.pixel(100, 100)));
        QVERIFY(is_ink(image.pixel(100, 40)));  // a point of the star
    }

    void null_brush_outlines_only() {
        QImage image = white_image(100, 100);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        canvas.set_pen(PenStyle::solid, 2, 0);
        canvas.set_brush(true, 0);
        const Point square[] = {{10, 10}, {90, 10}, {90, 90}, {10, 90}};
        canvas.polygon(square);
        painter.end();
        QVERIFY(!is_ink(image.pixel(50, 50)));
        QVERIFY(is_ink(image.pixel(50, 10)));
    }

    void em_from_cell_height_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("face");
        QTest::addColumn<double>("em");
        QTest::newRow("cell height, Arial") << 40 << "Arial" << 40.0 * 2048 / 2288;
        QTest::newRow("cell height, Times New Roman") << 40 << "Times New Roman" << 40.0 * 2048 / 2268;
        QTest::newRow("negative height is the em") << -40 << "Arial" << 40.0;
    }
    void em_from_cell_height() {
        QFETCH(int, height);
        QFETCH(QString, face);
        QFETCH(double, em);
        LogFont f = arial(height);
        f.face_name = face.toStdString();
        QVERIFY(std::abs(em_height(f) - em) < 1e-9);
    }

    void font_falls_back_to_metric_twin() {
        const QFont f = qfont_for(arial(40), 16.0);
        QVERIFY(f.families().contains(QStringLiteral("Liberation Sans")));
        QCOMPARE(f.pixelSize(), static_cast<int>(std::lround(40.0 * 2048 / 2288 * 16)));
        LogFont bold = arial(40);
        bold.weight = 700;
        QCOMPARE(qfont_for(bold, 1.0).weight(), QFont::Bold);
    }

    void text_sits_below_its_reference_point() {
        QImage image = white_image(300, 200);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        canvas.set_bk_mode(kTransparent);
        canvas.set_text_color(0);
        canvas.set_font(arial(40));
        const int32_t dx[] = {60, 60};
        canvas.text({100, 100}, u"HH", dx);
        painter.end();
        const QRect ink = ink_box(image);
        QVERIFY(!ink.isNull());
        // Arial's cap height is 0.716 em and its ascent 0.905 em: the caps span 107..132.
        QVERIFY2(ink.top() >= 104 && ink.top() <= 110, qPrintable(QString::number(ink.top())));
        QVERIFY2(ink.bottom() >= 130 && ink.bottom() <= 134, qPrintable(QString::number(ink.bottom())));
        QVERIFY(ink.left() >= 100 && ink.left() <= 106);
        // Each character stands at its own Dx: the second H starts 60 units after the first.
        QVERIFY(ink_box(image, QRect(128, 100, 30, 40)).isNull());
        const QRect second = ink_box(image, QRect(150, 100, 100, 40));
        QVERIFY(second.left() >= 160 && second.left() <= 166);
    }

    void escapement_turns_text_counter_clockwise() {
        QImage image = white_image(300, 300);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        canvas.set_bk_mode(kTransparent);
        canvas.set_text_color(0);
        canvas.set_font(arial(40, 900));
        const int32_t dx[] = {40, 40};
        canvas.text({150, 200}, u"HH", dx);
        painter.end();
        const QRect ink = ink_box(image);
        QVERIFY(!ink.isNull());
        // Reading upward: the run climbs from the reference point, its top to the left.
        QVERIFY2(ink.bottom() <= 200 && ink.top() >= 200 - 84, qPrintable(QString::number(ink.top())));
        QVERIFY2(ink.left() >= 150 && ink.right() <= 186, qPrintable(QString::number(ink.right())));
    }

    void opaque_text_fills_its_cells() {
        QImage image(200, 100, QImage::Format_ARGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        canvas.set_text_color(0);
        canvas.set_font(arial(40));
        const int32_t dx[] = {30};
        canvas.text({20, 20}, u"H", dx);
        painter.end();
        QCOMPARE(QColor(image.pixel(22, 22)), QColor(Qt::white));
        QCOMPARE(QColor(image.pixel(60, 22)), QColor(Qt::black));
    }

    void symbol_text_shows_glyphs() {
        QImage image = white_image(200, 100);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        canvas.set_bk_mode(kTransparent);
        canvas.set_text_color(0);
        LogFont f = arial(60);
        f.face_name = "Symbol";
        f.char_set = kSymbolCharset;
        canvas.set_font(f);
        // Symbol text is drawn in Unicode: the face drawn has the Greek letters at their own
        // code points, and is not a symbol-encoded face that would hide them.
        const QFont drawn = qfont_for(f, 1.0);
        QVERIFY(QFontMetricsF(drawn).inFont(QChar(0x03B1)));
        const QString family = QFontInfo(drawn).family();
        QVERIFY2(!family.startsWith("Standard Symbols PS"), qPrintable(family));
        const int32_t dx[] = {40};
        canvas.text({20, 20}, u"\uF061", dx);  // alpha
        painter.end();
        QVERIFY(!ink_box(image).isNull());
    }

    void drawn_characters_data() {
        QTest::addColumn<QString>("face");
        QTest::addColumn<int>("recorded");
        QTest::addColumn<int>("drawn");
        QTest::newRow("Symbol alpha as recorded") << "Symbol" << 0xF061 << 0x03B1;
        QTest::newRow("Symbol alpha as its byte") << "Symbol" << 0x0061 << 0x03B1;
        QTest::newRow("Symbol face named in lower case") << "symbol" << 0xF0E5 << 0x2211;
        QTest::newRow("Symbol digit") << "Symbol" << 0xF031 << 0x0031;
        QTest::newRow("Symbol byte without a character") << "Symbol" << 0xF080 << 0;
        QTest::newRow("other symbol-set face through its byte") << "Wingdings" << 0xF061 << 0x0061;
        QTest::newRow("Arial as recorded") << "Arial" << 0x00E9 << 0x00E9;
    }
    void drawn_characters() {
        QFETCH(QString, face);
        QFETCH(int, recorded);
        QFETCH(int, drawn);
        LogFont f = arial(40);
        f.face_name = face.toStdString();
        QCOMPARE(static_cast<int>(drawn_character(f, static_cast<char16_t>(recorded))), drawn);
    }

    // The baseline of a run found from its ink: the lowest dark row of glyphs that sit on the
    // line, or for text reading upward the rightmost dark column. One logical unit is one
    // pixel, so a 16-unit cell is 12-point text at 96 dpi.
    void symbol_text_sits_on_the_arial_baseline_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("escapement");
        QTest::newRow("16-unit cell") << 16 << 0;
        QTest::newRow("40-unit cell") << 40 << 0;
        QTest::newRow("em of 30 units") << -30 << 0;
        QTest::newRow("16-unit cell, reading upward") << 16 << 900;
        QTest::newRow("40-unit cell, reading upward") << 40 << 900;
    }
    void symbol_text_sits_on_the_arial_baseline() {
        QFETCH(int, height);
        QFETCH(int, escapement);
        const auto baseline_of = [&](const char* face, uint8_t char_set, std::u16string_view text) {
            QImage image = white_image(240, 240);
            QPainter painter(&image);
            QtCanvas canvas(painter);
            canvas.set_bk_mode(kTransparent);
            canvas.set_text_color(0);
            LogFont f = arial(height, escapement);
            f.face_name = face;
            f.char_set = char_set;
            canvas.set_font(f);
            const int32_t step = std::abs(height);
            const int32_t dx[] = {step, step};
            canvas.text({120, 120}, text, dx);
            painter.end();
            const QRect ink = ink_box(image);
            return ink.isNull() ? -1 : (escapement == 0 ? ink.bottom() : ink.right());
        };
        // Each face's baseline is its Windows usWinAscent below the reference point: Arial's
        // 1854 of a 2288-unit cell per 2048 em, Symbol's 2059 of 2509. For the same cell that
        // is the same line; for the same em (a negative height) Symbol's taller cell puts it lower.
        const auto expected = [&](double ascent, double cell_units) {
            const double cell = height > 0 ? height : -height * cell_units / 2048;
            return 120 + cell * ascent / cell_units;
        };
        const int arial_line = baseline_of("Arial", 0, u"HH");
        QVERIFY(arial_line >= 0);
        QVERIFY2(std::abs(arial_line + 1 - expected(1854, 2288)) <= 1.0, qPrintable(QString::number(arial_line)));
        for (std::u16string_view greek : {std::u16string_view(u"\uF050\uF050"), std::u16string_view(u"\uF044\uF044")}) {
            const int symbol_line = baseline_of("Symbol", kSymbolCharset, greek);
            QVERIFY(symbol_line >= 0);
            const QString lines = QStringLiteral("Symbol %1, Arial %2").arg(symbol_line).arg(arial_line);
            QVERIFY2(std::abs(symbol_line + 1 - expected(2059, 2509)) <= 1.0, qPrintable(lines));
            if (height > 0) QVERIFY2(std::abs(symbol_line - arial_line) <= 1, qPrintable(lines));
        }
    }

    void picture_is_stretched_into_target() {
        // Frame 200 x 100 logical units; a red square at 20..80 and a blue one at 120..180.
        const EmfPicture picture = picture_of(
            [](EmfWriter& w) {
                w.select_object(kStockNullPen);
                const ObjectId red = w.create_solid_brush(0x0000FF);
                w.select_object(red);
                const Point a[] = {{20, 20}, {80, 20}, {80, 80}, {20, 80}};
                w.polygon(a);
                const ObjectId blue = w.create_solid_brush(0xFF0000);
                w.delete_object(w.select_object(blue));
                const Point b[] = {{120, 20}, {180, 20}, {180, 80}, {120, 80}};
                w.polygon(b);
            },
            Rect{0, 0, 2000, 1000});
        QCOMPARE(picture.logical_frame(), (Rect{0, 0, 200, 100}));
        QImage image = white_image(500, 300);
        QPainter painter(&image);
        QVERIFY(paint_picture(painter, picture, QRectF(50, 50, 400, 200)));
        painter.end();
        QCOMPARE(QColor(image.pixel(50 + 100, 50 + 100)), QColor(255, 0, 0));
        QCOMPARE(QColor(image.pixel(50 + 300, 50 + 100)), QColor(0, 0, 255));
        QCOMPARE(QColor(image.pixel(50 + 200, 50 + 100)), QColor(Qt::white));
        // Square corners land at twice their logical position.
        QCOMPARE(QColor(image.pixel(50 + 42, 50 + 42)), QColor(255, 0, 0));
        QCOMPARE(QColor(image.pixel(50 + 37, 50 + 37)), QColor(Qt::white));
    }
};

int run_qt_canvas_tests(int argc, char** argv) {
    QtCanvasTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "qt_canvas_test.moc"
