#include "support/temp_home.h"

#include <QApplication>
#include <gtest/gtest.h>

// Qt tests run offscreen in their own temporary HOME, with a QApplication so that
// widgets, timers and QSignalSpy work inside GoogleTest.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    perchwell::testing::TempHome home;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
