// The desktop program: one window, run until it is closed.
#include <exception>

#include "app/gui/application.h"
#include "app/gui/main_window.h"
#include "base/platform.h"

int main(int argc, char** argv) {
    plotmint::platform::install_cleanup_handlers();
    plotmint::PlotmintApplication app(argc, argv);
    try {
        plotmint::TForm1 form;
        form.show();
        app.exec();
    } catch (const std::exception& e) {
        plotmint::show_error_box(nullptr, plotmint::error_box_text(e.what()));
        return 1;
    }
    return 0;
}
