#include "app/gui/application.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <exception>
#include <memory>

namespace plotmint {

namespace {

ErrorBoxHandler& error_box_handler() {
    static ErrorBoxHandler handler;
    return handler;
}

struct Translators {
    std::unique_ptr<QTranslator> window, qt;
};

Translators& translators() {
    static Translators t;
    return t;
}

std::optional<UiLanguage> language_named(const QString& name) {
    if (name == QLatin1String("ja")) return UiLanguage::japanese;
    if (name == QLatin1String("en")) return UiLanguage::english;
    return std::nullopt;
}

}  // namespace

UiLanguage language_for_locale(const QLocale& locale) {
    return locale.language() == QLocale::Japanese ? UiLanguage::japanese : UiLanguage::english;
}

std::optional<UiLanguage> take_language_option(QStringList& args, QString* bad_value) {
    std::optional<UiLanguage> chosen;
    for (qsizetype i = 0; i < args.size();) {
        QString value;
        if (args[i] == QLatin1String("--lang")) {
            value = i + 1 < args.size() ? args[i + 1] : QString();
            args.remove(i, std::min<qsizetype>(2, args.size() - i));
        } else if (args[i].startsWith(QLatin1String("--lang="))) {
            value = args[i].mid(7);
            args.remove(i);
        } else {
            ++i;
            continue;
        }
        chosen = language_named(value);
        if (!chosen && bad_value) *bad_value = value;
    }
    return chosen;
}

void remove_translations() {
    Translators& t = translators();
    for (auto* slot : {&t.window, &t.qt}) {
        if (*slot) QCoreApplication::removeTranslator(slot->get());
        slot->reset();
    }
}

bool install_translations(UiLanguage language) {
    remove_translations();
    Translators& t = translators();
    bool complete = true;
    auto load = [&complete](std::unique_ptr<QTranslator>& slot, const QString& name, const QString& dir) {
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(name, dir)) {
            complete = false;
            return;
        }
        QCoreApplication::installTranslator(translator.get());
        slot = std::move(translator);
    };
    const QString qt_dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (language == UiLanguage::english) {
        // Qt's own texts are English already.
        load(t.window, QStringLiteral("plotmint_en"), QStringLiteral(":/i18n"));
    } else {
        // The window's texts are Japanese already; Qt's dialogs need its catalogue.
        load(t.qt, QStringLiteral("qtbase_ja"), qt_dir);
    }
    return complete;
}

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
