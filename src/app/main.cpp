// SPDX-License-Identifier: GPL-3.0-or-later
// Entry point of the windowed program: one window, and a run on the paths
// given on the command line as if they had been dropped on it.
#include "base/Diagnostics.h"
#include "engine/BatchRun.h"
#include "ui/AppIdentity.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/PathText.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
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

// Paths handed over by a later start: run at once, or when the run under
// way ends; the window comes to the front either way.
void openHandedPaths(meridane::ui::MainWindow& window, const std::vector<std::filesystem::path>& paths,
                     const QString& token) {
    if (!token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    window.show();
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.raise();
    window.activateWindow();
    if (paths.empty())
        return;
    if (!window.run().isProcessing()) {
        window.content()->handleDrop(paths);
        return;
    }
    auto* waiting = new QObject(&window);
    auto startWhenIdle = [&window, paths, waiting] {
        if (window.run().isProcessing())
            return;
        waiting->deleteLater();
        window.content()->handleDrop(paths);
    };
    QObject::connect(&window.run(), &meridane::BatchRun::runFinished, waiting, startWhenIdle, Qt::QueuedConnection);
    QObject::connect(&window.run(), &meridane::BatchRun::collectingFinished, waiting, startWhenIdle,
                     Qt::QueuedConnection);
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

    // The paths as the bytes given: a Latin-1 name has no exact text form.
    // QApplication has taken its own options out of argv already.
    const std::vector<std::filesystem::path> paths =
        meridane::ui::pathArguments(argc, argv, {"--screenshot"});

    // One window per session: a window already open takes the paths. A
    // screenshot is always taken by a window of its own.
    meridane::ui::SingleInstance instance(QDBusConnection::sessionBus());
    meridane::ui::MainWindow* shown = nullptr;
    const bool primary = !parser.isSet(screenshotOption) &&
                         instance.registerAsPrimary([&shown](const auto& handed, const QString& token) {
                             if (shown)
                                 openHandedPaths(*shown, handed, token);
                         });
    if (!primary && !parser.isSet(screenshotOption) && QDBusConnection::sessionBus().isConnected() &&
        instance.handOff(paths))
        return 0;

    meridane::ui::MainWindow window;
    shown = &window;
    window.show();
    if (!paths.empty())
        window.content()->handleDrop(paths);
    if (parser.isSet(screenshotOption))
        screenshotWhenIdle(window, parser.value(screenshotOption));

    return QApplication::exec();
}
