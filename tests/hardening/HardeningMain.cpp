// SPDX-License-Identifier: GPL-3.0-or-later
// Entry point of the hardening tests: as root, the process first gets its own
// mount table, before any thread exists.
#include "HardeningSupport.h"
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    meridane::hardening::enterPrivateMountNamespace();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
