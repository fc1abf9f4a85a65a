// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UpdatesViewModel.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

namespace meridane::ui {

UpdateMessage updateMessage(const UpdateCheckOutcome& outcome) {
    switch (outcome.kind) {
    case UpdateCheckOutcome::Kind::upToDate:
        return {QStringLiteral("You\u2019re up to date"),
                QStringLiteral("Meridane %1 is the newest version available.").arg(outcome.currentVersion),
                {}};
    case UpdateCheckOutcome::Kind::updateAvailable:
        return {QStringLiteral("A new version of Meridane is available"),
                QStringLiteral("Meridane %1 is available \u2014 you have %2. Would you like to open its download page?")
                    .arg(outcome.latest.version, outcome.currentVersion),
                outcome.latest.notes};
    case UpdateCheckOutcome::Kind::noFeed:
        return {QStringLiteral("Check for Updates"),
                QStringLiteral("This build has no update feed. Updates come with your package manager."), {}};
    case UpdateCheckOutcome::Kind::failed:
        break;
    }
    return {QStringLiteral("Update check failed"),
            QStringLiteral("Meridane could not check for updates. %1").arg(outcome.error), {}};
}

UpdatesViewModel::UpdatesViewModel(UpdateChecker* checker, QWidget* dialogParent, QObject* parent)
    : QObject(parent), checker_(checker), dialogParent_(dialogParent) {
    connect(checker_, &UpdateChecker::finished, this, [this](const UpdateCheckOutcome& outcome) {
        Q_EMIT checkingChanged(false);
        present(outcome);
        Q_EMIT answered(outcome);
    });
}

void UpdatesViewModel::checkForUpdates() {
    if (checker_->isChecking())
        return;
    checker_->check();
    Q_EMIT checkingChanged(true);
}

void UpdatesViewModel::present(const UpdateCheckOutcome& outcome) {
    if (box_)
        box_->close();
    const UpdateMessage message = updateMessage(outcome);
    auto* box = new QMessageBox(dialogParent_);
    box->setObjectName(QStringLiteral("updateMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(message.title);
    if (outcome.kind == UpdateCheckOutcome::Kind::noFeed) {
        box->setText(message.text);
    } else {
        box->setText(message.title);
        box->setInformativeText(message.text);
    }
    if (!message.details.isEmpty())
        box->setDetailedText(message.details);
    if (outcome.kind == UpdateCheckOutcome::Kind::updateAvailable) {
        box->setIcon(QMessageBox::Information);
        QPushButton* download = box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
        const QUrl url = outcome.latest.url;
        connect(download, &QPushButton::clicked, box, [url] { QDesktopServices::openUrl(url); });
    } else {
        box->setIcon(outcome.kind == UpdateCheckOutcome::Kind::failed ? QMessageBox::Warning : QMessageBox::Information);
        box->addButton(QMessageBox::Ok);
    }
    box_ = box;
    // Window-modal and shown with open(): the run and the list carry on.
    box->open();
}

}  // namespace meridane::ui
