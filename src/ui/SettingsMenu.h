// SPDX-License-Identifier: GPL-3.0-or-later
// The "Settings" menu: the form coordinates are written in and how a photo's
// sidecar is named, each a choice of two, remembered between sessions.
#pragma once

#include <QMenu>

class QAction;

namespace meridane {
class BatchRun;
}

namespace meridane::ui {

class SettingsMenu : public QMenu {
    Q_OBJECT
public:
    /// Applies the remembered choices to the run's options at once.
    SettingsMenu(BatchRun& run, QWidget* parent);

private:
    void choose();
    void showOptions();

    BatchRun& run_;
    QAction* decimal_;
    QAction* degreesMinutes_;
    QAction* stemName_;
    QAction* fullName_;
};

}  // namespace meridane::ui
