#pragma once
// The application object and the error box: an error that escapes an event handler is shown
// to the user and the program goes on with the next event.
#include <QApplication>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace plotmint {

inline constexpr const char* kAppTitle = "Plotmint";

// How the error box is shown; replaced by tests, which cannot answer a modal box.
using ErrorBoxHandler = std::function<void(QWidget* parent, const QString& message, const QString& caption)>;
ErrorBoxHandler set_error_box_handler(ErrorBoxHandler handler);

// A critical message box with the application's title as its caption.
void show_error_box(QWidget* parent, const QString& message);

// The text an escaped error shows: its own text followed by ".".
QString error_box_text(const char* what);

// The languages the window speaks. Japanese is the source text of every caption; English
// comes from the catalogue built into the program.
enum class UiLanguage { japanese, english };

// Japanese on a Japanese desktop, English on any other.
UiLanguage language_for_locale(const QLocale& locale);

// Takes "--lang ja", "--lang en" or "--lang=xx" out of `args`, so that what is left is the
// graph-file argument handling's own. Returns the language named, nullopt when there was no
// such option or its value is not one of ours (`bad_value` then holds what was given).
std::optional<UiLanguage> take_language_option(QStringList& args, QString* bad_value = nullptr);

// Puts the window's catalogue and Qt's own (dialog buttons and captions) for `language` in
// place of any installed before. Returns false when a catalogue the language needs is
// missing; what could be loaded stays installed.
bool install_translations(UiLanguage language);
// Removes what install_translations put in place: the source texts show again.
void remove_translations();

class PlotmintApplication : public QApplication {
public:
    PlotmintApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace plotmint
