#pragma once
// What plotmint-convert and its Qt module (plotmint-convert-qt) say to each other. The
// converter loads the module only to write a PDF or a PNG, so a run for EMF or SVG, or for
// --help, starts without loading Qt's libraries. No Qt here: both sides include this.
//
// The module is built with the converter from the same sources and is no interface for
// others; the picture crosses as the converter's own EmfPicture, which saves copying its
// bytes (a large picture would otherwise be held twice). The build stamp makes sure a module
// of another build, whose EmfPicture might be laid out otherwise, is refused, not called.
#include <cstddef>
#include <cstdint>

#include "metafile/emf_reader.h"

#ifndef PLOTMINT_VERSION
#define PLOTMINT_VERSION "dev"
#endif

namespace plotmint {

// Raised whenever what crosses below changes.
#define PLOTMINT_QT_MODULE_REVISION "1"
// Version, revision and the compiler (whose library lays out std::string) must all agree.
inline constexpr const char* kQtModuleStamp =
    "plotmint " PLOTMINT_VERSION ", module revision " PLOTMINT_QT_MODULE_REVISION ", " __VERSION__;

extern "C" {

// One PDF or PNG to write. `format` is a PictureFormat (pdf or png); `output` the path as
// the system takes it. The PNG size is as PngSizing has it: `dpi`, or else a box.
struct PlotmintQtWrite {
    uint32_t struct_size;       // sizeof(PlotmintQtWrite), checked
    uint32_t picture_size;      // sizeof(EmfPicture), checked
    const plotmint::EmfPicture* picture;
    int format;
    const char* output;
    int dpi, width, height;
};

enum PlotmintQtStatus : int {
    plotmint_qt_written = 0,
    plotmint_qt_failed = 1,         // *error says why
    plotmint_qt_out_of_memory = 2,  // std::bad_alloc, caught before it left the module
};

// The module's build stamp: kQtModuleStamp as the module was built.
using PlotmintQtStampFn = const char* (*)();
// Starts the window-less application on first use, then writes the picture whole or not at
// all. *error stays valid until the next call.
using PlotmintQtWriteFn = int (*)(const PlotmintQtWrite* request, const char** error);
// Ends the application, if one was started; the module stays loaded.
using PlotmintQtFinishFn = void (*)();

}  // extern "C"

inline constexpr const char* kQtStampSymbol = "plotmint_qt_stamp";
inline constexpr const char* kQtWriteSymbol = "plotmint_qt_write";
inline constexpr const char* kQtFinishSymbol = "plotmint_qt_finish";

}  // namespace plotmint
