// The desktop program: one window, run until it is closed.
#include <QLocale>
#include <cstdio>
#include <exception>

#include "app/gui/application.h"
#include "app/gui/main_window.h"
#include "base/platform.h"

int main(int argc, char** argv) {
    plotmint::platform::install_cleanup_handlers();
    plotmint::PlotmintApplication app(argc, argv);
    try {
        QStringList args = QCoreApplication::arguments().mid(1);
        QString bad;
        const auto chosen = plotmint::take_language_option(args, &bad);
        if (!bad.isNull()) std::fprintf(stderr, "plotmint: --lang takes ja or en, not \"%s\"\n", qPrintable(bad));
        // The desktop's language for messages (LANGUAGE, LC_MESSAGES, LANG), not its number format.
        const QStringList ui = QLocale::system().uiLanguages();
        const QLocale desktop = ui.isEmpty() ? QLocale::system() : QLocale(ui.front());
        plotmint::install_translations(chosen.value_or(plotmint::language_for_locale(desktop)));
        plotmint::TForm1::Options options;
        options.arguments = args;
        plotmint::TForm1 form(options);
        form.show();
        app.exec();
    } catch (const std::exception& e) {
        plotmint::show_error_box(nullptr, plotmint::error_box_text(e.what()));
        return 1;
    }
    return 0;
}
