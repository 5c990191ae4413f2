// The exports look fonts up, which needs an application object; the tests run under the
// same window-less one the converter makes.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "app/export/picture_export.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const auto app = plotmint::start_headless_application();
    return RUN_ALL_TESTS();
}
