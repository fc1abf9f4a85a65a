// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry point: a QCoreApplication, as in the real programs, which also
// adopts the locale of the environment (LC_ALL=de_DE.UTF-8 in the locale runs).
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
