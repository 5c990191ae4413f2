#include "app/gui/application.h"

#include <QMessageBox>
#include <exception>

namespace plotmint {

namespace {

ErrorBoxHandler& error_box_handler() {
    static ErrorBoxHandler handler;
    return handler;
}

}  // namespace

ErrorBoxHandler set_error_box_handler(ErrorBoxHandler handler) {
    ErrorBoxHandler old = std::move(error_box_handler());
    error_box_handler() = std::move(handler);
    return old;
}

void show_error_box(QWidget* parent, const QString& message) {
    const QString caption = QString::fromUtf8(kAppTitle);
    if (const ErrorBoxHandler& handler = error_box_handler()) {
        handler(parent, message, caption);
        return;
    }
    QMessageBox::critical(parent, caption, message);
}

QString error_box_text(const char* what) { return QString::fromUtf8(what ? what : "") + QLatin1Char('.'); }

PlotmintApplication::PlotmintApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("plotmint"));
    setApplicationDisplayName(QString::fromUtf8(kAppTitle));
}

bool PlotmintApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        show_error_box(activeWindow(), error_box_text(e.what()));
    } catch (...) {
        show_error_box(activeWindow(), error_box_text("unknown error"));
    }
    return false;
}

}  // namespace plotmint
