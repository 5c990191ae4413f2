#pragma once
// Arbitrary bytes as the graph.emf the window shows: the checked reader, then the picture
// painted by the window's Qt canvas into an image the size of the preview box. A picture
// that reads back may still ask for absurd pens, fonts and coordinates; painting it must
// end promptly and stay inside its memory. Needs a QGuiApplication (offscreen is enough).
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <string>

#include "app/export/qt_canvas.h"
#include "metafile/emf_reader.h"

namespace plotmint::fuzz {

inline std::string preview_one(const uint8_t* data, size_t size) {
    std::string error;
    const auto picture = read_emf(std::string(reinterpret_cast<const char*>(data), size), error);
    if (!picture) return {};
    QImage image(160, 240, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    std::string why;
    if (!paint_picture(painter, *picture, QRectF(8, 8, 144, 224), &why) && why.empty())
        return "a picture that does not paint gives no reason";
    return {};
}

}  // namespace plotmint::fuzz
