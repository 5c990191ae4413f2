#pragma once
// The preview's context menu: save the picture as EMF, SVG, PDF or PNG, or copy it as an
// image. Kept apart from the window's layout, which stays as it is.
#include <QRectF>
#include <QString>

#include "app/export/picture_format.h"
#include "metafile/emf_reader.h"

class QMenu;
class QPrinter;

namespace plotmint {

class TForm1;

class PreviewMenu {
public:
    // Gives PaintBox1 the menu on a right click (or the menu key).
    static void install(TForm1& form);

    // The menu as it would open now: save entries in the order EMF, SVG, PDF, PNG, then the
    // copy, the print and the preview's zoom; all disabled until a picture has been drawn.
    // The caller owns it.
    static QMenu* build(TForm1& form);

    // What the entries do.
    static void save_picture(TForm1& form, PictureFormat format);
    static void copy_image(TForm1& form);
    // Prints through a print preview, where the printer and the page are chosen.
    static void print_with_preview(TForm1& form);
    // Prints the picture on `printer`'s page: at its own size when it fits the printable
    // area, else scaled down to fit it. False when there is no picture or nothing was printed.
    static bool print_picture(TForm1& form, QPrinter& printer);
    // Where print_picture puts the picture on a printable area `page` (device pixels).
    static QRectF print_rect(const EmfPicture& picture, const QRectF& page, double dpi_x, double dpi_y);

    // The file chooser's name for each format (the window's test seam tells them apart).
    static QString dialog_name(PictureFormat format);

    // A table given as the program's one argument (a file manager opens .ktc and .klc files
    // with Plotmint) is loaded into its grid instead of being drawn. Returns false for any
    // other file, which is drawn as usual.
    static bool open_table_argument(TForm1& form, const QString& file);
};

}  // namespace plotmint
