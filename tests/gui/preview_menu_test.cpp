#include "app/gui/preview_menu.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/gui/main_window.h"
#include "gui_tests.h"

using namespace plotmint;

namespace {

QString u8(const char* s) { return QString::fromUtf8(s); }

// A grey fill over x 1000..4000, y 2000..6000, as the window's own tests draw it.
const char* const kSquareGraph =
    "6 2 0\n5 0 1\n7 1 5\n0 50 0\n"
    "0 1500 2500\n0 3500 2500\n0 3500 5500\n0 1500 5500\n0 1500 2500\n"
    "9 0 0\n3 1000 2000\n2 4000 6000\n";

QByteArray read_all(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

}  // namespace

class PreviewMenuTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp_;
    QString prog_dir_, work_dir_;
    std::unique_ptr<TForm1> form_;
    std::vector<TForm1::FileDialogRequest> requests_;
    QStringList answers_;  // what the chooser answers, in turn; a null string cancels

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

    TForm1& form_with_picture() {
        QFile f(QDir(work_dir_).filePath("square.g"));
        if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write square.g");
        f.write(kSquareGraph);
        f.close();
        TForm1& form = open_form();
        form.Edit1->setText(QStringLiteral("square.g"));
        form.Edit1KeyPress('\r');
        if (form.picture_flag() != 1) qFatal("the square was not drawn");
        return form;
    }

    static QStringList entries(QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions())
            out << (a->isSeparator() ? QStringLiteral("|") : a->objectName() + (a->isEnabled() ? "" : " (off)"));
        return out;
    }

private slots:
    void init() {
        QVERIFY(make_window_folders(temp_, prog_dir_, work_dir_));
        requests_.clear();
        answers_.clear();
    }

    void cleanup() {
        form_.reset();
        drop_window_folders(temp_);
    }

    void entries_wait_for_a_picture() {
        TForm1& form = open_form();
        std::unique_ptr<QMenu> menu(PreviewMenu::build(form));
        QCOMPARE(entries(menu.get()), QStringList({"save_emf (off)", "save_svg (off)", "save_pdf (off)", "save_png (off)",
                                                   "|", "copy_image (off)", "print (off)", "|", "zoom_in (off)",
                                                   "zoom_out (off)", "zoom_fit (off)"}));
        // Reached directly, the entries do nothing without a picture either.
        const auto before = form.log_lines().size();
        PreviewMenu::save_picture(form, PictureFormat::svg);
        PreviewMenu::copy_image(form);
        QVERIFY(requests_.empty());
        QCOMPARE(form.log_lines().size(), before);
    }

    void right_click_opens_the_menu_with_everything_on() {
        TForm1& form = form_with_picture();
        const QPoint at(150, 200);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, form.PaintBox1->mapToGlobal(at));
        QApplication::sendEvent(form.PaintBox1, &event);
        QMenu* shown = nullptr;
        QTRY_VERIFY((shown = form.PaintBox1->findChild<QMenu*>(QStringLiteral("PreviewMenu"))) && shown->isVisible());
        QCOMPARE(entries(shown), QStringList({"save_emf", "save_svg", "save_pdf", "save_png", "|", "copy_image", "print", "|",
                                              "zoom_in", "zoom_out", "zoom_fit"}));
        QCOMPARE(shown->actions().front()->text(), u8("EMFとして保存..."));
        shown->close();
        // The window's layout is untouched: the box keeps its place and size.
        QCOMPARE(form.PaintBox1->geometry(), QRect(8, 8, 300, 450));
    }

    void save_writes_each_format_through_the_file_chooser_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("filter");
        QTest::newRow("emf") << int(PictureFormat::emf) << "SavePictureEmf" << u8("拡張メタファイル(*.emf)");
        QTest::newRow("svg") << int(PictureFormat::svg) << "SavePictureSvg" << u8("SVG画像(*.svg)");
        QTest::newRow("pdf") << int(PictureFormat::pdf) << "SavePicturePdf" << u8("PDF文書(*.pdf)");
        QTest::newRow("png") << int(PictureFormat::png) << "SavePicturePng" << u8("PNG画像(*.png)");
    }
    void save_writes_each_format_through_the_file_chooser() {
        QFETCH(int, format);
        QFETCH(QString, dialog);
        QFETCH(QString, filter);
        TForm1& form = form_with_picture();
        const auto f = static_cast<PictureFormat>(format);
        const QString ext = QString::fromLatin1(format_extension(f));
        const QString path = QDir(work_dir_).filePath("saved/picture." + ext);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        answers_ << path;
        PreviewMenu::save_picture(form, f);

        QCOMPARE(requests_.size(), size_t{1});
        QCOMPARE(requests_[0].name, dialog);
        QVERIFY(requests_[0].save);
        QCOMPARE(requests_[0].filter, filter);
        QCOMPARE(requests_[0].default_suffix, ext);
        QCOMPARE(form.log_lines().last(), path + u8(" に保存しました"));

        const QByteArray bytes = read_all(path);
        switch (f) {
            case PictureFormat::emf:
                QCOMPARE(bytes, QByteArray::fromStdString(form.picture()->bytes));
                break;
            case PictureFormat::svg: {
                QSvgRenderer svg(bytes);
                QVERIFY(svg.isValid());
                break;
            }
            case PictureFormat::pdf:
                QVERIFY(bytes.startsWith("%PDF-"));
                break;
            case PictureFormat::png: {
                QImage png;
                QVERIFY(png.loadFromData(bytes, "PNG"));
                // Tone 50 of the default table in the middle of the square.
                QCOMPARE(QColor(png.pixel(png.width() / 2, png.height() / 2)), QColor(127, 127, 127));
                break;
            }
        }
    }

    void cancelled_save_writes_nothing() {
        TForm1& form = form_with_picture();
        const auto before = form.log_lines().size();
        answers_ << QString();
        PreviewMenu::save_picture(form, PictureFormat::pdf);
        QCOMPARE(requests_.size(), size_t{1});
        QCOMPARE(form.log_lines().size(), before);
        QCOMPARE(QDir(work_dir_).entryList({"*.pdf"}), QStringList());
    }

    void failed_save_says_where_and_why() {
        TForm1& form = form_with_picture();
        const QString path = QDir(work_dir_).filePath("no/such/folder/x.svg");
        answers_ << path;
        PreviewMenu::save_picture(form, PictureFormat::svg);
        const QString last = form.log_lines().last();
        QVERIFY2(last.startsWith(path + u8(" を保存できません : ")), qPrintable(last));
        QVERIFY(!QFile::exists(path));
    }

    void copy_puts_the_picture_on_the_clipboard_as_an_image() {
        TForm1& form = form_with_picture();
        QGuiApplication::clipboard()->setText("before");
        PreviewMenu::copy_image(form);
        const QImage image = QGuiApplication::clipboard()->image();
        QVERIFY(!image.isNull());
        QCOMPARE(QColor(image.pixel(image.width() / 2, image.height() / 2)), QColor(127, 127, 127));
        QCOMPARE(form.log_lines().last(), u8("画像としてクリップボードへコピーしました"));
    }

    void table_argument_is_loaded_not_drawn_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("grid");  // 1 tone, 3 line colours
        QTest::newRow("tone table") << "tone-demo.ktc" << 1;
        QTest::newRow("line table, upper case") << "LINE-DEMO.KLC" << 3;
    }
    void table_argument_is_loaded_not_drawn() {
        QFETCH(QString, name);
        QFETCH(int, grid);
        const QString source = prog_dir_ + "/" + name.toLower();
        const QString path = QDir(work_dir_).filePath(name);
        QVERIFY(QFile::copy(source, path));
        TForm1& form = open_form({path});
        QTRY_COMPARE(form.log_lines().size(), 3);
        QCOMPARE(form.log_lines().last(), "open " + path + ".");
        QCOMPARE(form.picture_flag(), 0);
        QCOMPARE(form.Edit1->text(), QStringLiteral("graph.g"));
        // The grid now holds the table's first node or colour, not the default one.
        TForm1 reference({prog_dir_, QStringList(), kDefaultDisplay});
        StringGrid* loaded = grid == 1 ? form.StringGrid1 : form.StringGrid3;
        StringGrid* defaults = grid == 1 ? reference.StringGrid1 : reference.StringGrid3;
        bool differs = false;
        for (int r = 1; r < loaded->rowCount() && !differs; ++r)
            for (int c = 0; c < loaded->columnCount(); ++c)
                if (loaded->cell(r, c) != defaults->cell(r, c)) differs = true;
        QVERIFY(differs);
    }
};

int run_preview_menu_tests(int argc, char** argv) {
    PreviewMenuTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "preview_menu_test.moc"
