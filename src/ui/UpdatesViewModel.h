// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a user's update check and tells the user what it found, in a
// non-blocking message box: up to date, a newer version with its download
// page, or why the check failed.
#pragma once

#include "ui/UpdateChecker.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>

namespace meridane::ui {

struct UpdateMessage {
    QString title;
    QString text;
    QString details;  ///< release notes or the error, may be empty
};

/// The texts shown for an outcome.
UpdateMessage updateMessage(const UpdateCheckOutcome& outcome);

class UpdatesViewModel : public QObject {
    Q_OBJECT
public:
    UpdatesViewModel(UpdateChecker* checker, QWidget* dialogParent, QObject* parent = nullptr);

    UpdateChecker* checker() const { return checker_; }
    /// The message box of the last answer, while it is open.
    QMessageBox* messageBox() const { return box_; }

public Q_SLOTS:
    void checkForUpdates();

Q_SIGNALS:
    void checkingChanged(bool checking);
    void answered(const meridane::ui::UpdateCheckOutcome& outcome);

private:
    void present(const UpdateCheckOutcome& outcome);

    UpdateChecker* checker_;
    QPointer<QWidget> dialogParent_;
    QPointer<QMessageBox> box_;
};

}  // namespace meridane::ui
