#include "app/gui/preview_menu.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

#include "app/export/picture_export.h"
#include "app/gui/main_window.h"
#include "app/export/picture_mime.h"
#include "base/format.h"

namespace plotmint {

namespace {

QString u8(const char* text) { return QString::fromUtf8(text); }

struct SaveEntry {
    PictureFormat format;
    const char* caption;
    const char* filter;
};

constexpr SaveEntry kSaveEntries[] = {
    {PictureFormat::emf, "EMFとして保存...", "拡張メタファイル(*.emf)"},
    {PictureFormat::svg, "SVGとして保存...", "SVG画像(*.svg)"},
    {PictureFormat::pdf, "PDFとして保存...", "PDF文書(*.pdf)"},
    {PictureFormat::png, "PNGとして保存...", "PNG画像(*.png)"},
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
        QAction* action = menu->addAction(u8(entry.caption));
        action->setObjectName(QStringLiteral("save_") + QString::fromLatin1(format_extension(entry.format)));
        action->setEnabled(have_picture);
        const PictureFormat format = entry.format;
        QObject::connect(action, &QAction::triggered, &form, [&form, format] { save_picture(form, format); });
    }
    menu->addSeparator();
    QAction* copy = menu->addAction(u8("画像としてコピー"));
    copy->setObjectName(QStringLiteral("copy_image"));
    copy->setEnabled(have_picture);
    QObject::connect(copy, &QAction::triggered, &form, [&form] { copy_image(form); });
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
    const auto path = form.choose_file({dialog_name(format), true, u8(entry->filter), ext, {}});
    if (!path) return;  // a cancel writes nothing
    QString error;
    const std::string name = TForm1::file_name_bytes(*path);
    if (export_picture(*form.picture(), format, *path, kDefaultPngDpi, error))
        form.log().log_line(strformat("%s に保存しました", name.c_str()));
    else
        form.log().log_line(strformat("%s を保存できません : %s", name.c_str(), error.toUtf8().constData()));
}

void PreviewMenu::copy_image(TForm1& form) {
    if (form.picture_flag() == 0 || !form.picture()) return;
    QGuiApplication::clipboard()->setImage(render_image(*form.picture()));
    form.log().log_line("画像としてクリップボードへコピーしました");
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
