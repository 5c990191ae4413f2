#pragma once
// The picture as other programs take it from the clipboard: the metafile's own bytes, plus
// SVG and PNG renderings played from those same bytes for programs that read no EMF.
#include <QByteArray>
#include <QImage>
#include <QMimeData>
#include <QSize>
#include <memory>

#include "metafile/emf_reader.h"

namespace plotmint {

inline constexpr const char* kEmfMime = "image/x-emf";
// The name under which office suites on X11 and Wayland look for an enhanced metafile.
inline constexpr const char* kOfficeEmfMime = "application/x-openoffice-emf;windows_formatname=\"Image EMF\"";
inline constexpr const char* kSvgMime = "image/svg+xml";
inline constexpr const char* kPngMime = "image/png";

// The image size for a picture: its logical frame, reduced so that the longer side is at
// most `max_side` pixels.
QSize raster_size(const EmfPicture& picture, int max_side = 2048);

QByteArray render_svg(const EmfPicture& picture);
QImage render_image(const EmfPicture& picture, int max_side = 2048);
QByteArray render_png(const EmfPicture& picture, int max_side = 2048);

std::unique_ptr<QMimeData> picture_mime_data(const EmfPicture& picture);

}  // namespace plotmint
