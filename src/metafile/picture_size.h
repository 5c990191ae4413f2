#pragma once
// A picture's physical size, as every format that states one (SVG, PDF, PNG) gives it.
#include "metafile/emf_reader.h"

namespace plotmint {

// The picture's physical size from its frame, in millimetres; a frame without extent falls
// back to the logical size on the reference display.
double picture_width_mm(const EmfPicture& picture);
double picture_height_mm(const EmfPicture& picture);

}  // namespace plotmint
