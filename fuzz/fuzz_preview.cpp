// libFuzzer entry: see drivers/preview_driver.h for what the input's bytes mean.
#include <QGuiApplication>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>

#include "drivers/preview_driver.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // No display: the offscreen platform has fonts and painting, which is all we need.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Never destroyed: libFuzzer ends through exit(), after Qt's own statics are gone, and an
    // application object torn down then crashes removing the fonts it registered.
    static QGuiApplication* const app = new QGuiApplication(*argc, *argv);
    (void)app;
    // Qt's warnings about odd fonts and pens would flood the log at thousands per second.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string wrong = plotmint::fuzz::preview_one(data, size);
    if (!wrong.empty()) {
        std::fprintf(stderr, "fuzz_preview: %s\n", wrong.c_str());
        std::abort();
    }
    return 0;
}
