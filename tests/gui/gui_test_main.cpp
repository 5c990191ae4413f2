#include <QtGlobal>

#include "app/gui/application.h"
#include "gui_tests.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    plotmint::PlotmintApplication app(argc, argv);
    int failed = 0;
    failed += run_qt_canvas_tests(argc, argv);
    failed += run_picture_mime_tests(argc, argv);
    failed += run_main_window_tests(argc, argv);
    failed += run_preview_menu_tests(argc, argv);
    return failed == 0 ? 0 : 1;
}
