#include "metafile/picture_size.h"

#include <algorithm>

namespace plotmint {

namespace {

double logical_extent(int32_t from, int32_t to) { return std::max(1.0, static_cast<double>(to) - from); }

}  // namespace

double picture_width_mm(const EmfPicture& picture) {
    const double w = (static_cast<double>(picture.frame.right) - picture.frame.left) / 100.0;
    if (w > 0) return w;
    const Rect f = picture.logical_frame();
    const double per_px =
        picture.display.horz_px > 0 ? static_cast<double>(picture.display.horz_mm) / picture.display.horz_px : 0.25;
    return logical_extent(f.left, f.right) * per_px;
}

double picture_height_mm(const EmfPicture& picture) {
    const double h = (static_cast<double>(picture.frame.bottom) - picture.frame.top) / 100.0;
    if (h > 0) return h;
    const Rect f = picture.logical_frame();
    const double per_px =
        picture.display.vert_px > 0 ? static_cast<double>(picture.display.vert_mm) / picture.display.vert_px : 0.25;
    return logical_extent(f.top, f.bottom) * per_px;
}

}  // namespace plotmint
