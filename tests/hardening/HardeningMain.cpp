// Entry point of the hardening tests. As root it first gives the process its
// own mount table, before any thread exists, so that tests can mount small,
// full or read-only file systems that nobody else sees and that vanish with
// the process.
#include "HardeningSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    meridane::hardening::enterPrivateMountNamespace();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
