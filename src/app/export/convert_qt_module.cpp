// plotmint-convert-qt: the converter's PDF and PNG writing, with the window-less Qt
// application they need for fonts, in a module the converter loads on its first such picture.
#include <QFile>
#include <QGuiApplication>
#include <QString>

#include <clocale>
#include <memory>
#include <new>
#include <string>

#include "app/export/convert_qt_module.h"
#include "app/export/picture_export.h"
#include "app/export/picture_format.h"

namespace {

std::unique_ptr<QGuiApplication> app;
bool app_started = false;
std::string last_error;

}  // namespace

#define PLOTMINT_QT_EXPORT extern "C" __attribute__((visibility("default")))

PLOTMINT_QT_EXPORT const char* plotmint_qt_stamp() { return plotmint::kQtModuleStamp; }

// Not noexcept: anything but running out of memory passes on to the converter as it did
// when this code was linked into it. Qt's writers also throw std::bad_alloc through frames
// that cannot pass it on; the runtime then calls the converter's terminate handler, which
// is the process's, whichever module the throw came from.
PLOTMINT_QT_EXPORT int plotmint_qt_write(const plotmint::PlotmintQtWrite* request, const char** error) {
    using namespace plotmint;
    if (request->struct_size != sizeof(PlotmintQtWrite) || request->picture_size != sizeof(EmfPicture)) {
        last_error = "the converter and its Qt module are of different builds";
        *error = last_error.c_str();
        return plotmint_qt_failed;
    }
    try {
        if (!app_started) {
            app_started = true;
            app = start_headless_application();
            // Qt takes the user's locale; the core's messages keep the C conventions.
            std::setlocale(LC_NUMERIC, "C");
        }
        const PictureFormat format = static_cast<PictureFormat>(request->format);
        const PngSizing sizing = request->dpi ? PngSizing::at_dpi(request->dpi)
                                              : PngSizing::fit(request->width, request->height);
        QString reason;
        if (export_picture(*request->picture, format, QFile::decodeName(request->output), sizing, reason))
            return plotmint_qt_written;
        last_error = reason.toLocal8Bit().toStdString();
    } catch (const std::bad_alloc&) {
        return plotmint_qt_out_of_memory;
    }
    *error = last_error.c_str();
    return plotmint_qt_failed;
}

PLOTMINT_QT_EXPORT void plotmint_qt_finish() { app.reset(); }
