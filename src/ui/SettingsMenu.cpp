// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SettingsMenu.h"

#include "engine/BatchRun.h"

#include <QActionGroup>
#include <QSettings>

namespace meridane::ui {
namespace {

const QString kCoordinateFormatKey = QStringLiteral("processing/coordinateFormat");
const QString kSidecarNameKey = QStringLiteral("processing/sidecarName");

QAction* choice(QMenu& menu, QActionGroup& group, const QString& text, const char* name) {
    QAction* action = menu.addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(true);
    group.addAction(action);
    return action;
}

}  // namespace

SettingsMenu::SettingsMenu(BatchRun& run, QWidget* parent) : QMenu(QStringLiteral("&Settings"), parent), run_(run) {
    setObjectName(QStringLiteral("settingsMenu"));
    addSection(QStringLiteral("Coordinates"));
    auto* coordinates = new QActionGroup(this);
    decimal_ = choice(*this, *coordinates, QStringLiteral("&Decimal Degrees (30.58036667N)"), "decimalDegrees");
    degreesMinutes_ =
        choice(*this, *coordinates, QStringLiteral("Degrees and &Minutes (30,34.822000N)"), "degreesMinutes");
    addSection(QStringLiteral("Sidecar Names"));
    auto* names = new QActionGroup(this);
    stemName_ = choice(*this, *names, QStringLiteral("IMG_0001.&xmp"), "sidecarStemName");
    fullName_ = choice(*this, *names, QStringLiteral("IMG_0001.&HEIC.xmp"), "sidecarFullName");
    stemName_->setToolTip(QStringLiteral("A sidecar named like the photo without its extension"));
    fullName_->setToolTip(QStringLiteral("A sidecar named like the photo with its extension, as darktable and digiKam name them"));
    setToolTipsVisible(true);

    // Anything but the other choice's word keeps the default: a settings
    // file edited by hand cannot select something that does not exist.
    const QSettings settings;
    ProcessingOptionValues options = run_.options();
    options.coordinateFormat = settings.value(kCoordinateFormatKey).toString() == QStringLiteral("dm")
                                   ? CoordinateFormat::dm
                                   : CoordinateFormat::decimal;
    options.sidecarNaming = settings.value(kSidecarNameKey).toString() == QStringLiteral("full") ? SidecarNaming::full
                                                                                               : SidecarNaming::stem;
    if (options != run_.options())
        run_.setOptions(options);
    showOptions();

    for (QAction* action : {decimal_, degreesMinutes_, stemName_, fullName_})
        connect(action, &QAction::triggered, this, &SettingsMenu::choose);
    connect(&run_, &BatchRun::optionsChanged, this, &SettingsMenu::showOptions);
}

void SettingsMenu::choose() {
    ProcessingOptionValues options = run_.options();
    options.coordinateFormat = degreesMinutes_->isChecked() ? CoordinateFormat::dm : CoordinateFormat::decimal;
    options.sidecarNaming = fullName_->isChecked() ? SidecarNaming::full : SidecarNaming::stem;
    QSettings settings;
    settings.setValue(kCoordinateFormatKey,
                      options.coordinateFormat == CoordinateFormat::dm ? QStringLiteral("dm") : QStringLiteral("decimal"));
    settings.setValue(kSidecarNameKey,
                      options.sidecarNaming == SidecarNaming::full ? QStringLiteral("full") : QStringLiteral("stem"));
    if (options != run_.options())
        run_.setOptions(options);
}

void SettingsMenu::showOptions() {
    const ProcessingOptionValues& options = run_.options();
    (options.coordinateFormat == CoordinateFormat::dm ? degreesMinutes_ : decimal_)->setChecked(true);
    (options.sidecarNaming == SidecarNaming::full ? fullName_ : stemName_)->setChecked(true);
}

}  // namespace meridane::ui
