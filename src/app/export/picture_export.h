#pragma once
// The picture in the formats other programs read: the metafile's own bytes, or SVG, PDF and
// PNG played back from those bytes (PDF and PNG through the same canvas the preview uses,
// SVG through the core's SVG writer, which places text the same way).
#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

#include "app/export/picture_format.h"
#include "metafile/emf_reader.h"
#include "metafile/picture_size.h"

class QGuiApplication;

namespace plotmint {

// The PNG size at `dpi` dots per inch of the picture's physical size, or as `sizing` asks
// (see PngSizing; a fitted size keeps the aspect of the picture's logical frame). nullopt
// when a side would be beyond kMaxPngSide pixels, or nothing sensible was asked.
struct PixelSize {
    int width = 0, height = 0;
};
std::optional<PixelSize> png_size(const EmfPicture& picture, int dpi);
std::optional<PixelSize> png_size(const EmfPicture& picture, const PngSizing& sizing);

// Each writes `path` whole or not at all (an existing file is replaced only on success) and
// returns false with the cause in `error`. PDF and PNG need a QGuiApplication for fonts.
bool export_emf(const EmfPicture& picture, const QString& path, QString& error);
bool export_svg(const EmfPicture& picture, const QString& path, QString& error);
bool export_pdf(const EmfPicture& picture, const QString& path, QString& error);
// The PNG records its resolution, so it prints at the picture's physical size. `band_rows`
// is how many rows are drawn at a time; 0 takes as many as kPngBandBytes holds.
bool export_png(const EmfPicture& picture, const QString& path, int dpi, QString& error);
bool export_png(const EmfPicture& picture, const QString& path, const PngSizing& sizing, QString& error,
                int band_rows = 0);
bool export_picture(const EmfPicture& picture, PictureFormat format, const QString& path, int dpi,
                    QString& error);
bool export_picture(const EmfPicture& picture, PictureFormat format, const QString& path, const PngSizing& sizing,
                    QString& error);

// A window-less application for programs without one, so fonts can be looked up. Uses the
// offscreen platform unless QT_QPA_PLATFORM names another, so no display is needed; Qt's own
// warnings are kept off standard error, which belongs to the message log. Returns null when an
// application object exists already.
std::unique_ptr<QGuiApplication> start_headless_application();

}  // namespace plotmint
