// SPDX-License-Identifier: GPL-3.0-or-later
// Entry point of the windowed program: one window, and a run on the paths
// given on the command line as if they had been dropped on it.
#include "base/Diagnostics.h"
#include "engine/BatchRun.h"
#include "ui/AppIdentity.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/PathText.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

// Saves a picture of the window once the run on the given paths is over,
// then quits; used to make the screenshots of the documentation.
void screenshotWhenIdle(meridane::ui::MainWindow& window, const QString& file) {
    auto take = [&window, file] {
        // Give the list a moment to take in the last rows and repaint.
        QTimer::singleShot(500, &window, [&window, file] {
            const bool saved = window.grab().save(file, "PNG");
            if (!saved)
                std::fprintf(stderr, "meridane: could not save the screenshot to %s\n", qPrintable(file));
            QApplication::exit(saved ? 0 : 1);
        });
    };
    if (!window.run().isProcessing()) {
        take();
        return;
    }
    // A search that finds no media file ends the run without runFinished.
    auto takeWhenIdle = [&window, take] {
        if (!window.run().isProcessing())
            take();
    };
    QObject::connect(&window.run(), &meridane::BatchRun::collectingFinished, &window, takeWhenIdle);
    QObject::connect(&window.run(), &meridane::BatchRun::runFinished, &window, takeWhenIdle);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Meridane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Meridane"));
    // The organisation domain and name give the application id
    // org.meridane.Meridane; on Linux the settings stay in Meridane/Meridane.
    QApplication::setOrganizationName(QStringLiteral("Meridane"));
    QApplication::setOrganizationDomain(QStringLiteral("meridane.org"));
    QApplication::setApplicationVersion(QStringLiteral(MERIDANE_VERSION));
    QApplication::setDesktopFileName(meridane::ui::applicationId());
    QApplication::setWindowIcon(
        QIcon::fromTheme(meridane::ui::applicationId(), QIcon(QStringLiteral(":/meridane/meridane.svg"))));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Copies each photo's own GPS position into its XMP sidecar."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"), QStringLiteral("Save a PNG of the window after the run, then quit."),
        QStringLiteral("file"));
    parser.addOption(screenshotOption);
    const QCommandLineOption debugOption(QStringLiteral("debug"), QStringLiteral("Write \"[DEBUG]\" lines to standard output."));
    parser.addOption(debugOption);
    parser.addPositionalArgument(QStringLiteral("paths"), QStringLiteral("Files and folders to process, as if dropped."),
                                 QStringLiteral("[PATH...]"));
    parser.process(app);
    // Started from a menu, standard output is the session's journal: the
    // lines of every decision go there only when asked for.
    if (!parser.isSet(debugOption) && qEnvironmentVariable("MERIDANE_DEBUG") != QLatin1String("1"))
        meridane::diag::setSink(meridane::diag::discard);

    meridane::ui::MainWindow window;
    window.show();

    // The paths as the bytes given: a Latin-1 name has no exact text form.
    // QApplication has taken its own options out of argv already.
    const std::vector<std::filesystem::path> paths =
        meridane::ui::pathArguments(argc, argv, {"--screenshot"});
    if (!paths.empty())
        window.content()->handleDrop(paths);
    if (parser.isSet(screenshotOption))
        screenshotWhenIdle(window, parser.value(screenshotOption));

    return QApplication::exec();
}
