// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiTestSupport.h"

#include <QApplication>
#include <QLocale>
#include <QTest>

namespace meridane::testing {

FakeRun::FakeRun(BatchRun* other) : run_(other ? *other : ownRun_) {
    run_.setFileProcessor([held = held_, started = started_](const std::filesystem::path& file, FolderAccessPrompt*) {
        const std::string name = file.filename().native();
        ++*started;
        if (name.starts_with("hold"))
            held->wait();
        if (name.starts_with("failed"))
            return ProcessingResult::failed("boom");
        if (name.starts_with("correct"))
            return ProcessingResult::alreadyCorrect();
        if (name.starts_with("long"))
            return ProcessingResult::failed(std::string(40, 'x') + std::string(30, ' ') + std::string(300, 'y'));
        return ProcessingResult::updated({"a", "b"}, processingOptions::current().dryRun);
    });
}

bool waitForRunToFinish(BatchRun& run, int timeoutMs) {
    const bool finished = QTest::qWaitFor([&run] { return !run.isProcessing(); }, timeoutMs);
    QCoreApplication::processEvents();  // the list takes in its last rows
    return finished;
}

}  // namespace meridane::testing

// The window tests run headless, on the offscreen platform.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("MeridaneTests"));
    // Counts and times follow the locale; the tests that check that set one.
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
