#pragma once
// The application object and the error box: an error that escapes an event handler is shown
// to the user and the program goes on with the next event.
#include <QApplication>
#include <QString>
#include <functional>

namespace plotmint {

inline constexpr const char* kAppTitle = "Plotmint";

// How the error box is shown; replaced by tests, which cannot answer a modal box.
using ErrorBoxHandler = std::function<void(QWidget* parent, const QString& message, const QString& caption)>;
ErrorBoxHandler set_error_box_handler(ErrorBoxHandler handler);

// A critical message box with the application's title as its caption.
void show_error_box(QWidget* parent, const QString& message);

// The text an escaped error shows: its own text followed by ".".
QString error_box_text(const char* what);

class PlotmintApplication : public QApplication {
public:
    PlotmintApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace plotmint
