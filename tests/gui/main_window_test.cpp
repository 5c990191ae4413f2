#include "app/gui/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <algorithm>
#include <QDragEnterEvent>
#include <QProgressBar>
#include <QDropEvent>
#include <QFile>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QMenu>
#include <QPrinter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "app/gui/application.h"
#include "app/gui/preview_menu.h"
#include "gui_tests.h"
#include "metafile/emf_player.h"

using namespace plotmint;

namespace {

QString u8(const char* s) { return QString::fromUtf8(s); }

// A fill of tone 50 inside the extent x 1000..4000, y 2000..6000 (set by one draw_to).
const char* const kSquareGraph =
    "6 2 0\n"
    "5 0 1\n"
    "7 1 5\n"
    "0 50 0\n"
    "0 1500 2500\n0 3500 2500\n0 3500 5500\n0 1500 5500\n0 1500 2500\n"
    "9 0 0\n"
    "3 1000 2000\n"
    "2 4000 6000\n";

// The square's fill inside an extent that reaches past the page (0..5240 x 0..7860) on the
// side named: the extent's corners replace the square's.
QByteArray beyond_page_graph(int xmin, int ymin, int xmax, int ymax) {
    QByteArray g(kSquareGraph);
    g.replace("3 1000 2000\n2 4000 6000\n", QString("3 %1 %2\n2 %3 %4\n").arg(xmin).arg(ymin).arg(xmax).arg(ymax).toUtf8());
    return g;
}

// Graph point (3000, 3000), inside the square's fill and away from its diagonal line, in a
// preview rectangle showing the square's own extent.
QPoint fill_point(const QRect& r) { return QPoint(r.left() + r.width() * 2 / 3, r.top() + r.height() * 3 / 4); }

qsizetype count_lines(const QStringList& lines, const QString& line) {
    return std::count(lines.begin(), lines.end(), line);
}

// The same drawing naming the colour tables "demo" (d e m o between codes 33 and 35).
QByteArray demo_graph() {
    return QByteArray("33 0 0\n0 100 0\n0 101 0\n0 109 0\n0 111 0\n35 0 0\n") + kSquareGraph;
}

QStringList run_lines(const QString& name, int margin = 28) {
    return {u8("open ") + name + ".",     "xmin : 1000",    "xmax : 4000",         "ymin : 2000",
            "ymax : 6000",                 QString("margin : %1").arg(margin), "making metafile",
            "making metafile end",         "draw finished."};
}

QStringList row(const StringGrid* grid, int r) {
    QStringList out;
    for (int c = 0; c < grid->columnCount(); ++c) out << grid->cell(r, c);
    return out;
}

// Collects the colour each filled polygon of a picture is filled with, in order.
class BrushLog final : public Canvas {
public:
    void set_pen(PenStyle, int32_t, uint32_t) override {}
    void set_brush(bool null_brush, uint32_t color) override {
        brush = null_brush ? std::nullopt : std::optional<uint32_t>(color);
    }
    void set_font(const LogFont&) override {}
    void set_text_color(uint32_t) override {}
    void set_bk_mode(int32_t) override {}
    void line(Point, Point) override {}
    void polygon(std::span<const Point>) override {
        if (brush) colors.push_back(*brush);
    }
    void text(Point, std::u16string_view, std::span<const int32_t>) override {}
    std::optional<uint32_t> brush;
    std::vector<uint32_t> colors;
};

// The fill colours of graph.emf as the window read it back.
std::vector<uint32_t> fill_colors(const TForm1& form) {
    BrushLog log;
    if (form.picture()) play_emf(*form.picture(), log);
    return log.colors;
}

QByteArray read_all(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("cannot read the picture");
        return QObject::event(e);
    }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp_;
    QString prog_dir_, work_dir_;
    std::vector<std::pair<QString, QString>> boxes_;
    std::unique_ptr<TForm1> form_;
    std::vector<TForm1::FileDialogRequest> requests_;
    // What the file chooser answers, in turn; a null string is a cancel.
    QStringList answers_;

    TForm1& open_form(QStringList args = {}) {
        TForm1::Options options;
        options.program_dir = prog_dir_;
        options.arguments = args;
        options.display = kDefaultDisplay;
        form_ = std::make_unique<TForm1>(options);
        form_->set_file_dialog_hook([this](const TForm1::FileDialogRequest& r) -> std::optional<QString> {
            requests_.push_back(r);
            const QString answer = answers_.isEmpty() ? QString() : answers_.takeFirst();
            if (answer.isNull()) return std::nullopt;
            return answer;
        });
        form_->show();
        if (!QTest::qWaitForWindowExposed(form_.get())) qFatal("window not exposed");
        return *form_;
    }

    QString write_file(const QString& name, const QByteArray& text) {
        const QString path = QDir(work_dir_).filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
        f.write(text);
        return path;
    }

    static void type_name_and_enter(TForm1& form, const QString& name) {
        form.Edit1->setFocus();
        form.Edit1->selectAll();
        if (name.isEmpty())
            QTest::keyClick(form.Edit1, Qt::Key_Backspace);
        else
            QTest::keyClicks(form.Edit1, name);
        QTest::keyClick(form.Edit1, Qt::Key_Return);
    }

    // Opens the cell's editor as F2 does, replaces its text and ends with `end`.
    static void type_cell(StringGrid* grid, int r, int c, const QString& text, Qt::Key end = Qt::Key_Return) {
        grid->setFocus();
        grid->setCurrentCell(r, c);
        QTest::keyClick(grid, Qt::Key_F2);
        QLineEdit* editor = nullptr;
        for (QLineEdit* e : grid->findChildren<QLineEdit*>())
            if (e->isVisible()) editor = e;
        QVERIFY2(editor, "no cell editor");
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, end);
    }

    // The example and its colour tables in the working folder, so that the screenshots show
    // the short name a user types; empty when the example is missing.
    QString copy_example() {
        const QDir examples(PLOTMINT_SOURCE_DIR "/examples");
        if (!examples.exists("graph.g")) return {};
        for (const QString& name : examples.entryList(QDir::Files))
            if (!QFile::copy(examples.filePath(name), QDir(work_dir_).filePath(name))) return {};
        return QStringLiteral("graph.g");
    }

    QStringList lines_since(const TForm1& form, qsizetype from) { return form.log_lines().mid(from); }

private slots:
    void initTestCase() {
        set_error_box_handler([this](QWidget*, const QString& message, const QString& caption) {
            boxes_.emplace_back(message, caption);
        });
    }

    void init() {
        QVERIFY(make_window_folders(temp_, prog_dir_, work_dir_));
        boxes_.clear();
        requests_.clear();
        answers_.clear();
    }

    void cleanup() {
        form_.reset();
        drop_window_folders(temp_);
    }

    void start_up_state() {
        TForm1& form = open_form();
        QCOMPARE(form.windowTitle(), QStringLiteral("Plotmint"));
        // The two default table loads and nothing from the panel colour.
        QCOMPARE(form.log_lines(), QStringList({"open " + prog_dir_ + "/tone-default.ktc.",
                                                "open " + prog_dir_ + "/line-default.klc."}));
        QCOMPARE(form.program_dir(), prog_dir_);
        QCOMPARE(form.Edit1->text(), QStringLiteral("graph.g"));
        QCOMPARE(row(form.StringGrid2, 0), QStringList({"  R", "  G", "  B", u8("線幅")}));
        QCOMPARE(row(form.StringGrid2, 1), QStringList({"200", "200", "200", "  1"}));
        QCOMPARE(row(form.StringGrid4, 0), QStringList({"  1", "  2", "  3", "  4", "  5"}));
        QCOMPARE(row(form.StringGrid4, 1), QStringList({" 12", " 16", " 20", " 24", " 28"}));
        QCOMPARE(row(form.StringGrid5, 0), QStringList({"  R", "  G", "  B"}));
        QCOMPARE(row(form.StringGrid5, 1), QStringList({"-1", "255", "255"}));
        QCOMPARE(row(form.StringGrid1, 0), QStringList({"   ", "  R", "  G", "  B"}));
        QCOMPARE(row(form.StringGrid1, 1), QStringList({"  0", "  0", "  0", "  0"}));
        QCOMPARE(row(form.StringGrid1, 2), QStringList({"100", "255", "255", "255"}));
        QCOMPARE(row(form.StringGrid1, 3), QStringList({"", "", "", ""}));
        QCOMPARE(row(form.StringGrid1, 121), QStringList({"", "", "", ""}));
        QCOMPARE(form.held().tone.count, 2);
        QCOMPARE(row(form.StringGrid3, 0), QStringList({"", "  R", "  G", "  B"}));
        QCOMPARE(row(form.StringGrid3, 3), QStringList({"  2", "220", " 20", " 30"}));
        QCOMPARE(row(form.StringGrid3, 31), QStringList({" 30", " 96", " 96", " 96"}));
        QCOMPARE(form.RadioGroup2->item_index(), 2);
        QCOMPARE(form.RadioGroup4->item_index(), 1);
        QCOMPARE(form.RadioGroup1->item_index(), 0);
        QCOMPARE(form.panel_color(), QApplication::palette().color(QPalette::Button));
        QCOMPARE(form.picture_flag(), 0);
        QVERIFY(form.acceptDrops());
    }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("caption");
        const struct {
            const char* name;
            QRect place;
            const char* caption;
        } controls[] = {
            {"File", {16, 8, 177, 33}, "ファイルを選ぶ"},
            {"Edit1", {16, 72, 209, 23}, "graph.g"},
            {"StringGrid4", {16, 120, 193, 52}, ""},
            {"Draw", {16, 184, 81, 41}, "再描画"},
            {"Finish", {120, 184, 81, 41}, "終了"},
            {"Copy_to_clip", {16, 232, 185, 41}, "クリップボードへコピー"},
            {"Memo1", {16, 304, 185, 281}, ""},
            {"RadioGroup2", {232, 8, 137, 97}, "Vline Hline の扱い"},
            {"StringGrid2", {216, 112, 153, 49}, ""},
            {"RadioGroup4", {384, 8, 137, 97}, "hersheyフォント"},
            {"RadioGroup1", {384, 120, 161, 65}, "カラーテーブル自動読込"},
            {"StringGrid1", {216, 216, 139, 321}, ""},
            {"StringGrid3", {376, 216, 139, 321}, ""},
            {"tone_load", {216, 544, 73, 41}, "Load"},
            {"tone_save", {296, 544, 65, 41}, "Save"},
            {"pen_load", {376, 544, 73, 41}, "Load"},
            {"pen_save", {456, 544, 65, 41}, "Save"},
            {"Panel1", {552, 16, 313, 465}, ""},
            {"PaintBox1", {8, 8, 300, 450}, ""},
            {"StringGrid5", {552, 528, 156, 53}, ""},
            {"Label1", {16, 48, -1, -1}, "ファイル名"},
            {"Label2", {16, 280, -1, -1}, "メッセージ"},
            {"Label3", {16, 104, -1, -1}, "線幅"},
            {"Label4", {216, 192, -1, -1}, "塗りつぶしの色"},
            {"Label5", {376, 192, -1, -1}, "線の色"},
            {"Label6", {552, 504, -1, -1}, "パネルの色（-1を指定するとボタンカラー）"},
        };
        for (const auto& c : controls) QTest::newRow(c.name) << c.name << c.place << u8(c.caption);
    }
    void layout() {
        QFETCH(QString, name);
        QFETCH(QRect, place);
        QFETCH(QString, caption);
        TForm1& form = open_form();
        auto* w = form.findChild<QWidget*>(name);
        QVERIFY(w);
        if (place.width() < 0) {
            QCOMPARE(w->pos(), place.topLeft());
        } else {
            QCOMPARE(w->geometry(), place);
        }
        if (auto* b = qobject_cast<QAbstractButton*>(w)) QCOMPARE(b->text(), caption);
        if (auto* l = qobject_cast<QLabel*>(w)) QCOMPARE(l->text(), caption);
        if (auto* g = qobject_cast<QGroupBox*>(w)) QCOMPARE(g->title(), caption);
        if (auto* e = qobject_cast<QLineEdit*>(w)) QCOMPARE(e->text(), caption);
        // Every control lies inside the client area.
        QVERIFY(QRect(QPoint(0, 0), form.size()).contains(w->mapTo(&form, QPoint(0, 0))));
    }

    void window_size_and_fonts() {
        TForm1& form = open_form();
        QCOMPARE(form.size(), QSize(TForm1::kClientWidth, TForm1::kClientHeight));
        QCOMPARE(form.PaintBox1->parentWidget(), form.Panel1);
        QCOMPARE(form.font().pixelSize(), 15);
        const QString family = QFontInfo(form.font()).family();
        QVERIFY2(family == u8("ＭＳ Ｐゴシック") || family.contains("CJK JP"), qPrintable(family));
        QCOMPARE(form.Memo1->focusPolicy(), Qt::ClickFocus);
        QVERIFY(form.Memo1->isReadOnly());
        QCOMPARE(form.StringGrid1->columnWidth(0), 33);
        QCOMPARE(form.StringGrid1->rowHeight(5), 20);
        QCOMPARE(form.StringGrid2->columnWidth(3), 36);
        QCOMPARE(form.StringGrid4->columnWidth(4), 37);
        QCOMPARE(form.StringGrid5->columnWidth(2), 50);
        // Title cells are fixed; the line colour grid's number column too, the tone grid's is not.
        QVERIFY(!(form.StringGrid1->item(0, 1)->flags() & Qt::ItemIsEditable));
        QVERIFY(form.StringGrid1->item(1, 0)->flags() & Qt::ItemIsEditable);
        QVERIFY(!(form.StringGrid3->item(4, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(form.StringGrid3->item(4, 1)->flags() & Qt::ItemIsEditable);
        QCOMPARE(form.RadioGroup2->item(1)->text(), u8("点線で置換"));
        QCOMPARE(form.RadioGroup4->item(2)->text(), u8("Timesで置換"));
        QCOMPARE(form.RadioGroup1->item(1)->text(), u8("しない"));
    }

    void memo_keeps_empty_line_after_newline() {
        TForm1& form = open_form();
        const auto before = form.log_lines().size();
        form.log().log_line("no is out of range in color : 40.  ignore\n");
        form.log().log_line("next");
        QCOMPARE(lines_since(form, before), QStringList({"no is out of range in color : 40.  ignore", "", "next"}));
    }

    void enter_in_file_name_draws() {
        const QString path = write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        const auto before = form.log_lines().size();
        type_name_and_enter(form, "square.g");
        QStringList expected{u8("open square.g for searching color table name."), u8("no color table.")};
        expected << run_lines("square.g");
        QCOMPARE(lines_since(form, before), expected);
        QCOMPARE(form.picture_flag(), 1);
        QVERIFY(form.picture());
        const QByteArray on_disk = read_all(QDir(work_dir_).filePath("graph.emf"));
        QVERIFY(!on_disk.isEmpty());
        QCOMPARE(QByteArray::fromStdString(form.picture()->bytes), on_disk);
        // Tone 50 of the default table, 0 -> black and 100 -> white.
        QCOMPARE(fill_colors(form), std::vector<uint32_t>{0x7F7F7Fu});
        // The worked preview rectangle for this extent in the 300 x 450 box.
        QCOMPARE(form.preview_rect(), QRect(QPoint(57, 106), QPoint(228, 334)));
        const QImage shot = form.Panel1->grab().toImage();
        const QPoint box = form.PaintBox1->pos();
        // Graph point (3000, 3000), inside the fill and away from the diagonal line.
        QCOMPARE(QColor(shot.pixel(box + QPoint(170, 276))), QColor(127, 127, 127));
        QCOMPARE(QColor(shot.pixel(box + QPoint(20, 20))), form.panel_color());
        QCOMPARE(QColor(shot.pixel(box + QPoint(280, 420))), form.panel_color());
        QVERIFY(boxes_.empty());
    }

    void run_shows_progress_under_the_preview_only_while_it_works() {
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        QVERIFY(form.run_progress->isHidden());
        std::vector<int> values;
        std::vector<bool> visible;
        QObject::connect(form.run_progress, &QProgressBar::valueChanged, [&](int v) {
            values.push_back(v);
            visible.push_back(form.run_progress->isVisible());
        });
        type_name_and_enter(form, "square.g");
        QCOMPARE(form.log_lines().last(), QStringLiteral("draw finished."));
        QVERIFY(values.size() >= 3);
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        QVERIFY(values.back() > 500);
        QVERIFY(std::all_of(visible.begin() + 1, visible.end(), [](bool v) { return v; }));
        QVERIFY(form.run_progress->isHidden());
        // It sits under the preview panel, clear of the other controls.
        QVERIFY(form.run_progress->geometry().top() >= form.Panel1->geometry().bottom());
        QVERIFY(form.run_progress->geometry().bottom() < form.Label6->geometry().top());
    }

    void redraw_uses_edited_cells() {
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        type_cell(form.StringGrid1, 2, 2, "0");
        type_cell(form.StringGrid1, 2, 3, "0");
        type_cell(form.StringGrid4, 1, 4, "40");
        const auto before = form.log_lines().size();
        QTest::mouseClick(form.Draw, Qt::LeftButton);
        // No discovery before a redraw; the fifth width is also the margin.
        QCOMPARE(lines_since(form, before), run_lines("square.g", 40));
        QCOMPARE(fill_colors(form), std::vector<uint32_t>{0x00007Fu});
        QCOMPARE(form.held().widths[4], 40);
        // A cell without a number keeps the value held from the last run.
        type_cell(form.StringGrid4, 1, 4, "wide");
        QTest::mouseClick(form.Draw, Qt::LeftButton);
        QVERIFY(form.log_lines().contains("margin : 40"));
        QCOMPARE(form.log_lines().last(), QStringLiteral("draw finished."));
    }

    void discovery_reloads_grids_but_redraw_keeps_edits() {
        write_file("demo.g", demo_graph());
        TForm1& form = open_form();
        auto before = form.log_lines().size();
        type_name_and_enter(form, "demo.g");
        QStringList expected{u8("open demo.g for searching color table name."), "open " + prog_dir_ + "/tone-demo.ktc.",
                             "open " + prog_dir_ + "/line-demo.klc.", "find color table."};
        expected << run_lines("demo.g");
        QCOMPARE(lines_since(form, before), expected);
        QCOMPARE(row(form.StringGrid1, 2), QStringList({" 50", "120", "170", "230"}));
        QCOMPARE(row(form.StringGrid3, 3), QStringList({"  2", "200", " 40", " 40"}));
        QCOMPARE(fill_colors(form), std::vector<uint32_t>{0xE6AA78u});

        type_cell(form.StringGrid1, 2, 1, "255");
        before = form.log_lines().size();
        QTest::mouseClick(form.Draw, Qt::LeftButton);
        QCOMPARE(lines_since(form, before), run_lines("demo.g"));
        QCOMPARE(form.StringGrid1->cell(2, 1), QStringLiteral("255"));
        QCOMPARE(fill_colors(form), std::vector<uint32_t>{0xE6AAFFu});

        type_name_and_enter(form, "demo.g");
        QCOMPARE(form.StringGrid1->cell(2, 1), QStringLiteral("120"));
    }

    void discovery_switched_off_reads_nothing() {
        write_file("demo.g", demo_graph());
        TForm1& form = open_form();
        QAbstractButton* off = form.RadioGroup1->item(1);
        QTest::mouseClick(off, Qt::LeftButton, {}, QPoint(8, off->height() / 2));
        QCOMPARE(form.RadioGroup1->item_index(), 1);
        const auto before = form.log_lines().size();
        type_name_and_enter(form, "demo.g");
        QCOMPARE(lines_since(form, before), run_lines("demo.g"));
        QCOMPARE(row(form.StringGrid1, 2), QStringList({"100", "255", "255", "255"}));
    }

    void empty_and_missing_names() {
        TForm1& form = open_form();
        auto before = form.log_lines().size();
        type_name_and_enter(form, "");
        QCOMPARE(lines_since(form, before), QStringList({"File name is empty.", "File name is empty."}));
        before = form.log_lines().size();
        type_name_and_enter(form, "nothing.g");
        QCOMPARE(lines_since(form, before),
                 QStringList({"open nothing.g for searching color table name.", "Cannot open file.", "open nothing.g.",
                              "Cannot open file."}));
        QCOMPARE(form.picture_flag(), 0);
        QVERIFY(!QFile::exists(QDir(work_dir_).filePath("graph.emf")));
    }

    void file_chooser_chosen_then_cancelled() {
        const QString path = write_file("sub/chosen.g", kSquareGraph);
        TForm1& form = open_form();
        answers_ = {path, QString()};
        auto before = form.log_lines().size();
        QTest::mouseClick(form.File, Qt::LeftButton);
        QCOMPARE(requests_.size(), size_t{1});
        QCOMPARE(requests_[0].name, QStringLiteral("OpenDialog1"));
        QCOMPARE(requests_[0].filter, u8("グラフファイル(*.g)"));
        QVERIFY(!requests_[0].save);
        QCOMPARE(form.Edit1->text(), path);
        QStringList expected{"open " + path + " for searching color table name.", "no color table."};
        expected << run_lines(path);
        QCOMPARE(lines_since(form, before), expected);
        // The chosen file's folder becomes the current directory, where graph.emf goes.
        QCOMPARE(QDir::currentPath(), QFileInfo(path).absolutePath());
        QVERIFY(QFile::exists(QFileInfo(path).absolutePath() + "/graph.emf"));

        before = form.log_lines().size();
        QTest::mouseClick(form.File, Qt::LeftButton);
        QCOMPARE(requests_.size(), size_t{2});
        QCOMPARE(requests_[1].selected, path);
        QCOMPARE(lines_since(form, before), QStringList());
        QCOMPARE(form.Edit1->text(), path);
    }

    void drop_one_file_draws_it() {
        const QString path = write_file("dropped.g", kSquareGraph);
        TForm1& form = open_form();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QVERIFY(enter.isAccepted());
        const auto before = form.log_lines().size();
        QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
        QCOMPARE(form.Edit1->text(), path);
        QStringList expected{"open " + path + " for searching color table name.", "no color table."};
        expected << run_lines(path);
        QCOMPARE(lines_since(form, before), expected);
        QCOMPARE(form.picture_flag(), 1);
    }

    void drop_two_files_draws_nothing() {
        const QString a = write_file("a.g", kSquareGraph);
        const QString b = write_file("b.g", kSquareGraph);
        TForm1& form = open_form();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QVERIFY(enter.isAccepted());
        const auto before = form.log_lines().size();
        QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
        QCOMPARE(lines_since(form, before), QStringList({u8("ドラッグしたファイルの個数が多すぎます。")}));
        QCOMPARE(form.Edit1->text(), QStringLiteral("graph.g"));
        QCOMPARE(form.picture_flag(), 0);
        // The text box does not take the drop for itself: the window gets it.
        QVERIFY(!form.Edit1->acceptDrops());
    }

    void start_with_one_argument_draws_it() {
        const QString path = write_file("demo.g", demo_graph());
        TForm1& form = open_form({path});
        QTRY_VERIFY(form.log_lines().contains("draw finished."));
        QCOMPARE(form.Edit1->text(), path);
        QVERIFY(form.log_lines().contains("find color table."));
        QCOMPARE(form.picture_flag(), 1);
        // Later paints neither start another run nor lose the picture.
        const auto before = form.log_lines().size();
        form.PaintBox1->repaint();
        QApplication::processEvents();
        QCOMPARE(form.log_lines().size(), before);
        const QImage shot = form.Panel1->grab().toImage();
        QCOMPARE(QColor(shot.pixel(form.PaintBox1->pos() + QPoint(170, 276))), QColor(0x78, 0xAA, 0xE6));
    }

    void start_with_two_arguments_draws_nothing() {
        const QString a = write_file("a.g", kSquareGraph);
        TForm1& form = open_form({a, a});
        QTest::qWait(50);
        QCOMPARE(form.log_lines().size(), 2);
        QCOMPARE(form.Edit1->text(), QStringLiteral("graph.g"));
        QCOMPARE(form.picture_flag(), 0);
    }

    void copy_without_picture() {
        TForm1& form = open_form();
        QGuiApplication::clipboard()->setText("kept");
        QTest::mouseClick(form.Copy_to_clip, Qt::LeftButton);
        QCOMPARE(form.log_lines().last(), u8("クリップボードへコピーするデータがありません"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
    }

    void copy_offers_metafile_svg_and_png() {
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        QTest::mouseClick(form.Copy_to_clip, Qt::LeftButton);
        QCOMPARE(form.log_lines().last(), u8("クリップボードへコピーしました"));
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        QVERIFY(mime);
        const QByteArray emf = read_all(QDir(work_dir_).filePath("graph.emf"));
        QCOMPARE(mime->data("image/x-emf"), emf);
        QCOMPARE(mime->data("application/x-openoffice-emf;windows_formatname=\"Image EMF\""), emf);
        QImage png;
        QVERIFY(png.loadFromData(mime->data("image/png"), "PNG"));
        QVERIFY(png.width() > 100 && png.height() > 100);
        QSvgRenderer svg(mime->data("image/svg+xml"));
        QVERIFY(svg.isValid());
    }

    void copy_after_failed_run_offers_earlier_picture() {
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        const QByteArray emf = read_all(QDir(work_dir_).filePath("graph.emf"));
        type_name_and_enter(form, "missing.g");
        QCOMPARE(form.log_lines().last(), QStringLiteral("Cannot open file."));
        QTest::mouseClick(form.Copy_to_clip, Qt::LeftButton);
        QCOMPARE(form.log_lines().last(), u8("クリップボードへコピーしました"));
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->data("image/x-emf"), emf);
    }

    void unreadable_picture_goes_to_error_box() {
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        const auto picture = form.picture();
        DrawRunResult failed;
        failed.picture_renewed = true;
        failed.rendered = true;
        failed.read_error = "graph.emf is not an enhanced metafile";
        const auto before = form.log_lines().size();
        form.show_run_result(std::move(failed));
        QCOMPARE(boxes_.size(), size_t{1});
        QCOMPARE(boxes_[0].first, QStringLiteral("graph.emf is not an enhanced metafile."));
        QCOMPARE(boxes_[0].second, QStringLiteral("Plotmint"));
        QCOMPARE(form.log_lines().size(), before);
        QCOMPARE(form.picture_flag(), 1);
        QCOMPARE(form.picture()->bytes, picture->bytes);
    }

    void escaped_error_shows_error_box() {
        Thrower thrower;
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &event);
        QCOMPARE(boxes_.size(), size_t{1});
        QCOMPARE(boxes_[0].first, QStringLiteral("cannot read the picture."));
        QCOMPARE(boxes_[0].second, QStringLiteral("Plotmint"));
    }

    void tone_table_save_and_load_round_trip() {
        TForm1& form = open_form();
        const QString saved = QDir(work_dir_).filePath("mine.ktc");
        answers_ = {saved};
        QTest::mouseClick(form.tone_save, Qt::LeftButton);
        QCOMPARE(requests_.back().name, QStringLiteral("SaveDialog1"));
        QCOMPARE(requests_.back().filter, u8("塗りつぶし色の定義(*.ktc)"));
        QCOMPARE(requests_.back().default_suffix, QStringLiteral("ktc"));
        QVERIFY(requests_.back().save);
        QCOMPARE(read_all(saved), QByteArray("color\nno.   r   g   b\n  0   0   0   0\n100 255 255 255\n\n"));

        // Edits are saved as typed; rows below the node count are not.
        type_cell(form.StringGrid1, 2, 1, "10");
        type_cell(form.StringGrid1, 3, 0, "110");
        const QString edited = QDir(work_dir_).filePath("edited.ktc");
        answers_ = {edited};
        QTest::mouseClick(form.tone_save, Qt::LeftButton);
        QCOMPARE(read_all(edited), QByteArray("color\nno.   r   g   b\n  0   0   0   0\n100 10 255 255\n\n"));

        answers_ = {saved};
        const auto before = form.log_lines().size();
        QTest::mouseClick(form.tone_load, Qt::LeftButton);
        QCOMPARE(requests_.back().name, QStringLiteral("OpenDialog2"));
        QCOMPARE(requests_.back().filter, u8("塗りつぶし色の定義(*.ktc)"));
        QCOMPARE(lines_since(form, before), QStringList({"open " + saved + "."}));

        QCOMPARE(row(form.StringGrid1, 2), QStringList({"100", "255", "255", "255"}));
        QCOMPARE(row(form.StringGrid1, 3), QStringList({"", "", "", ""}));
    }

    void line_table_save_and_load_round_trip() {
        TForm1& form = open_form();
        type_cell(form.StringGrid3, 5, 2, "77");
        const QString saved = QDir(work_dir_).filePath("mine.klc");
        answers_ = {saved};
        QTest::mouseClick(form.pen_save, Qt::LeftButton);
        QCOMPARE(requests_.back().name, QStringLiteral("SaveDialog2"));
        QCOMPARE(requests_.back().filter, u8("線色の定義(*.klc)"));
        QCOMPARE(requests_.back().default_suffix, QStringLiteral("klc"));
        const QList<QByteArray> lines = read_all(saved).split('\n');
        QCOMPARE(lines.size(), 2 + 31 + 2);  // header, rows, empty line, end
        QCOMPARE(lines[0], QByteArray("color"));
        QCOMPARE(lines[6], QByteArray("  4  20 77 220"));
        QCOMPARE(lines[33], QByteArray());

        answers_ = {prog_dir_ + "/line-demo.klc"};
        QTest::mouseClick(form.pen_load, Qt::LeftButton);
        QCOMPARE(requests_.back().name, QStringLiteral("OpenDialog3"));
        QCOMPARE(row(form.StringGrid3, 3), QStringList({"  2", "200", " 40", " 40"}));
        answers_ = {saved};
        QTest::mouseClick(form.pen_load, Qt::LeftButton);
        QCOMPARE(row(form.StringGrid3, 5), QStringList({"  4", " 20", " 77", "220"}));
    }

    void cancelled_table_dialogs_change_nothing() {
        TForm1& form = open_form();
        const QString saved = QDir(work_dir_).filePath("kept.ktc");
        answers_ = {saved};
        QTest::mouseClick(form.tone_save, Qt::LeftButton);
        const QByteArray first = read_all(saved);
        type_cell(form.StringGrid1, 2, 1, "9");
        type_cell(form.StringGrid3, 2, 1, "9");
        const auto before = form.log_lines().size();
        answers_ = {QString(), QString(), QString(), QString()};
        QTest::mouseClick(form.tone_load, Qt::LeftButton);
        QTest::mouseClick(form.pen_load, Qt::LeftButton);
        QTest::mouseClick(form.tone_save, Qt::LeftButton);
        QTest::mouseClick(form.pen_save, Qt::LeftButton);
        QCOMPARE(requests_.size(), size_t{5});
        QCOMPARE(requests_[3].selected, saved);  // offered again, but not written over
        QCOMPARE(lines_since(form, before), QStringList());
        QCOMPARE(form.StringGrid1->cell(2, 1), QStringLiteral("9"));
        QCOMPARE(form.StringGrid3->cell(2, 1), QStringLiteral("9"));
        QCOMPARE(read_all(saved), first);
    }

    void failed_saves_are_reported() {
        TForm1& form = open_form();
        const QString nowhere = QDir(work_dir_).filePath("no/such/folder/t.ktc");
        answers_ = {nowhere, QDir(work_dir_).filePath("no/such/folder/t.klc")};
        QTest::mouseClick(form.tone_save, Qt::LeftButton);
        QCOMPARE(form.log_lines().last(), QStringLiteral("cannot open tone file"));
        QTest::mouseClick(form.pen_save, Qt::LeftButton);
        QCOMPARE(form.log_lines().last(), QStringLiteral("cannot open line color file"));
        QVERIFY(!QFile::exists(nowhere));
    }

    void panel_colour_applies_on_enter() {
        TForm1& form = open_form();
        const QColor button = QApplication::palette().color(QPalette::Button);
        auto before = form.log_lines().size();
        // Typing alone changes nothing; Enter in the grid applies the cells.
        type_cell(form.StringGrid5, 1, 0, "0", Qt::Key_Tab);
        type_cell(form.StringGrid5, 1, 1, "0", Qt::Key_Tab);
        QCOMPARE(form.panel_color(), button);
        QCOMPARE(form.log_lines().size(), before);
        type_cell(form.StringGrid5, 1, 2, "255");
        QCOMPARE(form.panel_color(), QColor(0, 0, 255));
        QCOMPARE(lines_since(form, before), QStringList({"RGB : 0  0  255"}));
        QCOMPARE(QColor(form.Panel1->grab().toImage().pixel(4, 200)), QColor(0, 0, 255));

        before = form.log_lines().size();
        type_cell(form.StringGrid5, 1, 1, "256");
        QCOMPARE(form.panel_color(), button);
        QCOMPARE(form.log_lines().size(), before);

        type_cell(form.StringGrid5, 1, 1, "10");
        QCOMPARE(form.panel_color(), QColor(0, 10, 255));
        // Enter on the grid itself, outside a cell editor, applies too.
        form.StringGrid5->setFocus();
        QTest::keyClick(form.StringGrid5, Qt::Key_Return);
        QCOMPARE(form.log_lines().last(), QStringLiteral("RGB : 0  10  255"));
    }

    // The preview takes the room a larger window gives; the left and middle columns stay.
    void preview_grows_with_the_window_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("default") << QSize(TForm1::kClientWidth, TForm1::kClientHeight)
                                 << QSize(TForm1::kClientWidth, TForm1::kClientHeight);
        QTest::newRow("1600 x 1200") << QSize(1600, 1200) << QSize(1600, 1200);
        QTest::newRow("wide") << QSize(1800, 700) << QSize(1800, 700);
        QTest::newRow("smaller is refused") << QSize(600, 400) << QSize(TForm1::kClientWidth, TForm1::kClientHeight);
    }
    void preview_grows_with_the_window() {
        QFETCH(QSize, size);
        QFETCH(QSize, expected);
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        const QRect default_rect(QPoint(57, 106), QPoint(228, 334));
        QCOMPARE(form.preview_rect(), default_rect);
        const QRect file_place = form.File->geometry(), tone_place = form.StringGrid1->geometry();
        form.resize(size);
        QCOMPARE(form.size(), expected);
        QCOMPARE(form.File->geometry(), file_place);
        QCOMPARE(form.StringGrid1->geometry(), tone_place);
        QCOMPARE(form.Panel1->geometry(), QRect(552, 16, expected.width() - 557, expected.height() - 129));
        QCOMPARE(form.Memo1->geometry(), QRect(16, 304, 185, expected.height() - 313));
        // The panel colour's grid stays under the preview and inside the window.
        QVERIFY(form.Label6->geometry().top() > form.Panel1->geometry().bottom());
        QVERIFY(QRect(QPoint(0, 0), form.size()).contains(form.StringGrid5->geometry()));

        const QRect r = form.preview_rect();
        QVERIFY2(form.PaintBox1->rect().contains(r), qPrintable(QString("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())));
        if (expected == QSize(TForm1::kClientWidth, TForm1::kClientHeight)) {
            QCOMPARE(r, default_rect);
        } else {
            QVERIFY(r.width() > default_rect.width() && r.height() > default_rect.height());
            // The page keeps its shape, so the picture does too.
            QVERIFY(qAbs(double(r.width()) / r.height() - double(default_rect.width()) / default_rect.height()) < 0.02);
        }
        // The fill's middle shows the fill's grey.
        const QImage shot = form.PaintBox1->grab().toImage();
        QCOMPARE(QColor(shot.pixel(fill_point(r))), QColor(127, 127, 127));
        // Back at the default size the run's own place returns, to the pixel.
        form.resize(TForm1::kClientWidth, TForm1::kClientHeight);
        QCOMPARE(form.preview_rect(), default_rect);
    }

    void picture_beyond_the_page_is_shown_whole_data() {
        QTest::addColumn<QRect>("extent");  // xmin, ymin as the corner, xmax, ymax as the size
        QTest::addColumn<QSize>("window");
        const QSize small(TForm1::kClientWidth, TForm1::kClientHeight), large(1600, 1200);
        QTest::newRow("right and top") << QRect(QPoint(1000, 2000), QPoint(9000, 12000)) << small;
        QTest::newRow("left and bottom") << QRect(QPoint(-3000, -1500), QPoint(4000, 6000)) << small;
        QTest::newRow("all round, wide") << QRect(QPoint(-9000, -500), QPoint(14000, 8000)) << small;
        QTest::newRow("all round, enlarged") << QRect(QPoint(-9000, -500), QPoint(14000, 8000)) << large;
    }
    void picture_beyond_the_page_is_shown_whole() {
        QFETCH(QRect, extent);
        QFETCH(QSize, window);
        write_file("big.g", beyond_page_graph(extent.left(), extent.top(), extent.right(), extent.bottom()));
        TForm1& form = open_form();
        form.resize(window);
        type_name_and_enter(form, "big.g");
        QCOMPARE(form.log_lines().last(), QStringLiteral("draw finished."));
        const QRect r = form.preview_rect();
        const QRect box = form.PaintBox1->rect();
        QVERIFY2(box.contains(r), qPrintable(QString("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())));
        // As large as the box allows: one pair of sides reaches the box's inset.
        QVERIFY(r.width() >= box.width() - 10 || r.height() >= box.height() - 10);
        // In the extent's own shape.
        const double shape = double(extent.width() - 1) / (extent.height() - 1);
        QVERIFY(qAbs(double(r.width()) / r.height() / shape - 1.0) < 0.03);
        // The square's fill lies where the extent puts it.
        const double fx = (3000.0 - extent.left()) / (extent.width() - 1);
        const double fy = (extent.bottom() - 3000.0) / (extent.height() - 1);
        const QPoint fill(r.left() + int(fx * r.width()), r.top() + int(fy * r.height()));
        QCOMPARE(QColor(form.PaintBox1->grab().toImage().pixel(fill)), QColor(127, 127, 127));
    }

    void zoom_and_pan_in_the_preview() {
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        const QRect fitted = form.preview_rect();
        // The wheel zooms about the pointer: the picture point under it stays.
        const QPointF at(100, 200);
        const QRectF before = form.preview_rect();
        const QPointF rel((at.x() - before.left()) / before.width(), (at.y() - before.top()) / before.height());
        QWheelEvent wheel(at, form.PaintBox1->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(form.PaintBox1, &wheel);
        QCOMPARE(form.zoom(), 1.5625);
        const QRectF after = form.preview_rect();
        QVERIFY(qAbs(after.width() / before.width() - 1.5625) < 0.02);
        QVERIFY(qAbs(after.left() + rel.x() * after.width() - at.x()) < 2);
        QVERIFY(qAbs(after.top() + rel.y() * after.height() - at.y()) < 2);
        // Keys in the preview: minus zooms out, plus in.
        form.PaintBox1->setFocus();
        QTest::keyClick(form.PaintBox1, Qt::Key_Minus);
        QCOMPARE(form.zoom(), 1.25);
        QTest::keyClick(form.PaintBox1, Qt::Key_Plus);
        QCOMPARE(form.zoom(), 1.5625);
        // A drag moves the picture with the pointer.
        const QRect zoomed = form.preview_rect();
        QTest::mousePress(form.PaintBox1, Qt::LeftButton, Qt::NoModifier, QPoint(150, 200));
        QMouseEvent move(QEvent::MouseMove, QPointF(110, 230), form.PaintBox1->mapToGlobal(QPointF(110, 230)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.PaintBox1, &move);
        QTest::mouseRelease(form.PaintBox1, Qt::LeftButton, Qt::NoModifier, QPoint(110, 230));
        QCOMPARE(form.preview_rect(), zoomed.translated(-40, 30));
        // The fill follows: its middle is grey where the moved rectangle's middle is.
        QCOMPARE(QColor(form.PaintBox1->grab().toImage().pixel(fill_point(form.preview_rect()))), QColor(127, 127, 127));
        // Fit brings the run's own place back.
        QTest::keyClick(form.PaintBox1, Qt::Key_0);
        QCOMPARE(form.zoom(), 1.0);
        QCOMPARE(form.preview_rect(), fitted);
        // The zoom has bounds.
        for (int i = 0; i < 40; ++i) form.zoom_by(2.0);
        QCOMPARE(form.zoom(), TForm1::kMaxZoom);
    }

    void stale_note_after_a_failed_run_data() {
        QTest::addColumn<QString>("failing");
        QTest::newRow("missing file") << QStringLiteral("missing.g");
        QTest::newRow("empty name") << QString();
        QTest::newRow("picture cannot be written") << QStringLiteral("square.g");
    }
    void stale_note_after_a_failed_run() {
        QFETCH(QString, failing);
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        const QPoint middle = fill_point(form.preview_rect());
        const QPoint note(12, 12);  // inside the note's box, outside the picture
        auto pixel = [&form](QPoint p) { return QColor(form.PaintBox1->grab().toImage().pixel(p)); };
        QVERIFY(!form.picture_stale());
        QCOMPARE(pixel(middle), QColor(127, 127, 127));
        QCOMPARE(pixel(note), form.panel_color());

        // A folder in graph.emf's place makes the run fail after it has read the graph.
        const bool block_output = failing == QStringLiteral("square.g");
        if (block_output) QVERIFY(QFile::remove("graph.emf") && QDir().mkdir("graph.emf"));
        type_name_and_enter(form, failing);
        QVERIFY(form.log_lines().last() != QStringLiteral("draw finished."));
        if (block_output) QVERIFY(QDir().rmdir("graph.emf"));
        QVERIFY(form.picture());
        QVERIFY(form.picture_stale());
        QVERIFY(qGray(pixel(middle).rgb()) > 160);  // washed out
        QVERIFY(pixel(note) != form.panel_color());

        type_name_and_enter(form, "square.g");
        QVERIFY(!form.picture_stale());
        QCOMPARE(pixel(middle), QColor(127, 127, 127));
        QCOMPARE(pixel(note), form.panel_color());
    }

    void failed_first_run_marks_nothing() {
        TForm1& form = open_form();
        type_name_and_enter(form, "missing.g");
        QVERIFY(!form.picture());
        QVERIFY(!form.picture_stale());
    }

    void watched_file_redraws_once_per_burst_data() {
        QTest::addColumn<bool>("replace");
        QTest::newRow("rewritten in place") << false;
        QTest::newRow("replaced by rename") << true;
    }
    void watched_file_redraws_once_per_burst() {
        QFETCH(bool, replace);
        const QString path = write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        const QString finished = QStringLiteral("draw finished.");
        QCOMPARE(count_lines(form.log_lines(), finished), 1);
        QTest::mouseClick(form.Watch, Qt::LeftButton);
        QVERIFY(form.Watch->isChecked());
        QCOMPARE(form.watched_file(), QFileInfo(path).absoluteFilePath());
        // Nothing changes, nothing is drawn (the run's own graph.emf sits in the same folder).
        QTest::qWait(TForm1::kWatchQuietMs * 2);
        QCOMPARE(count_lines(form.log_lines(), finished), 1);

        auto rewrite = [&](const QByteArray& text) {
            if (!replace) {
                write_file("square.g", text);
                return;
            }
            write_file("square.g.new", text);
            QFile::remove(path);
            QVERIFY(QFile::rename(path + ".new", path));
        };
        rewrite(QByteArray(kSquareGraph) + "9 0 0\n");
        QTest::qWait(50);
        rewrite(kSquareGraph);
        QTRY_COMPARE_WITH_TIMEOUT(count_lines(form.log_lines(), finished), 2, 5000);
        QTest::qWait(TForm1::kWatchQuietMs * 3);
        QCOMPARE(count_lines(form.log_lines(), finished), 2);

        // The watch goes on after a replacement, and stops when unchecked.
        rewrite(QByteArray(kSquareGraph) + "9 0 0\n");
        QTRY_COMPARE_WITH_TIMEOUT(count_lines(form.log_lines(), finished), 3, 5000);
        QTest::mouseClick(form.Watch, Qt::LeftButton);
        QVERIFY(form.watched_file().isEmpty());
        rewrite(kSquareGraph);
        QTest::qWait(TForm1::kWatchQuietMs * 3);
        QCOMPARE(count_lines(form.log_lines(), finished), 3);
    }

    void language_follows_the_desktop_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("japanese");
        QTest::newRow("ja_JP") << "ja_JP" << true;
        QTest::newRow("en_US") << "en_US" << false;
        QTest::newRow("de_DE") << "de_DE" << false;
        QTest::newRow("C") << "C" << false;
    }
    void language_follows_the_desktop() {
        QFETCH(QString, locale);
        QFETCH(bool, japanese);
        QCOMPARE(language_for_locale(QLocale(locale)) == UiLanguage::japanese, japanese);
    }

    void language_option_is_taken_out_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("rest");
        QTest::addColumn<int>("language");  // -1 none, 0 Japanese, 1 English
        QTest::addColumn<QString>("bad");
        QTest::newRow("none") << QStringList{"a.g"} << QStringList{"a.g"} << -1 << QString();
        QTest::newRow("en first") << QStringList{"--lang", "en", "a.g"} << QStringList{"a.g"} << 1 << QString();
        QTest::newRow("ja last") << QStringList{"a.g", "--lang", "ja"} << QStringList{"a.g"} << 0 << QString();
        QTest::newRow("joined") << QStringList{"--lang=en", "a.g", "b.g"} << QStringList{"a.g", "b.g"} << 1 << QString();
        QTest::newRow("unknown") << QStringList{"--lang", "fr", "a.g"} << QStringList{"a.g"} << -1 << "fr";
        QTest::newRow("no value") << QStringList{"a.g", "--lang"} << QStringList{"a.g"} << -1 << "";
    }
    void language_option_is_taken_out() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, rest);
        QFETCH(int, language);
        QFETCH(QString, bad);
        QString given;
        const auto chosen = take_language_option(args, &given);
        QCOMPARE(args, rest);
        QCOMPARE(chosen ? (*chosen == UiLanguage::english ? 1 : 0) : -1, language);
        QCOMPARE(given, bad);
    }

    void captions_follow_the_language_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QStringList>("captions");  // File, Draw, RadioGroup1, Label6, width title, Watch, print
        QTest::addColumn<QString>("filter");
        QTest::newRow("ja") << false
                            << QStringList{u8("ファイルを選ぶ"), u8("再描画"), u8("カラーテーブル自動読込"),
                                           u8("パネルの色（-1を指定するとボタンカラー）"), u8("線幅"), u8("監視"),
                                           u8("印刷...")}
                            << u8("グラフファイル(*.g)");
        QTest::newRow("en") << true
                            << QStringList{"Choose file", "Redraw", "Auto-load colour tables",
                                           "Panel colour (-1: button colour)", "Wid", "Watch", "Print..."}
                            << "Graph files (*.g)";
    }
    void captions_follow_the_language() {
        QFETCH(bool, english);
        QFETCH(QStringList, captions);
        QFETCH(QString, filter);
        struct Restore {
            ~Restore() { remove_translations(); }
        } restore;
        const bool loaded = install_translations(english ? UiLanguage::english : UiLanguage::japanese);
        // Ours is built in and must load; Qt's own Japanese one, for the file dialogs, where the
        // system has it.
        const bool qt_ja = QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm");
        if (english || qt_ja) QVERIFY(loaded);
        const QString look_in = QCoreApplication::translate("QFileDialog", "Look in:");
        if (english) QCOMPARE(look_in, QStringLiteral("Look in:"));
        if (!english && qt_ja) QCOMPARE(look_in, u8("アドレス:"));
        TForm1& form = open_form();
        std::unique_ptr<QMenu> menu(PreviewMenu::build(form));
        const QAction* print = menu->findChild<QAction*>("print");
        QVERIFY(print);
        QCOMPARE(QStringList({form.File->text(), form.Draw->text(), form.RadioGroup1->title(), form.Label6->text(),
                              form.StringGrid2->cell(0, 3), form.Watch->text(), print->text()}),
                 captions);
        // Log lines stay as the program has always written them.
        QCOMPARE(form.log_lines().first(), "open " + prog_dir_ + "/tone-default.ktc.");
        answers_ << QString();
        QTest::mouseClick(form.File, Qt::LeftButton);
        QCOMPARE(requests_.back().filter, filter);
        // Every caption fits in its control.
        for (RadioGroup* g : {form.RadioGroup1, form.RadioGroup2, form.RadioGroup4}) {
            QVERIFY2(QFontMetrics(g->font()).horizontalAdvance(g->title()) <= g->width() - 16, qPrintable(g->title()));
            for (int i = 0; i < g->count(); ++i)
                QVERIFY2(g->item(i)->geometry().left() + g->item(i)->sizeHint().width() <= g->width(),
                         qPrintable(g->item(i)->text()));
        }
        const int width_title = form.StringGrid2->fontMetrics().horizontalAdvance(form.StringGrid2->cell(0, 3));
        QVERIFY2(width_title + 6 <= form.StringGrid2->columnWidth(3), qPrintable(QString::number(width_title)));
        for (QLabel* l : {form.Label1, form.Label2, form.Label3, form.Label4, form.Label5, form.Label6})
            QVERIFY2(l->geometry().right() < form.width(), qPrintable(l->text()));
        QVERIFY(form.Label3->geometry().bottom() < form.StringGrid4->geometry().top());
        QVERIFY(form.Watch->geometry().right() < form.RadioGroup2->geometry().left());
        QVERIFY(!form.Watch->geometry().intersects(form.Label1->geometry()));
        QCOMPARE(form.Memo1->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    }

    void language_option_before_the_one_graph_file_argument() {
        const QString path = write_file("square.g", kSquareGraph);
        TForm1& form = open_form({"--lang", "en", path});
        QTRY_VERIFY(form.log_lines().contains("draw finished."));
        QCOMPARE(form.Edit1->text(), path);
    }

    void print_rect_data() {
        QTest::addColumn<QRect>("frame");  // hundredths of a millimetre
        QTest::addColumn<QRectF>("expected");
        const QRectF page(0, 0, 4800, 6600);  // 203 x 279 mm at 600 dpi
        QTest::newRow("fits: its own size") << QRect(0, 0, 5080, 2540) << QRectF(0, 0, 1200, 600);
        QTest::newRow("too wide: fitted") << QRect(0, 0, 50800, 2540) << QRectF(0, 0, 4800, 240);
        QTest::newRow("too tall: fitted") << QRect(0, 0, 2540, 50800) << QRectF(0, 0, 330, 6600);
        QTest::newRow("empty") << QRect(0, 0, 0, 0) << QRectF();
    }
    void print_rect() {
        QFETCH(QRect, frame);
        QFETCH(QRectF, expected);
        EmfPicture picture;
        picture.frame = {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
        const QRectF r = PreviewMenu::print_rect(picture, QRectF(0, 0, 4800, 6600), 600, 600);
        QCOMPARE(r.topLeft(), expected.topLeft());
        QVERIFY(qAbs(r.width() - expected.width()) < 0.01 && qAbs(r.height() - expected.height()) < 0.01);
    }

    void print_to_a_pdf_file() {
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        const QString pdf = QDir(work_dir_).filePath("printed.pdf");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        QVERIFY(!PreviewMenu::print_picture(form, printer));  // nothing drawn yet
        QVERIFY(!QFile::exists(pdf));
        type_name_and_enter(form, "square.g");
        QVERIFY(PreviewMenu::print_picture(form, printer));
        const QByteArray bytes = read_all(pdf);
        QVERIFY(bytes.startsWith("%PDF"));
        QVERIFY(bytes.size() > 500);
    }

    void print_preview_opens_from_the_menu() {
        write_file("square.g", kSquareGraph);
        TForm1& form = open_form();
        type_name_and_enter(form, "square.g");
        QString seen;
        QTimer::singleShot(200, [&seen] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                seen = w->objectName();
                w->close();
            }
        });
        std::unique_ptr<QMenu> menu(PreviewMenu::build(form));
        menu->findChild<QAction*>("print")->trigger();
        QCOMPARE(seen, QStringLiteral("PrintPreview"));
    }

    void finish_closes_the_window() {
        TForm1& form = open_form();
        QTest::mouseClick(form.Finish, Qt::LeftButton);
        QVERIFY(!form.isVisible());
    }

    // Screenshots for the documentation; taken when PLOTMINT_SCREENSHOT_DIR names a folder.
    void screenshots() {
        const QString out = qEnvironmentVariable("PLOTMINT_SCREENSHOT_DIR");
        prog_dir_ = PLOTMINT_BIN_DIR;  // the tables installed beside the programs
        TForm1& form = open_form();
        const QImage start = form.grab().toImage();
        QCOMPARE(start.size(), QSize(TForm1::kClientWidth, TForm1::kClientHeight) * start.devicePixelRatio());
        if (!out.isEmpty()) QVERIFY(start.save(out + "/window-startup.png"));

        const QString example = copy_example();
        if (example.isEmpty()) QSKIP("examples/graph.g is missing");
        type_name_and_enter(form, example);
        QCOMPARE(form.log_lines().last(), QStringLiteral("draw finished."));
        const QImage drawn = form.grab().toImage();
        const QRect preview = form.preview_rect().translated(form.PaintBox1->mapTo(&form, QPoint(0, 0)));
        int ink = 0;
        for (int y = preview.top(); y <= preview.bottom(); y += 2)
            for (int x = preview.left(); x <= preview.right(); x += 2)
                ink += qGray(drawn.pixel(x, y)) < 100;
        QVERIFY2(ink > 50, qPrintable(QString::number(ink)));
        if (!out.isEmpty()) QVERIFY(drawn.save(out + "/window-drawn.png"));

        type_name_and_enter(form, "no-such-graph.g");
        QCOMPARE(form.log_lines().last(), QStringLiteral("Cannot open file."));
        QVERIFY(form.picture_stale());
        if (!out.isEmpty()) QVERIFY(form.grab().toImage().save(out + "/window-failed.png"));

        // Enlarged, the preview takes the room.
        form.resize(1400, 1000);
        type_name_and_enter(form, example);
        QCOMPARE(form.log_lines().last(), QStringLiteral("draw finished."));
        const QImage enlarged = form.grab().toImage();
        QCOMPARE(enlarged.size(), QSize(1400, 1000) * enlarged.devicePixelRatio());
        if (!out.isEmpty()) QVERIFY(enlarged.save(out + "/window-enlarged.png"));
    }

    void screenshot_english() {
        const QString out = qEnvironmentVariable("PLOTMINT_SCREENSHOT_DIR");
        const QString example = copy_example();
        if (example.isEmpty()) QSKIP("examples/graph.g is missing");
        struct Restore {
            ~Restore() { remove_translations(); }
        } restore;
        QVERIFY(install_translations(UiLanguage::english));
        prog_dir_ = PLOTMINT_BIN_DIR;
        TForm1& form = open_form();
        type_name_and_enter(form, example);
        QCOMPARE(form.log_lines().last(), QStringLiteral("draw finished."));
        QCOMPARE(form.Draw->text(), QStringLiteral("Redraw"));
        if (!out.isEmpty()) QVERIFY(form.grab().toImage().save(out + "/window-drawn-en.png"));
    }

    // The preview of one graph file, for scripts/make-montages.sh to set beside the other
    // players: PLOTMINT_SCREENSHOT_GRAPH names the file, PLOTMINT_SCREENSHOT_DIR the folder
    // that gets NAME-window.png. Only the picture's own rectangle is saved, from a large
    // window so that small text keeps its shape.
    void screenshot_graph() {
        const QString graph = qEnvironmentVariable("PLOTMINT_SCREENSHOT_GRAPH");
        const QString out = qEnvironmentVariable("PLOTMINT_SCREENSHOT_DIR");
        if (graph.isEmpty() || out.isEmpty())
            QSKIP("PLOTMINT_SCREENSHOT_GRAPH and PLOTMINT_SCREENSHOT_DIR name no graph file and folder");
        const QFileInfo file(graph);
        QVERIFY2(file.isFile(), qPrintable(graph));
        prog_dir_ = PLOTMINT_BIN_DIR;
        TForm1& form = open_form();
        form.resize(1600, 1500);
        type_name_and_enter(form, file.absoluteFilePath());
        QCOMPARE(form.log_lines().last(), QStringLiteral("draw finished."));
        form.PaintBox1->repaint();
        const QImage box = form.PaintBox1->grab().toImage();
        const qreal ratio = box.devicePixelRatio();
        const QRect r = form.preview_rect().intersected(form.PaintBox1->rect());
        QVERIFY2(qMax(r.width(), r.height()) > 600, qPrintable(QString("%1 x %2").arg(r.width()).arg(r.height())));
        const QImage picture = box.copy(QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio).toRect());
        // A blank preview would make a montage that shows nothing wrong.
        int ink = 0;
        for (int y = 0; y < picture.height(); y += 2)
            for (int x = 0; x < picture.width(); x += 2) ink += qGray(picture.pixel(x, y)) < 128;
        QVERIFY2(ink > 100, qPrintable(QString::number(ink)));
        QVERIFY(picture.save(QDir(out).filePath(file.completeBaseName() + "-window.png")));
    }
};

int run_main_window_tests(int argc, char** argv) {
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
