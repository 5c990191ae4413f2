#include "app/gui/preview_menu.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <algorithm>
#include <functional>
#include <new>

#include "app/export/picture_export.h"
#include "app/gui/application.h"
#include "app/gui/main_window.h"
#include "app/export/picture_mime.h"
#include "app/export/qt_canvas.h"
#include "base/format.h"

namespace plotmint {

namespace {

QString translated(const char* text) { return QCoreApplication::translate("plotmint::PreviewMenu", text); }

struct SaveEntry {
    PictureFormat format;
    const char* caption;
    const char* filter;
};

constexpr SaveEntry kSaveEntries[] = {
    {PictureFormat::emf, QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "EMFとして保存..."),
     QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "拡張メタファイル(*.emf)")},
    {PictureFormat::svg, QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "SVGとして保存..."),
     QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "SVG画像(*.svg)")},
    {PictureFormat::pdf, QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "PDFとして保存..."),
     QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "PDF文書(*.pdf)")},
    {PictureFormat::png, QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "PNGとして保存..."),
     QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "PNG画像(*.png)")},
};

}  // namespace

QString PreviewMenu::dialog_name(PictureFormat format) {
    QString ext = QString::fromLatin1(format_extension(format));
    ext[0] = ext[0].toUpper();
    return QStringLiteral("SavePicture") + ext;
}

QMenu* PreviewMenu::build(TForm1& form) {
    auto* menu = new QMenu(form.PaintBox1);
    menu->setObjectName(QStringLiteral("PreviewMenu"));
    const bool have_picture = form.picture_flag() != 0 && form.picture().has_value();
    for (const SaveEntry& entry : kSaveEntries) {
        QAction* action = menu->addAction(translated(entry.caption));
        action->setObjectName(QStringLiteral("save_") + QString::fromLatin1(format_extension(entry.format)));
        action->setEnabled(have_picture);
        const PictureFormat format = entry.format;
        QObject::connect(action, &QAction::triggered, &form, [&form, format] { save_picture(form, format); });
    }
    menu->addSeparator();
    QAction* copy = menu->addAction(translated(QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "画像としてコピー")));
    copy->setObjectName(QStringLiteral("copy_image"));
    copy->setEnabled(have_picture);
    QObject::connect(copy, &QAction::triggered, &form, [&form] { copy_image(form); });
    QAction* print = menu->addAction(translated(QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "印刷...")));
    print->setObjectName(QStringLiteral("print"));
    print->setEnabled(have_picture);
    QObject::connect(print, &QAction::triggered, &form, [&form] { print_with_preview(form); });
    menu->addSeparator();
    const struct {
        const char* name;
        const char* caption;
        const char* keys;
        std::function<void()> act;
    } views[] = {
        {"zoom_in", QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "拡大"), "+", [&form] { form.zoom_by(1.25); }},
        {"zoom_out", QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "縮小"), "-", [&form] { form.zoom_by(1 / 1.25); }},
        {"zoom_fit", QT_TRANSLATE_NOOP("plotmint::PreviewMenu", "全体を表示"), "0", [&form] { form.fit_view(); }},
    };
    for (const auto& v : views) {
        QAction* action = menu->addAction(translated(v.caption));
        action->setObjectName(QString::fromLatin1(v.name));
        // The keys work in the preview itself; the menu only names them.
        action->setShortcut(QKeySequence(QString::fromLatin1(v.keys)));
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setEnabled(have_picture);
        QObject::connect(action, &QAction::triggered, &form, v.act);
    }
    return menu;
}

void PreviewMenu::install(TForm1& form) {
    form.PaintBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(form.PaintBox1, &QWidget::customContextMenuRequested, &form, [&form](const QPoint& at) {
        QMenu* menu = build(form);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(form.PaintBox1->mapToGlobal(at));
    });
}

void PreviewMenu::save_picture(TForm1& form, PictureFormat format) {
    if (form.picture_flag() == 0 || !form.picture()) return;
    const SaveEntry* entry = nullptr;
    for (const SaveEntry& e : kSaveEntries)
        if (e.format == format) entry = &e;
    const QString ext = QString::fromLatin1(format_extension(format));
    const auto path = form.choose_file({dialog_name(format), true, translated(entry->filter), ext, {}});
    if (!path) return;  // a cancel writes nothing
    QString error;
    const std::string name = TForm1::file_name_bytes(*path);
    bool saved = false;
    try {
        saved = export_picture(*form.picture(), format, *path, kDefaultPngDpi, error);
    } catch (const std::bad_alloc&) {
        error = QStringLiteral("not enough memory");
    }
    if (saved)
        form.log().log_line(strformat("%s に保存しました", name.c_str()));
    else
        form.log().log_line(strformat("%s を保存できません : %s", name.c_str(), error.toUtf8().constData()));
}

void PreviewMenu::copy_image(TForm1& form) {
    if (form.picture_flag() == 0 || !form.picture()) return;
    try {
        QGuiApplication::clipboard()->setImage(render_image(*form.picture()));
    } catch (const std::bad_alloc&) {
        show_error_box(&form, error_box_text("not enough memory to copy the picture"));
        return;
    }
    form.log().log_line("画像としてクリップボードへコピーしました");
}

QRectF PreviewMenu::print_rect(const EmfPicture& picture, const QRectF& page, double dpi_x, double dpi_y) {
    // rclFrame is in hundredths of a millimetre.
    const double w = (static_cast<double>(picture.frame.right) - picture.frame.left) / 2540.0 * dpi_x;
    const double h = (static_cast<double>(picture.frame.bottom) - picture.frame.top) / 2540.0 * dpi_y;
    if (!(w > 0 && h > 0) || page.isEmpty()) return {};
    // Its own size when the page holds it, else as large as the page allows.
    const double scale = std::min({1.0, page.width() / w, page.height() / h});
    return QRectF(page.topLeft(), QSizeF(w * scale, h * scale));
}

bool PreviewMenu::print_picture(TForm1& form, QPrinter& printer) {
    if (form.picture_flag() == 0 || !form.picture()) return false;
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const QRectF target = print_rect(*form.picture(), QRectF(QPointF(0, 0), page.size()), printer.logicalDpiX(),
                                     printer.logicalDpiY());
    const bool ok = !target.isEmpty() && paint_picture(painter, *form.picture(), target);
    painter.end();
    return ok;
}

void PreviewMenu::print_with_preview(TForm1& form) {
    if (form.picture_flag() == 0 || !form.picture()) return;
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog dialog(&printer, &form);
    dialog.setObjectName(QStringLiteral("PrintPreview"));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &form,
                     [&form](QPrinter* p) { print_picture(form, *p); });
    dialog.exec();
}

bool PreviewMenu::open_table_argument(TForm1& form, const QString& file) {
    if (file.endsWith(QStringLiteral(".ktc"), Qt::CaseInsensitive)) {
        form.show_tone_table(TForm1::file_name_bytes(file));
        return true;
    }
    if (file.endsWith(QStringLiteral(".klc"), Qt::CaseInsensitive)) {
        form.show_line_color_table(TForm1::file_name_bytes(file));
        return true;
    }
    return false;
}

}  // namespace plotmint
