// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/HelpMenu.h"

#include "access/SidecarAccess.h"
#include "ui/AppIdentity.h"

#include <QDesktopServices>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace meridane::ui {
namespace {

constexpr int kQueryTimeoutMs = 2000;

// The helper behind QDesktopServices starts whether or not anything on the
// desktop handles the scheme, and then fails unseen: ask the desktop's
// associations first where they can be asked (not inside a sandbox, where
// the portal answers).
bool desktopHandlesScheme(const QString& scheme) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty() || folderGrantsCanGiveAccess())
        return true;
    QProcess query;
    query.setStandardErrorFile(QProcess::nullDevice());
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/") + scheme});
    if (!query.waitForFinished(kQueryTimeoutMs)) {
        query.kill();
        query.waitForFinished();
        return true;
    }
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

bool openThroughDesktop(const QString& url) {
    return desktopHandlesScheme(QUrl(url).scheme()) && QDesktopServices::openUrl(QUrl(url));
}

}  // namespace

QString aboutText() {
    return QStringLiteral(
               "<h3>Meridane %1</h3>"
               "<p>Copies each photo's own GPS position into its XMP sidecar.</p>"
               "<p>License: GPL-3.0-or-later<br>Home page: <a href=\"%2\">%2</a></p>"
               "<p>Built with Qt %3 (running on Qt %4), libxml2 %5 and zlib %6.</p>")
        .arg(QStringLiteral(MERIDANE_VERSION), homePage(), QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()),
             QStringLiteral(MERIDANE_LIBXML2_VERSION), QStringLiteral(MERIDANE_ZLIB_VERSION));
}

QString manualFallbackText() {
    return QStringLiteral("Nothing on this desktop shows manual pages. The manual is the page meridane(1), installed as "
                          "%1: read it with \u201Cman meridane\u201D in a terminal.")
        .arg(QStringLiteral(MERIDANE_MAN_PAGE));
}

bool showManual(QMainWindow& window, const UrlOpener& open) {
    if (open(QStringLiteral("man:meridane")))
        return true;
    QMessageBox box(QMessageBox::Information, QStringLiteral("Meridane Manual"), manualFallbackText(), QMessageBox::Ok,
                    &window);
    box.setObjectName(QStringLiteral("manualFallback"));
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
    return false;
}

QMenu* addHelpMenu(QMainWindow& window) {
    QMenu* help = window.menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    QAction* manual = help->addAction(QIcon::fromTheme(QStringLiteral("help-contents")), QStringLiteral("Meridane &Manual"));
    manual->setObjectName(QStringLiteral("manual"));
    manual->setShortcut(QKeySequence(Qt::Key_F1));
    QObject::connect(manual, &QAction::triggered, &window, [&window] { showManual(window, openThroughDesktop); });
    help->addSeparator();
    QAction* about = help->addAction(QIcon::fromTheme(QStringLiteral("help-about")), QStringLiteral("&About Meridane"));
    about->setObjectName(QStringLiteral("about"));
    QObject::connect(about, &QAction::triggered, &window, [&window] {
        QMessageBox::about(&window, QStringLiteral("About Meridane"), aboutText());
    });
    return help;
}

}  // namespace meridane::ui
